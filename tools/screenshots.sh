#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the real program under a private Xvfb and saves docs/screenshot.png
# (at start, with the welcome cover), docs/screenshot-sum.png (after the
# cover is clicked away and a sum is clicked) and docs/screenshot-long.png (a
# long result typed on the keyboard, drawn smaller so that it shows whole).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/tools/ensure-deps.sh" xvfb imagemagick xdotool

exec 3< <(Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r display <&3
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
app_pid=""
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

"$build/bin/quillo" &
app_pid=$!
win=""
for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --name '^Quillo-v2$' 2>/dev/null | head -n1 || true)
    [[ -n "$win" ]] && break
    sleep 0.05
done
[[ -n "$win" ]] || { echo "screenshots: the window did not appear" >&2; exit 1; }
sleep 0.5
mkdir -p "$root/docs"
import -window "$win" "$root/docs/screenshot.png"

# Key centres, in window pixels: cover, 1, 2, +, 3, 4, ., 5, =.
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; sleep 0.1; }
click 150 150
for xy in "24 72" "72 72" "24 152" "120 72" "168 72" "264 112" "216 72" "168 232"; do
    # shellcheck disable=SC2086
    click $xy
done
sleep 0.3
import -window "$win" "$root/docs/screenshot-sum.png"

# Escape clears; 9999999 to the eighth power by three squares (q).
xdotool key --window "$win" Escape 9 9 9 9 9 9 9 q q q
sleep 0.3
import -window "$win" "$root/docs/screenshot-long.png"
echo "saved docs/screenshot.png, docs/screenshot-sum.png and docs/screenshot-long.png"
