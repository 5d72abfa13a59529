#!/usr/bin/env bash
# Runs the fuzz targets of a UNPAK_FUZZ build for a while each, one after
# the other, from a scratch copy of the committed corpus and regression
# inputs, with the format's dictionary. Fails, and keeps the scratch folder with the crashing input, when a
# target crashes, leaks, hangs or runs out of memory.
# Usage: run_fuzzers.sh <fuzz build dir> [seconds per target]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/unpak-fuzz-run-XXXXXX")
# The inputs' working folders go to memory where there is a tmpfs for it:
# the update target syncs every archive it writes, which a disk makes slow.
work_dir=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && work_dir=/dev/shm

status=0
for kind in archive payload wave list mpeg update; do
  inputs=$kind
  # The listing and update targets read archives too.
  case $kind in list | update) inputs=archive ;; esac
  mkdir -p "$scratch/$kind/corpus"
  cp -r "$here/corpus/$inputs/." "$scratch/$kind/corpus/"
  if [ -d "$here/regressions/$inputs" ]; then cp -r "$here/regressions/$inputs/." "$scratch/$kind/corpus/"; fi
  echo "fuzz_$kind: ${seconds}s from $(ls "$scratch/$kind/corpus" | wc -l) inputs"
  # Standard error is closed for the inputs (each bad entry reports there);
  # libFuzzer's own output and sanitizer reports still come through.
  if ! TMPDIR=$work_dir "$build/bin/fuzz_$kind" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=2 -print_final_stats=1 -dict="$here/pak.dict" -artifact_prefix="$scratch/$kind/" \
        "$scratch/$kind/corpus" >"$scratch/$kind/log" 2>&1; then
    status=1
    echo "fuzz_$kind FAILED; inputs in $scratch/$kind, log:"
    tail -n 60 "$scratch/$kind/log"
  else
    grep -E '^stat::(number_of_executed_units|new_units_added)' "$scratch/$kind/log" || true
  fi
done
[ "$status" -eq 0 ] && rm -rf "$scratch"
exit "$status"
