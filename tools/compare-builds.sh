#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The same seeded random key sequences through quillo-keys --state of the
# release build (build), a debug build (build-debug, quillo-keys alone) and
# the sanitizer build (build-asan, set up as tools/sanitize.sh does): their
# output must be the same to the byte, or the run fails naming the first
# sequence that differs (make compare; CI). Each folder is configured only
# when new, and only quillo-keys is built in it.
# Usage: tools/compare-builds.sh [SEQUENCES]   (default 10000)
set -euo pipefail
cd "$(dirname "$0")/.."

sequences=${1:-10000}
release=${BUILD:-build}
debug=${DEBUG_BUILD:-build-debug}
asan=${ASAN_BUILD:-build-asan}
jobs=$(nproc 2>/dev/null || echo 2)

configure() { # folder settings...
    local folder=$1
    shift
    [[ -f $folder/CMakeCache.txt ]] || cmake -S . -B "$folder" "$@" >/dev/null
}
configure "$release" -DBUILD_TESTING=OFF
configure "$debug" -DCMAKE_BUILD_TYPE=Debug -DQUILLO_GUI=OFF -DBUILD_TESTING=OFF
configure "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_SANITIZE=ON -DQUILLO_BENCH=OFF
for folder in "$release" "$debug" "$asan"; do
    cmake --build "$folder" -j "$jobs" --target quillo-keys
done

python3 tools/compare_keys.py --sequences "$sequences" --keep "$debug" \
    "$release/bin/quillo-keys" "$debug/bin/quillo-keys" "$asan/bin/quillo-keys"
