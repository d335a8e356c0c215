#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installed program on a private Xvfb: its window's class (WM_CLASS) is the
# installed desktop entry's name and its StartupWMClass, so that launchers tie
# the window to the entry. It is started with Qt's own options, one of which
# (-name) must show in the window's instance name: they reach Qt unrefused.
# Usage: identity_check.sh PREFIX
# Needs the Debian packages xvfb and x11-utils; fails without them.
set -euo pipefail

prefix=$1
fail() {
    echo "window-identity: $*" >&2
    exit 1
}
for tool in Xvfb xwininfo; do
    command -v "$tool" >/dev/null || fail "$tool not found (Debian packages xvfb, x11-utils)"
done

entries=("$prefix"/share/applications/*.desktop)
[[ ${#entries[@]} -eq 1 && -f ${entries[0]} ]] || fail "not one desktop entry: ${entries[*]}"
app_id=$(basename "${entries[0]}" .desktop)
wm_class=$(sed -n 's/^StartupWMClass=//p' "${entries[0]}")
[[ $wm_class == "$app_id" ]] || fail "StartupWMClass '$wm_class' is not the entry's name '$app_id'"

tmp=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT

# -displayfd: the server picks a free display and writes it once it listens.
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [[ -s $tmp/display ]] && break
    sleep 0.1
done
[[ -s $tmp/display ]] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
export DISPLAY=:$(head -n 1 "$tmp/display")
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

XDG_RUNTIME_DIR=$tmp "$prefix/bin/quillo" -platform xcb -style fusion -name quillo-probe \
    >"$tmp/quillo.log" 2>&1 &
pids+=($!)
# xwininfo lists each window as: ID "TITLE": ("INSTANCE" "CLASS") ...
line=
for _ in $(seq 200); do
    line=$(xwininfo -root -tree | grep -F '("quillo-probe" ' || true)
    [[ -n $line ]] && break
    kill -0 "${pids[1]}" 2>/dev/null || fail "quillo ended: $(cat "$tmp/quillo.log")"
    sleep 0.1
done
[[ -n $line ]] || fail "no window with instance name quillo-probe: $(xwininfo -root -tree)"
class=$(sed -E 's/.*\("quillo-probe" "([^"]*)"\).*/\1/' <<<"$line" | head -n 1)
[[ $class == "$app_id" ]] || fail "window class '$class' is not the entry's name '$app_id'"
echo "window class $class = desktop entry $app_id.desktop"
