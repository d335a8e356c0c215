#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan and runs every test there (make asan). Sanitizer reports go to log
# files that are checked at the end, so a report fails the run even from a
# program whose exit code its test does not look at.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${ASAN_BUILD:-build-asan}
jobs=$(nproc 2>/dev/null || echo 2)

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_SANITIZE=ON \
        -DQUILLO_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "$jobs"

logs="$PWD/$build/sanitizer-logs"
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$logs/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan"
# Leaks inside third-party libraries only; never the project's own frames.
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"

status=0
(cd "$build" && ctest --output-on-failure -j "$jobs") || status=$?
if compgen -G "$logs/*" >/dev/null; then
    for report in "$logs"/*; do
        echo "---- $report" >&2
        cat "$report" >&2
    done
    echo "tools/sanitize.sh: the sanitizers reported the faults above" >&2
    exit 1
fi
exit "$status"
