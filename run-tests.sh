#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
# Usage: ./run-tests.sh [SUITE...]   SUITE: normal sanitizers threads fuzz (default: all four)
set -euo pipefail
cd "$(dirname "$0")"
suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(normal sanitizers threads fuzz)
./setup.sh

normal() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)"
  ctest --test-dir build --output-on-failure -j"$(nproc)"
}

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitizers() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUNPAK_SANITIZE=ON >/dev/null
  cmake --build build-asan -j"$(nproc)"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
}

# The tests that run entries on several workers, built with ThreadSanitizer
# (a mount's server stops at a race, so its reads fail).
threads() {
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUNPAK_TSAN=ON >/dev/null
  cmake --build build-tsan -j"$(nproc)" --target unpak pak unpak_codec parallel_e2e_test pak_e2e_test \
    segmented_stream_test create_e2e_test entry_cache_test partial_audio_test mount_e2e_test
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j"$(nproc)" \
    -R '^(Parallel|Surroundings|Pak|SegmentedStream|Create\.WavFilesFromOtherTools|Update\.OnlyTheNamed|EntryCache|PartialAudio|MountFixture)'
}

# A short fuzzing run of the archive reader and lister, the entry rebuild, the
# MPEG framer, the WAV reading of `pak create` and `pak update` of a fuzzed
# archive from the committed corpus,
# with clang's libFuzzer; any crash fails.
fuzz() {
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DUNPAK_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j"$(nproc)" --target fuzz_archive fuzz_payload fuzz_wave fuzz_list fuzz_mpeg fuzz_update
  fuzz/run_fuzzers.sh build-fuzz 20
}

for suite in "${suites[@]}"; do
  case $suite in
    normal | sanitizers | threads | fuzz) "$suite" ;;
    *) echo "run-tests: unknown suite '$suite' (normal, sanitizers, threads, fuzz)" >&2; exit 2 ;;
  esac
done
