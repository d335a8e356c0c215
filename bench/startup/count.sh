#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Start-up counted instead of timed: the instructions quillo and the floor run
# from exec to a few seconds of idle after their first paint, under callgrind,
# on a private Xvfb, with the environment of run.sh; their ratio, and the
# libraries where they differ most. Unlike the timed figures the count does
# not move with the machine's load, so it can be checked:
#
#   bench/startup/count.sh [--max RATIO] [BUILD_DIR]
#
# With --max, exits 1 when quillo runs more than RATIO times the floor's
# instructions. Needs valgrind, Xvfb, and the probe and floor of bench-all.
set -euo pipefail

max=
if [[ ${1:-} == --max ]]; then
    max=${2:?--max needs a ratio}
    [[ $max =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "count: --max needs a ratio like 1.10" >&2; exit 2; }
    shift 2
fi
build=${1:-build}
[[ -d $build ]] || { echo "count: no build directory $build" >&2; exit 2; }
build=$(cd "$build" && pwd)
probe=$build/bin/quillo-startup-probe
floor=$build/bin/quillo-floor
quillo=$build/bin/quillo
for program in "$probe" "$floor" "$quillo"; do
    [[ -x $program ]] || { echo "count: $program is not built (cmake --build $build --target bench-all)" >&2; exit 1; }
done
for tool in valgrind Xvfb; do
    command -v "$tool" >/dev/null || { echo "count: $tool not found (Debian packages valgrind, xvfb)" >&2; exit 1; }
done
valgrind=$(command -v valgrind)

# shellcheck source=bench/startup/private-x.sh
source "$(dirname "${BASH_SOURCE[0]}")/private-x.sh"
private_x count

# The probe ends the program (and callgrind writes its profile) three seconds
# after the first paint; callgrind slows it some fifty times, hence the timeout.
count() { # label program...
    local label=$1 line
    shift
    mkdir "$tmp/$label"
    line=$(cd "$tmp/cwd" && "${run_env[@]}" "$probe" --label "$label" --settle-ms 3000 \
        --timeout-ms 300000 -- "$@" 2>>"$tmp/$label.log") || true
    if [[ $line != *status=ok* ]]; then
        echo "count: $label failed: ${line:-no result}" >&2
        tail -n 20 "$tmp/$label.log" >&2
        exit 1
    fi
}
callgrind() { # label program
    count "$1" "$valgrind" --tool=callgrind "--callgrind-out-file=$tmp/$1/%p" "$2"
}

# Native runs first, so that neither counted run fills a cache (fontconfig's)
# that the other then finds full.
count warmup-quillo "$quillo"
count warmup-floor "$floor"

# Self cost of every object in a profile, by library name. A program that
# forks (libdbus starting a session bus) leaves a profile for the child too;
# the program's own is the one with the most instructions.
libraries() { # dir
    local best
    best=$(grep -H '^totals:' "$1"/* | sort -t' ' -k2 -n | tail -n 1 | cut -d: -f1)
    awk '
    function id(s, table,   n) {
        if (match(s, /^\([0-9]+\)/)) {
            n = substr(s, RSTART, RLENGTH)
            if (length(s) > RLENGTH) table[n] = substr(s, RLENGTH + 2)
            return table[n]
        }
        return s
    }
    /^ob=/ { object = id(substr($0, 4), objects); next }
    /^cob=/ { id(substr($0, 5), objects); next }
    /^calls=/ { call = 1; next }
    /^[0-9+*-]/ {
        # The line after calls= is the callee'\''s inclusive cost, not this one'\''s.
        if (call) { call = 0; next }
        if (NF >= 2) cost[object] += $2
    }
    END {
        for (o in cost) {
            name = o
            sub(/.*\//, "", name)
            sub(/\.so.*/, "", name)
            if (name == "quillo" || name == "quillo-floor") name = "(program)"
            sum[name] += cost[o]
        }
        for (n in sum) printf "%s %d\n", n, sum[n]
    }' "$best" | sort
}
# Counts both and prints the table; exits 1 when the ratio is over --max.
measure() {
    rm -rf "$tmp/quillo" "$tmp/floor"
    echo "count: quillo and the floor under callgrind on Xvfb $display" >&2
    callgrind quillo "$quillo"
    callgrind floor "$floor"
    libraries "$tmp/quillo" >"$tmp/quillo.libs"
    libraries "$tmp/floor" >"$tmp/floor.libs"
    report
}

# mawk, the default awk on Debian, has no asort: the libraries are sorted by
# the size of their difference with an insertion sort, as in run.sh.
report() {
join -a 1 -a 2 -e 0 -o 0,1.2,2.2 "$tmp/quillo.libs" "$tmp/floor.libs" | awk -v max="$max" '
function abs(x) { return x < 0 ? -x : x }
{ q += $2; f += $3; lib[NR] = $1; qv[NR] = $2; fv[NR] = $3; order[NR] = NR }
END {
    for (i = 2; i <= NR; i++) {
        t = order[i]
        for (j = i - 1; j >= 1 && abs(qv[order[j]] - fv[order[j]]) < abs(qv[t] - fv[t]); j--)
            order[j + 1] = order[j]
        order[j + 1] = t
    }
    printf "\nStart-up instructions, exec to 3 s idle after the first paint (callgrind), M\n\n"
    printf "%-22s %10s %10s %12s\n", "", "quillo", "floor", "difference"
    printf "%-22s %10.1f %10.1f %+12.1f\n", "all", q / 1e6, f / 1e6, (q - f) / 1e6
    for (k = 1; k <= NR; k++) {
        i = order[k]
        d = qv[i] - fv[i]
        if (abs(d) >= 100000)
            printf "  %-20s %10.1f %10.1f %+12.1f\n", lib[i], qv[i] / 1e6, fv[i] / 1e6, d / 1e6
    }
    ratio = q / f
    printf "\nquillo/floor: %.3f", ratio
    if (max != "") printf "  (at most %s: %s)", max, ratio <= max + 0 ? "met" : "over"
    printf "\n"
    if (max != "" && ratio > max + 0) exit 1
}'
}

# Once in a while fontconfig rebuilds its cache inside one of the counted
# runs, whatever the warm-up did: a count over the limit is taken again once.
if ! measure; then
    echo "count: over the limit; counting once more" >&2
    measure
fi
