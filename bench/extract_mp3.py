#!/usr/bin/env python3
"""Writes the MP3 stream of every entry of an archive to its own file.

Usage: extract_mp3.py ARCHIVE OUT_DIR

Each entry's "data" chunk goes to OUT_DIR/NAME.mp3, NAME being the entry's
file name without ".wav". Prints the entries' codec delay (nCodecDelay, in
sample frames); exits 1 when the entries state different ones.
"""

import os
import struct
import sys


def chunks(payload):
    """(id, contents) of the chunks of a RIFF form."""
    pos = 12
    while pos + 8 <= len(payload):
        chunk_id, size = payload[pos:pos + 4], struct.unpack_from("<I", payload, pos + 4)[0]
        yield chunk_id, payload[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    archive, out_dir = sys.argv[1], sys.argv[2]
    with open(archive, "rb") as f:
        pak = f.read()
    count, table, names = struct.unpack_from("<III", pak, 4)
    delays = set()
    for index in range(count):
        offset, name_offset, size = struct.unpack_from("<III", pak, table + 34 * index)
        name = pak[names + name_offset:pak.index(b"\0", names + name_offset)].decode()
        parts = dict(chunks(pak[offset:offset + size]))
        delays.add(struct.unpack_from("<H", parts[b"fmt "], 28)[0])
        stem = name.split("\\")[-1].rsplit(".", 1)[0]
        with open(os.path.join(out_dir, stem + ".mp3"), "wb") as f:
            f.write(parts[b"data"])
    if len(delays) != 1:
        sys.exit(f"the entries state {len(delays)} codec delays: {sorted(delays)}")
    print(delays.pop())


if __name__ == "__main__":
    main()
