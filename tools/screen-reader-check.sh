#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Manual check for developers, not run by ctest or CI: what does a blind user
# hear? Starts the real program with the Orca screen reader in a private X
# server, session bus and accessibility bus, types Escape 1 2 + 3 Return,
# prints what Orca said (its SPEECH OUTPUT lines) and exits 0 only when it
# spoke the result 15. No synthesiser is needed: Orca logs each utterance
# whether or not one speaks it.
# Usage: tools/screen-reader-check.sh [path/to/quillo]   (default build/bin/quillo)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ ${1-} != --inside ]]; then
    app=$(realpath -m "${1:-$root/build/bin/quillo}")
    [[ -x "$app" ]] || { echo "screen-reader-check: no program at $app; build it first" >&2; exit 2; }
    "$root/tools/ensure-deps.sh" orca at-spi2-core dbus-daemon xvfb xdotool procps

    tmp=$(mktemp -d)
    xvfb_pid=""
    cleanup() {
        if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
        rm -rf "$tmp"
    }
    trap cleanup EXIT
    # Orca's settings and whatever the buses write stay in here, so the
    # user's own Orca settings neither count nor change.
    mkdir -p "$tmp/home" "$tmp/run"
    chmod 700 "$tmp/run"
    export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/home/.config" \
        XDG_DATA_HOME="$tmp/home/.local/share" XDG_CACHE_HOME="$tmp/home/.cache" \
        GSETTINGS_BACKEND=memory
    unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY

    exec 3< <(Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp 2>/dev/null)
    xvfb_pid=$!
    read -r display <&3
    export DISPLAY=":$display"
    rc=0
    timeout -k 5 120 dbus-run-session -- "$0" --inside "$app" "$tmp" \
        2> >(grep -v "fd limit" >&2) || rc=$?
    [[ $rc -eq 124 ]] && echo "screen-reader-check: timed out" >&2
    exit "$rc"
fi

# From here on inside the private session bus.
app=$2 tmp=$3
log="$tmp/orca.log"
pids=()
script_pid=""
cleanup() {
    local i j
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        # script ends by itself once Orca has.
        if [[ ${pids[i]} == "$script_pid" ]]; then
            for ((j = 0; j < 50; j++)); do kill -0 "$script_pid" 2>/dev/null || break; sleep 0.1; done
        fi
        kill "${pids[i]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# Waits up to $1 tenths of a second for the log to match $2.
await() {
    local i
    for ((i = 0; i < $1; i++)); do
        grep -aqE "$2" "$log" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
spoken() { grep -a "SPEECH OUTPUT" "$log" | tr -d '\r' || true; }

/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
/usr/libexec/at-spi2-registryd --use-gnome-session=false >/dev/null 2>&1 &
pids+=($!)

# Orca writes its log through a buffer that is flushed late or, when it is
# stopped, not at all; on a terminal Python writes each line at once.
script -qfec "exec orca --debug-file /dev/tty" "$log" </dev/null >/dev/null 2>&1 &
script_pid=$!
pids+=("$script_pid")
if ! await 300 "SPEECH OUTPUT"; then
    echo "screen-reader-check: Orca did not start" >&2
    exit 1
fi
orca_pid=$(pgrep -P "$script_pid" || true) # stopped before script
if [[ -n "$orca_pid" ]]; then pids+=("$orca_pid"); fi

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 QT_QPA_PLATFORM=xcb "$app" &
pids+=($!)
win=""
for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --name '^Quillo-v2$' 2>/dev/null | head -n1 || true)
    [[ -n "$win" ]] && break
    sleep 0.1
done
[[ -n "$win" ]] || { echo "screen-reader-check: the window did not appear" >&2; exit 1; }
sleep 0.5
# No window manager: give the window the focus ourselves, then type through
# XTEST, so that Orca hears the keys as it hears a user's.
xdotool windowfocus --sync "$win"
await 100 "SPEECH OUTPUT: 'Quillo-v2" || echo "screen-reader-check: Orca did not present the window" >&2
sleep 1
for key in Escape 1 2 plus 3 Return; do
    xdotool key "$key"
    sleep 0.8
done
await 50 "SPEECH OUTPUT: '.*\b15\b" || true

spoken
if spoken | grep -qE "SPEECH OUTPUT: '.*\b15\b"; then
    echo "screen-reader-check: Orca spoke the result 15"
else
    echo "screen-reader-check: Orca did not speak the result 15" >&2
    exit 1
fi
