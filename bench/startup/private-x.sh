# shellcheck shell=bash
# SPDX-License-Identifier: MIT
# Sourced by run.sh and count.sh: a private Xvfb and one environment for both
# programs. `private_x NAME` sets tmp (a scratch folder removed on exit),
# display and run_env, and stops the server on exit; NAME prefixes messages.

private_x() {
    local name=$1
    tmp=$(mktemp -d)
    xvfb_pid=
    trap private_x_cleanup EXIT
    trap 'printf "\n%s: interrupted\n" "'"$name"'" >&2; exit 130' INT
    trap 'exit 143' TERM

    # -displayfd: the server takes a free display number and writes it once
    # it accepts connections. -br: a black root, so an unpainted window is one
    # colour whatever background the program leaves it.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -br -nolisten tcp -noreset \
        3>"$tmp/display" 2>"$tmp/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s $tmp/display ]] && break
        kill -0 "$xvfb_pid" 2>/dev/null || { cat "$tmp/xvfb.log" >&2; echo "$name: Xvfb failed" >&2; exit 1; }
        sleep 0.1
    done
    [[ -s $tmp/display ]] || { echo "$name: Xvfb did not start" >&2; exit 1; }
    display=:$(tr -dc 0-9 <"$tmp/display")

    # One environment and one working directory for both programs, built from
    # nothing so that the caller's Qt settings cannot favour either.
    mkdir -m 700 "$tmp/runtime"
    mkdir "$tmp/cwd"
    # shellcheck disable=SC2034 # used by the scripts that source this one
    run_env=(env -i "PATH=/usr/bin:/bin" "HOME=${HOME:-/root}" "LANG=C.UTF-8"
             "XDG_RUNTIME_DIR=$tmp/runtime" "DISPLAY=$display" "QT_QPA_PLATFORM=xcb")
}

private_x_cleanup() {
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
