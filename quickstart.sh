#!/usr/bin/env bash
# Sets up and builds unpak and pak, unpacks the bundled example archive into a
# fresh folder, example-out/, shows what happened, then lists the archive
# with pak.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target unpak pak unpak_codec >/dev/null
rm -rf example-out && mkdir example-out
cd example-out
echo "\$ unpak ../examples/example.pak"
status=0
../build/bin/unpak ../examples/example.pak || status=$?
echo "(exit status $status)"
echo "\$ find . -type f"
find . -type f | sort
cd ..
echo "\$ pak list examples/example.pak"
build/bin/pak list examples/example.pak || status=$?
exit "$status"
