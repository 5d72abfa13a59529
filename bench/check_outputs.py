#!/usr/bin/env python3
"""Checks unpak's WAV files against mpg123's decoding of the same MP3 files.

Usage: check_outputs.py UNPAK_DIR MPG123_DIR DELAY_FRAMES

For every WAV file in MPG123_DIR (decoded without gapless trimming), the file
of the same name in UNPAK_DIR must hold the same audio with DELAY_FRAMES
sample frames cut from the front, shorter by at most the encoder's end
padding (under two MPEG frames of 1152 sample frames). Prints one line per problem and a summary; exits 1 on any problem.
"""

import os
import struct
import sys

MAX_SHORTFALL_FRAMES = 2 * 1152


def read_wav(path):
    """(block align, PCM bytes) of a RIFF WAVE file's "fmt " and "data" chunks."""
    with open(path, "rb") as f:
        data = f.read()
    if data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a RIFF WAVE file")
    pos, block_align, pcm = 12, None, None
    while pos + 8 <= len(data):
        chunk_id, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        body = data[pos + 8:pos + 8 + size]
        if chunk_id == b"fmt ":
            block_align = struct.unpack_from("<H", body, 12)[0]
        elif chunk_id == b"data":
            pcm = body
        pos += 8 + size + (size & 1)
    if block_align is None or pcm is None:
        raise ValueError('no "fmt " or "data" chunk')
    return block_align, pcm


def check(unpak_path, mpg123_path, delay_frames):
    """A problem description, or None when the files agree."""
    if not os.path.exists(unpak_path):
        return "missing"
    try:
        align, got = read_wav(unpak_path)
        _, reference = read_wav(mpg123_path)
    except (ValueError, struct.error) as error:
        return str(error)
    expected = reference[delay_frames * align:]
    if len(got) > len(expected) or len(got) < len(expected) - MAX_SHORTFALL_FRAMES * align:
        return f"{len(got)} data bytes, expected {len(expected)}"
    if got != expected[:len(got)]:
        return "audio differs from mpg123's"
    return None


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    unpak_dir, mpg123_dir, delay_frames = sys.argv[1], sys.argv[2], int(sys.argv[3])
    names = sorted(n for n in os.listdir(mpg123_dir) if n.endswith(".wav"))
    problems = 0
    for name in names:
        problem = check(os.path.join(unpak_dir, name), os.path.join(mpg123_dir, name), delay_frames)
        if problem:
            print(f"  {name}: {problem}")
            problems += 1
    print(f"  {len(names) - problems} of {len(names)} outputs match mpg123's audio")
    sys.exit(1 if problems or not names else 0)


if __name__ == "__main__":
    main()
