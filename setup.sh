#!/usr/bin/env bash
# Installs the Debian packages that building and testing unpak need.
# As root it installs what is missing with apt-get; otherwise it names them.
set -euo pipefail

packages=(
  build-essential cmake pkg-config   # compiler and build
  libmpg123-dev                      # MP3 decoding, inside the codec module
  libsoxr-dev                        # sample-rate conversion, inside the codec module
  libgsm1-dev                        # GSM 6.10 encoding, inside the codec module
  libmp3lame-dev                     # MP3 encoding, for pak create
  libsndfile1-dev                    # reading WAV files, for pak create
  libgtest-dev libgmock-dev          # the test framework
  libcli11-dev                       # pak's command line
  nlohmann-json3-dev                 # pak list --json
  libfuse3-dev fuse3                 # pak mount (FUSE 3), and fusermount3 to unmount
  sox ffmpeg mpg123                  # independent decoders that the tests check our outputs with
  clang libclang-rt-14-dev           # fuzzing, and the sanitizer build of the tests
  llvm                               # tools/coverage_report.sh (llvm-profdata, llvm-cov)
  python3 git                        # tools/test_share.py, tools/mutation_check.py, bench/
  dpkg-dev file                      # cpack -G DEB: the package's dependencies (dpkg-shlibdeps)
  lintian                            # the package check
  groff-base                         # the manual page check
  mmdebstrap                         # tools/fresh_machine_check.sh: a minimal Debian root
  planetblupi-music-ogg lame         # bench/: the music corpus, and the encoder pak create is timed against
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
