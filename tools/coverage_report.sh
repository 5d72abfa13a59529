#!/usr/bin/env bash
# Line coverage of the product code by the whole test suite, which also
# replays the committed fuzz corpus and regression inputs. Builds with clang's
# source-based coverage in build-coverage/, runs ctest with one profile per
# process and module (so the unpak and pak programs the end-to-end tests start,
# and the codec module they load, count too), merges the profiles and prints
# the lines covered per file under archive/ codec/ convert/ create/ pak/
# platform/ run/ unpak/, and the total. The counters are kept in the profile files as they
# change (continuous mode), so processes killed by a signal or ended by _exit
# count too; only a process whose file stays incomplete (one run under a file
# size limit) is left out, with a warning.
# Usage: tools/coverage_report.sh [--report-only] [--show FILE]
#   --report-only  reuse the profiles of the last run
#   --show FILE    also print FILE's lines that no test ran (e.g. codec/mp3_stream.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
build=$src/build-coverage
profiles=$build/profiles
run=1
show=
while [ $# -gt 0 ]; do
  case $1 in
    --report-only) run=0 ;;
    --show) show=$2; shift ;;
    *) echo "usage: $0 [--report-only] [--show FILE]" >&2; exit 2 ;;
  esac
  shift
done

if [ "$run" = 1 ]; then
  flags="-fprofile-instr-generate -fcoverage-mapping -mllvm -runtime-counter-relocation"
  flags+=" -Wno-unused-command-line-argument"  # the -mllvm option, unused when linking
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
  nice cmake --build "$build" -j2
  rm -rf "$profiles"
  mkdir -p "$profiles"
  # A failing test still leaves its profile; the report is printed regardless.
  LLVM_PROFILE_FILE="$profiles/%c%p-%m.profraw" nice ctest --test-dir "$build" -j2 \
    --output-on-failure || echo "coverage: some tests failed" >&2
  llvm-profdata merge -sparse -failure-mode=all -o "$build/coverage.profdata" "$profiles"/*.profraw
  rm -rf "$profiles"
fi

# Every instrumented program and the module; llvm-cov merges their mappings.
objects=()
for binary in "$build"/bin/*; do
  if [ -f "$binary" ] && [ -x "$binary" ]; then objects+=(-object "$binary"); fi
done
cov_args=("${objects[@]:1}" -instr-profile="$build/coverage.profdata"
          -ignore-filename-regex='^/usr/|/(tests|fuzz|tools|bench|build[^/]*)/')
# Columns 8 to 10 of llvm-cov's table are lines, missed lines and their share.
table=$(llvm-cov report "${cov_args[@]}" "$src"/{archive,codec,convert,create,pak,platform,run,unpak} |
  awk 'NR > 1 && NF >= 10 && $8 > 0 { printf "%-40s %7d %7d %8s\n", $1, $8 - $9, $8, $10 }')
printf '%-40s %7s %7s %8s\n' File Covered Lines Cover
grep -v '^TOTAL' <<<"$table" | LC_ALL=C sort
grep '^TOTAL' <<<"$table"
if [ -n "$show" ]; then
  echo
  echo "Lines of $show that no test ran:"
  llvm-cov show "${cov_args[@]}" "$src/$show" | awk -F'|' '$2 ~ /^ *0$/ { print $1 "|" $3 }'
fi
