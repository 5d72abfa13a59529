#!/usr/bin/env bash
# Folds the inputs that a fuzzing campaign found into a committed corpus,
# minimized: libFuzzer's -merge keeps the smallest set of inputs that reaches
# every edge of the code that the committed corpus and the new inputs reach
# together (hit counts are not told apart, to keep the corpus small).
# Committed seeds that survive keep their names; new ones are named by hash.
# Usage: tools/merge_fuzz_corpus.sh <fuzz build dir> <target> <corpus folder> <new inputs>...
#   e.g. tools/merge_fuzz_corpus.sh build-fuzz mpeg fuzz/corpus/mpeg ~/campaign/mpeg
set -euo pipefail
fuzzer=$1/bin/fuzz_$2
corpus=$3
shift 3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/unpak-merge-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/kept" "$scratch/old"
cp "$corpus"/* "$scratch/old/" 2>/dev/null || true
# The output folder starts with the corpus as it stands when the target is
# not the corpus's own (the listing target adds to the archive corpus).
[ "${MERGE_ADD_ONLY:-0}" = 1 ] && cp "$scratch/old/"* "$scratch/kept/"
"$fuzzer" -merge=1 -use_counters=0 -close_fd_mask=3 -rss_limit_mb=2048 -timeout=10 \
  "$scratch/kept" "$scratch/old" "$@" >"$scratch/log" 2>&1 || { tail -20 "$scratch/log"; exit 1; }
for old in "$scratch/old"/*; do
  hash=$(sha1sum "$old" | cut -c1-40)
  name=$(basename "$old")
  if [ "$name" != "$hash" ] && [ -e "$scratch/kept/$hash" ]; then
    mv "$scratch/kept/$hash" "$scratch/kept/$name"
  fi
done
rm -f "$corpus"/*
cp "$scratch/kept"/* "$corpus/"
grep -E "MERGE-OUTER: [0-9]+ new files" "$scratch/log" || true
echo "$corpus: $(ls "$corpus" | wc -l) inputs, $(cat "$corpus"/* | wc -c) bytes"
