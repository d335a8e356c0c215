#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Quillo as a native Wayland client under a private headless Weston: its window
# is mapped with the fixed content size, it reports the application id, and a
# close from the compositor's side ends it with status 0.
# Usage: wayland_check.sh QUILLO APP_ID
# Needs the Debian packages weston, qt6-wayland and python3; fails without them.
set -euo pipefail

quillo=$1
app_id=$2
width=349
height=262
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

fail() {
    echo "wayland: $*" >&2
    exit 1
}

for tool in weston weston-debug python3 timeout; do
    command -v "$tool" >/dev/null || fail "$tool not found (Debian packages weston, python3, coreutils)"
done

# Weston and the program find each other here; nothing of the user's session
# may leak in.
run=$(mktemp -d "${TMPDIR:-/tmp}/quillo-wayland.XXXXXX")
chmod 0700 "$run"
socket=quillo-$$
unset DISPLAY WAYLAND_SOCKET QT_WAYLAND_SHELL_INTEGRATION QT_WAYLAND_DISABLE_WINDOWDECORATION
export XDG_RUNTIME_DIR=$run

# For the sanitizer build: the Wayland plugin's own leaks join the suppressions
# in force. Its frames lie past libwayland-client, which has no frame pointers,
# so only the slow unwinder reaches them.
supp=$run/lsan.supp
options=${LSAN_OPTIONS:-}
if [[ $options =~ (^|:)suppressions=([^:]*) ]]; then
    cat "${BASH_REMATCH[2]}" >"$supp"
    options=${options/suppressions=${BASH_REMATCH[2]}/}
fi
cat "$here/lsan.supp" >>"$supp"
export LSAN_OPTIONS=$options:suppressions=$supp:fast_unwind_on_malloc=0

pids=()
cleanup() {
    local status=$? pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    if ((status != 0)); then
        for log in weston.log quillo.log relay.log scene; do
            [[ -s $run/$log ]] || continue
            echo "---- $log (last lines)" >&2
            tail -n 40 "$run/$log" >&2
        done
    fi
    rm -rf "$run"
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false on time-out.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}
alive() { kill -0 "$1" 2>/dev/null; }

start=$SECONDS
# --debug lets weston-debug read the scene graph; as root the headless backend
# needs no seat, no input and no renderer.
timeout 60 weston --backend=headless-backend.so --socket="$socket" --no-config \
    --idle-time=0 --debug --log="$run/weston.log" >"$run/weston.out" 2>&1 &
weston_pid=$!
pids+=("$weston_pid")
wait_for 10 test -S "$run/$socket" || fail "weston did not open its socket"

# The relay sits between the program and Weston to deliver the close.
timeout 60 python3 "$here/close_relay.py" "$run/$socket" "$run/relay" "$run/close" \
    2>"$run/relay.log" &
pids+=($!)
wait_for 10 test -S "$run/relay" || fail "the close relay did not start"

WAYLAND_DISPLAY=relay QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client \
    timeout 30 "$quillo" >/dev/null 2>"$run/quillo.log" &
quillo_pid=$!
pids+=("$quillo_pid")

# The compositor's own view of the window, mapped as a toplevel that the
# scene graph names "top-level window 'TITLE' of APP_ID".
mapped() {
    ! alive "$quillo_pid" && return
    WAYLAND_DISPLAY=$socket timeout 5 weston-debug scene-graph >"$run/scene" 2>/dev/null || true
    grep -qF "role xdg_toplevel," "$run/scene"
}
wait_for 15 mapped || fail "no toplevel was mapped within 15 s"
if ! alive "$quillo_pid"; then
    grep -q 'platform plugin "wayland"' "$run/quillo.log" \
        && fail "Qt's Wayland platform plugin is missing (Debian package qt6-wayland)"
    fail "the program ended before its window was mapped"
fi
seen=$(sed -n "s/.*role xdg_toplevel,.* of \(.*\), 0x[0-9a-f]*):\$/\1/p" "$run/scene")
[[ $seen == "$app_id" ]] || fail "the compositor knows the window as '$seen', expected '$app_id'"

# The content area is the opaque part of the view; the rest is Qt's decoration.
opaque=$(awk '
    /role xdg_toplevel,/ { inside = 1; next }
    inside && /View|Layer/ { exit }
    inside && /\[opaque: \(/ { gsub(/[^0-9]+/, " "); print $3 - $1 "x" $4 - $2; exit }
' "$run/scene")
[[ $opaque == "${width}x$height" ]] || fail "the window's content is ${opaque:-not opaque}, expected ${width}x$height"

# The client's side: the id the toplevel reported and its fixed size.
toplevel=$(sed -n "s/.*-> xdg_toplevel@\([0-9]*\)\.set_app_id(\"${app_id//./\\.}\").*/\1/p" \
    "$run/quillo.log" | head -n 1)
[[ -n $toplevel ]] || fail "no xdg_toplevel.set_app_id(\"$app_id\") request"
for request in set_min_size set_max_size; do
    grep -qF -- "-> xdg_toplevel@$toplevel.$request($width, $height)" "$run/quillo.log" \
        || fail "no $request($width, $height): the window is not fixed at its size"
done

# Close, as the compositor does when the user closes the window.
echo "$toplevel" >"$run/close.new"
mv "$run/close.new" "$run/close"
ended() { ! alive "$quillo_pid"; }
wait_for 5 ended || fail "the program still runs 5 s after the close"
status=0
wait "$quillo_pid" || status=$?
grep -qF "xdg_toplevel@$toplevel.close()" "$run/quillo.log" || fail "the close never reached the program"
((status == 0)) || fail "the program ended with status $status after the close"

echo "wayland: window ${width}x$height as $app_id, closed with status 0 ($((SECONDS - start)) s)"
