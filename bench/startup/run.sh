#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Start-up benchmark: times quillo from exec to the first map and to the first
# paint of its window, takes its CPU time and weighs its PSS one second after
# that paint, against the floor (a bare Qt window of the same make-up), on a
# private Xvfb server.
#
#   bench/startup/run.sh [BUILD_DIR]
#
# RUNS (default 15) sets the measured runs of each program; CANDIDATE replaces
# quillo, e.g. CANDIDATE=build/bin/quillo-floor compares the floor with itself.
# The two alternate run by run, after one warm-up each, so that drift in the
# machine's load touches both alike.
set -euo pipefail

build=${1:-build}
runs=${RUNS:-15}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "startup: RUNS must be a positive number" >&2; exit 2; }
[[ -d $build ]] || { echo "startup: no build directory $build" >&2; exit 2; }
build=$(cd "$build" && pwd)
probe=$build/bin/quillo-startup-probe
floor=$build/bin/quillo-floor
candidate=${CANDIDATE:-$build/bin/quillo}
candidate=$(realpath -m "$candidate")

if [[ ! -x $probe || ! -x $floor ]]; then
    echo "startup: skipped, the probe and the floor are not built (they need QUILLO_GUI=ON and the target bench-all)" >&2
    exit 0
fi
if [[ ! -x $candidate ]]; then
    echo "startup: $candidate is not built; build it (cmake --build $build --target quillo) or set CANDIDATE" >&2
    exit 1
fi
command -v Xvfb >/dev/null || { echo "startup: Xvfb not found (Debian package xvfb)" >&2; exit 1; }

# shellcheck source=bench/startup/private-x.sh
source "$(dirname "${BASH_SOURCE[0]}")/private-x.sh"
private_x startup

measure() { # label program
    local line
    line=$(cd "$tmp/cwd" && "${run_env[@]}" "$probe" --label "$1" -- "$2" 2>>"$tmp/$1.log") || true
    if [[ $line != *status=ok* ]]; then
        echo "startup: $2 failed: ${line:-no result}" >&2
        tail -n 20 "$tmp/$1.log" >&2
        exit 1
    fi
    echo "$line" >>"$tmp/results"
}

echo "startup: $runs runs each of $(basename "$candidate") and the floor on Xvfb $display (24-bit), QT_QPA_PLATFORM=xcb" >&2
measure warmup-candidate "$candidate"
measure warmup-floor "$floor"
: >"$tmp/results"
for ((i = 1; i <= runs; i++)); do
    measure candidate "$candidate"
    measure floor "$floor"
    printf '\rstartup: run %d of %d' "$i" "$runs" >&2
done
echo >&2

awk -v name="$(basename "$candidate")" -v runs="$runs" '
# mawk, the default awk on Debian, has no asort.
function sort(a, n,   i, j, t) {
    for (i = 2; i <= n; i++) {
        t = a[i]
        for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]
        a[j + 1] = t
    }
}
function median(a, n,   m) { m = int((n + 1) / 2); return (n % 2) ? a[m] : (a[m] + a[m + 1]) / 2 }
{
    for (i = 2; i <= NF; i++) { split($i, kv, "="); field[kv[1]] = kv[2] }
    who = field["label"]; n[who]++
    v[who, "map", n[who]] = field["map_ms"]
    v[who, "paint", n[who]] = field["paint_ms"]
    v[who, "cpu", n[who]] = field["cpu_ms"]
    v[who, "pss", n[who]] = field["pss_kb"] / 1024
    v[who, "rss", n[who]] = field["rss_kb"] / 1024
}
END {
    split("map paint cpu pss rss", metric, " ")
    title["map"] = "first map, ms"; title["paint"] = "first paint, ms"; title["cpu"] = "CPU, ms"
    title["pss"] = "PSS, MiB"; title["rss"] = "RSS, MiB"
    goal["paint"] = 1; goal["cpu"] = 1; goal["pss"] = 1
    printf "\nStart-up: median (min-max) of %d runs each; ratio: median of the rounds\x27 ratios\n\n", runs
    printf "%-16s %22s  %22s  %12s\n", "", name, "floor", name "/floor"
    for (k = 1; k <= 5; k++) {
        m = metric[k]
        for (w = 1; w <= 2; w++) {
            who = (w == 1) ? "candidate" : "floor"
            cnt = n[who]
            for (i = 1; i <= cnt; i++) s[i] = v[who, m, i] + 0
            sort(s, cnt)
            cell[who] = sprintf("%6.2f (%6.2f-%6.2f)", median(s, cnt), s[1], s[cnt])
            delete s
        }
        # Each round runs the two back to back, so a round\x27s ratio sees the
        # same load on the machine in both of its parts.
        for (i = 1; i <= runs; i++) r[i] = v["candidate", m, i] / v["floor", m, i]
        sort(r, runs)
        ratio = median(r, runs)
        delete r
        note = ""
        if (m in goal) note = (ratio <= 1.05) ? "  goal 1.05: met" : "  goal 1.05: over"
        printf "%-16s %22s  %22s  %12.3f%s\n", title[m], cell["candidate"], cell["floor"], ratio, note
    }
    print "\nCPU: user and system time of the program, nearly all of it before the"
    print "first paint; other work on the machine moves it much less than the wall-clock"
    print "times. PSS splits each shared page among the processes mapping it, so"
    print "Qt programs running meanwhile lower it (see the minimum); RSS does not."
    print "bench/startup/count.sh counts instructions instead, which load does not move."
}' "$tmp/results"
