#!/bin/bash
# SPDX-License-Identifier: MIT
# The kept tape from outside, on a private X server: keys typed into the
# calculator reach tape.sqlite by the store's own thread, and the window's
# thread makes no system call on the tape's files (strace -f -y names each
# descriptor's file); a run that keeps nothing never loads SQLite; with an
# unloadable libsqlite3.so.0 first on the library path the calculator
# answers its keys and ends with status 0.
set -u
quillo=$1
for tool in Xvfb xdotool strace; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
dir=$(mktemp -d)
display=:$((100 + $$ % 800))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$dir"' EXIT
export DISPLAY=$display QT_QPA_PLATFORM=xcb # whatever the caller runs other tests with
# A session bus that refuses at once: with none named, Qt would have
# dbus-launch start one, which strace -f follows and waits for after the
# calculator has ended.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-session-bus"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
# LeakSanitizer cannot run under strace (ptrace): in a sanitizer build it
# would fail every run here; the other tests look for leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fail=0

# run NAME KEYS [ENV...]: quillo under strace, KEYS typed, then SIGTERM;
# leaves the trace in $dir/NAME.log and sets $status and $main (its pid).
run() {
    local name=$1 keys=$2
    shift 2
    mkdir -p "$dir/$name/config/quillo"
    # The tape open, so that its earlier lines are read too, when keys are typed.
    [ -n "$keys" ] && printf '[tape]\nopen=true\n' >"$dir/$name/config/quillo/quillo.conf"
    env XDG_CONFIG_HOME="$dir/$name/config" XDG_STATE_HOME="$dir/$name/state" HOME="$dir/$name" "$@" \
        strace -f -y -qq -e trace=%file,%desc -o "$dir/$name.log" "$quillo" 2>"$dir/$name.err" &
    local tracer=$!
    local window= tape=
    # The calculator's window, once the tape's is up too: shown, it would
    # take the keys. Generous waits: ctest runs this beside other tests on a
    # loaded machine.
    for _ in $(seq 300); do
        main=$(head -1 "$dir/$name.log" 2>/dev/null | cut -d' ' -f1)
        for w in $(xdotool search --onlyvisible --pid "${main:-0}" 2>/dev/null); do
            if xdotool getwindowname "$w" | grep -q ' tape$'; then tape=$w; else window=$w; fi
        done
        [ -n "$window" ] && { [ -z "$keys" ] || [ -n "$tape" ]; } && break
        sleep 0.1
    done
    if [ -n "$keys" ] && [ -n "$window" ]; then
        xdotool windowfocus --sync "$window" 2>/dev/null
        xdotool type --delay 30 "$keys"
    fi
    sleep 1
    # The store's thread writes within milliseconds; under load, allow it more.
    if [ "$name" = typed ]; then
        for _ in $(seq 100); do
            grep -v "^$main " "$dir/$name.log" | grep -q 'pwrite64(.*tape\.sqlite-wal' && break
            sleep 0.1
        done
    fi
    alive=0
    kill -0 "$main" 2>/dev/null && alive=1
    kill -TERM "$main" 2>/dev/null
    wait "$tracer"
    status=$?
}

run typed "12+3=4*5="
if [ "$status" != 0 ]; then
    echo "typed: exit status $status"; fail=1
elif grep "^$main " "$dir/typed.log" | grep -q 'tape\.sqlite'; then
    echo "typed: the window's thread made system calls on the tape's files:"
    grep "^$main " "$dir/typed.log" | grep 'tape\.sqlite' | head -5
    fail=1
elif ! grep -v "^$main " "$dir/typed.log" | grep -q 'pwrite64(.*tape\.sqlite-wal'; then
    echo "typed: no line reached tape.sqlite-wal from the store's thread"; fail=1
else
    echo "typed: lines written by the store's thread alone, exit 0"
fi

run nothing ""
if [ "$status" != 0 ] || grep -q 'libsqlite3' "$dir/nothing.log"; then
    echo "nothing kept: status $status, SQLite loaded: $(grep -c libsqlite3 "$dir/nothing.log")"; fail=1
    tail -5 "$dir/nothing.err"
else
    echo "nothing kept: SQLite not loaded, exit 0"
fi

mkdir -p "$dir/lib"
echo 'not a library' >"$dir/lib/libsqlite3.so.0"
run unloadable "12+3=" LD_LIBRARY_PATH="$dir/lib"
if [ "$status" != 0 ] || [ "$alive" != 1 ] || ! grep -q "$dir/lib/libsqlite3.so.0" "$dir/unloadable.log"; then
    echo "unloadable SQLite: status $status, alive after the keys: $alive"; fail=1
else
    echo "unloadable SQLite: keys answered, exit 0"
fi
exit $fail
