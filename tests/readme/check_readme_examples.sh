#!/usr/bin/env bash
# Runs every command shown with its output in the README (a ``` block whose
# lines start with "$ " for commands, followed by what they print and an
# "(exit status N)" line) and compares what it prints now with the text, so
# the README's examples never drift from the programs.
# Usage: check_readme_examples.sh README BIN_DIR EXAMPLES_DIR SCRATCH
set -euo pipefail
readme=$1 bin=$2 examples=$3 scratch=$4

# The README shows pak run from the project root and unpak from the quick
# start's fresh example-out/ folder: each block runs in a fresh folder from
# which both examples/ and ../examples/ reach the example.
rm -rf "$scratch" && mkdir -p "$scratch/root"
ln -s "$examples" "$scratch/root/examples"
export PATH=$bin:$PATH LC_ALL=C

# Splits the README's example blocks into one expected transcript per block.
awk -v out="$scratch/block" '
  /^```/ { if (inside) { inside = 0; if (file) close(file); file = "" } else inside = 1; next }
  inside && !file && /^\$ / { file = sprintf("%s%02d", out, ++n) }
  inside && file { print > file }
' "$readme"

status=0
for expected in "$scratch"/block*; do
  run=$scratch/root/run
  rm -rf "$run" && mkdir "$run" && ln -s "$examples" "$run/examples"
  actual=$expected.actual
  : >"$actual"
  while IFS= read -r line; do
    [[ $line == '$ '* ]] || continue
    printf '%s\n' "$line" >>"$actual"
    code=0
    (cd "$run" && bash -c "${line#\$ }") >>"$actual" 2>&1 || code=$?
    echo "(exit status $code)" >>"$actual"
  done <"$expected"
  if ! diff -u "$expected" "$actual"; then
    echo "the README's example above no longer matches what the command prints" >&2
    status=1
  fi
done
[ -e "$scratch/block01" ] || { echo "no examples found in $readme" >&2; exit 1; }
exit "$status"
