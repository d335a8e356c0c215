#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes whole sessions with libFuzzer for SECONDS (default 60): builds the
# fuzzer with clang in build-fuzz and starts it from the golden key files and
# the kept inputs of tests/fuzz/regressions, copied into a scratch corpus so
# that the repository is never written to. It prints how many steps of each
# kind ran.
# Usage: tools/fuzz.sh [SECONDS]   (or: make fuzz SECONDS=600)
# An input that breaks the session is kept in build-fuzz/crashes/; replay it
# with build-fuzz/bin/quillo-engine-fuzz FILE, and once mended keep it in
# tests/fuzz/regressions, which every test run replays.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[[ "$seconds" =~ ^[0-9]+$ && "$seconds" -gt 0 ]] || {
    echo "usage: tools/fuzz.sh [SECONDS]" >&2
    exit 2
}
build=${FUZZ_BUILD:-build-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)

tools/ensure-deps.sh cmake make clang libclang-rt-14-dev llvm libgtest-dev libmpfr-dev
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUILLO_FUZZ=ON -DQUILLO_GUI=OFF -DQUILLO_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "$jobs" --target quillo-engine-fuzz quillo-fuzz-seed

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
# Each golden file twice: as text (its bytes are keys too) and one byte a key.
for keys in tests/golden/*.keys; do
    name=$(basename "$keys" .keys)
    cp "$keys" "$work/corpus/$name.txt"
    "$build/bin/quillo-fuzz-seed" <"$keys" >"$work/corpus/$name.bin"
done
cp tests/fuzz/regressions/* "$work/corpus/"

mkdir -p "$build/crashes"
echo "Fuzzing sessions for $seconds s"
status=0
# Every step is checked against a fresh replay of all the keys before it:
# longer inputs cost the square of their length. The sanitizers' memory
# grows with a long run past libFuzzer's default limit of 2 GB.
"$build/bin/quillo-engine-fuzz" -max_total_time="$seconds" -max_len=300 -timeout=10 \
    -rss_limit_mb=8000 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/" "$work/corpus" >"$work/log" 2>&1 || status=$?
if [[ $status -ne 0 ]]; then
    # The report without libFuzzer's progress lines.
    grep -Ev '^#[0-9]+[[:space:]]' "$work/log" >&2 || true
    echo "tools/fuzz.sh: the fuzzer failed (exit $status); its input is in $build/crashes/" >&2
    exit 1
fi
grep -E '^(Done|steps:|stat::number_of_executed_units|stat::peak_rss_mb)|INFO: seed corpus' "$work/log" || true
grep -Ec '^#[0-9]+[[:space:]]+(NEW|REDUCE)' "$work/log" | sed 's/^/corpus additions: /'
