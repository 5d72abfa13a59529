#!/usr/bin/env bash
# Benchmarks pak mount on the corpus of bench/run.sh: the time to the first
# byte of the last entry through a fresh mount against pak extract -O of that
# entry, and cat of every file through a fresh mount against unpak of the
# archive; and the last bytes of long.pak's one long entry through a fresh
# mount against pak extract -O of it.
#
# Usage: bench/mount.sh [BUILD_DIR]    (REPS=N as for bench/run.sh)
set -euo pipefail
source "$(dirname "$0")/run.sh"

CAT_TARGET=1.20     # cat of every file through the mount: wall time at most this times unpak's
FIRST_BYTE_TARGET=1.20  # first byte of the last entry: at most this times pak extract -O of it
FAR_READ_TARGET=0.25    # the end of the long entry: at most this times pak extract -O of it

MOUNT_POINT=$WORK/mnt

MOUNTED_ARCHIVE=$WORK/music.pak
mount_archive() { "$BUILD/bin/pak" mount "$MOUNTED_ARCHIVE" "$MOUNT_POINT" 2>/dev/null; }
unmount_archive() {
  "$BUILD/bin/pak" unmount "$MOUNT_POINT"
  # The server leaves once the kernel lets it go.
  while pgrep -f "pak mount $MOUNTED_ARCHIVE" >/dev/null; do sleep 0.01; done
}

first_byte_through_mount() { head -c1 "$MOUNT_POINT/$LAST_FILE" >/dev/null; }
extract_last() { "$BUILD/bin/pak" extract -O "$WORK/music.pak" "$LAST_ENTRY" 2>/dev/null; }
cat_every_file() { find "$MOUNT_POINT" -type f -print0 | sort -z | xargs -0 cat; }
run_unpak_fresh() { fresh_dir "$WORK/out-unpak" && run_unpak; }
end_of_long_entry() { tail -c 65536 "$MOUNT_POINT/long.wav" >/dev/null; }
extract_long() { "$BUILD/bin/pak" extract -O "$WORK/long.pak" long.wav 2>/dev/null; }

# Times `through_mount` on a fresh mount against `direct`, alternating so
# that the machine's load weighs on both alike, with one uncounted warm-up
# pass; sets MOUNTED and DIRECT to the medians of their wall times.
time_pair() {
  local through_mount=$1 direct=$2 mounted=() directs=() rep wall cpu
  for ((rep = 0; rep <= REPS; rep++)); do
    mount_archive
    read -r wall cpu < <(seconds "$through_mount") || { unmount_archive; return 1; }
    unmount_archive
    mounted+=("$wall")
    read -r wall cpu < <(seconds "$direct") || return 1
    directs+=("$wall")
  done
  MOUNTED=$(median "${mounted[@]:1}")
  DIRECT=$(median "${directs[@]:1}")
}

mount_main() {
  build
  prepare_corpus
  mkdir -p "$MOUNT_POINT"
  LAST_ENTRY=$("$BUILD/bin/pak" list --json "$WORK/music.pak" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["entries"][-1]["path"])')
  LAST_FILE=${LAST_ENTRY//\\//}
  cat "$WORK/music.pak" >/dev/null
  log "cores usable: $(nproc), load: $(cut -d' ' -f1-3 /proc/loadavg)"
  FAILED=0
  time_pair first_byte_through_mount extract_last
  report_ratio first "$(ratio "$MOUNTED" "$DIRECT")" "$FIRST_BYTE_TARGET" \
    "first byte of $LAST_ENTRY through a fresh mount ${MOUNTED}s, pak extract -O ${DIRECT}s"
  time_pair cat_every_file run_unpak_fresh
  report_ratio cat "$(ratio "$MOUNTED" "$DIRECT")" "$CAT_TARGET" \
    "cat of every file through a fresh mount ${MOUNTED}s, unpak ${DIRECT}s"
  MOUNTED_ARCHIVE=$WORK/long.pak
  time_pair end_of_long_entry extract_long
  report_ratio far "$(ratio "$MOUNTED" "$DIRECT")" "$FAR_READ_TARGET" \
    "the last 64 KiB of long.pak's entry through a fresh mount ${MOUNTED}s, pak extract -O ${DIRECT}s"
  rm -rf "$WORK/out-unpak"
  return "$FAILED"
}

mount_main
