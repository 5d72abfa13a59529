#!/usr/bin/env bash
# Benchmarks pak mount on the corpus of bench/run.sh: the time to the first
# byte of the last entry through a fresh mount against pak extract -O of that
# entry, and cat of every file through a fresh mount against unpak of the
# archive.
#
# Usage: bench/mount.sh [BUILD_DIR]    (REPS=N as for bench/run.sh)
set -euo pipefail
source "$(dirname "$0")/run.sh"

CAT_TARGET=1.20     # cat of every file through the mount: wall time at most this times unpak's
FIRST_BYTE_TARGET=1.20  # first byte of the last entry: at most this times pak extract -O of it

MOUNT_POINT=$WORK/mnt

mount_archive() { "$BUILD/bin/pak" mount "$WORK/music.pak" "$MOUNT_POINT" 2>/dev/null; }
unmount_archive() {
  "$BUILD/bin/pak" unmount "$MOUNT_POINT"
  # The server leaves once the kernel lets it go.
  while pgrep -f "pak mount $WORK/music.pak" >/dev/null; do sleep 0.01; done
}

first_byte_through_mount() { head -c1 "$MOUNT_POINT/$LAST_FILE" >/dev/null; }
extract_last() { "$BUILD/bin/pak" extract -O "$WORK/music.pak" "$LAST_ENTRY" 2>/dev/null; }
cat_every_file() { find "$MOUNT_POINT" -type f -print0 | sort -z | xargs -0 cat; }
run_unpak_fresh() { fresh_dir "$WORK/out-unpak" && run_unpak; }

# Median wall seconds of `measured`, each repetition run on a fresh mount
# when `fresh` is 1; one uncounted warm-up pass.
time_reps() {
  local fresh=$1 measured=$2 times=() rep wall cpu
  for ((rep = 0; rep <= REPS; rep++)); do
    ((fresh)) && mount_archive
    read -r wall cpu < <(seconds "$measured") || { ((fresh)) && unmount_archive; return 1; }
    ((fresh)) && unmount_archive
    times+=("$wall")
  done
  median "${times[@]:1}"
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
  local mounted extracted cat_all unpak
  mounted=$(time_reps 1 first_byte_through_mount)
  extracted=$(time_reps 0 extract_last)
  report_ratio first "$(ratio "$mounted" "$extracted")" "$FIRST_BYTE_TARGET" \
    "first byte of $LAST_ENTRY through a fresh mount ${mounted}s, pak extract -O ${extracted}s"
  cat_all=$(time_reps 1 cat_every_file)
  unpak=$(time_reps 0 run_unpak_fresh)
  report_ratio cat "$(ratio "$cat_all" "$unpak")" "$CAT_TARGET" \
    "cat of every file through a fresh mount ${cat_all}s, unpak ${unpak}s"
  rm -rf "$WORK/out-unpak"
  return "$FAILED"
}

mount_main
