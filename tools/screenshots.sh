#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the real program under a private Xvfb and saves docs/screenshot.png
# (at start, with the welcome cover), docs/screenshot-sum.png (after the
# cover is clicked away and a sum is clicked) and docs/screenshot-long.png (a
# long result typed on the keyboard, drawn smaller so that it shows whole) and
# docs/screenshot-tape.png (the tape window beside the calculator after
# 5 + 3 x^2 =), docs/screenshot-zoom200.png (a sum at 200 %, zoomed with
# Ctrl+=), docs/screenshot-dark.png (the high-contrast look, tape open) and
# docs/screenshot-notes.png (two tape lines with notes).
# The program keeps its settings and tape in a scratch folder, not the user's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/tools/ensure-deps.sh" xvfb imagemagick xdotool

exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r display <&3
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
app_pid=""
scratch=$(mktemp -d)
export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state
cleanup() {
    if [[ -n "$app_pid" ]]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true # it writes its settings on the way out
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# The id of the visible window titled exactly $1, once it is there.
window() {
    local id=""
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
        [[ -n "$id" ]] && break
        sleep 0.05
    done
    [[ -n "$id" ]] || { echo "screenshots: the window $1 did not appear" >&2; exit 1; }
    echo "$id"
}

# Starts the program and sets win to its window.
start() {
    "$build/bin/quillo" &
    app_pid=$!
    win=$(window Quillo-v2)
}
start
# The pointer where a 640x480 screen starts it, over the window.
xdotool mousemove 320 240
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

# Afresh, with no kept lines: 5 + 3 x^2 = and the tape (Ctrl+T).
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
rm -rf "$XDG_STATE_HOME"
start
sleep 0.5
xdotool key --window "$win" Escape 5 plus 3 q Return ctrl+t
tape=$(window "Quillo-v2 tape")
sleep 0.5
# Both windows cut from the screen, the tape right of the calculator.
shoot_both() {
    local x0 y0 x1 y1 w1 h1
    read -r x0 y0 < <(xdotool getwindowgeometry --shell "$win" | awk -F= '/^[XY]=/ {printf "%s ", $2} END {print ""}')
    read -r x1 y1 w1 h1 < <(xdotool getwindowgeometry --shell "$tape" |
        awk -F= '/^(X|Y|WIDTH|HEIGHT)=/ {printf "%s ", $2} END {print ""}')
    import -window root -crop "$((x1 + w1 - x0))x$((y1 + h1 - y0))+$x0+$y0" +repage "$1"
}
shoot_both "$root/docs/screenshot-tape.png"

# Afresh at 200 %, with no tape: four steps of Ctrl+=, the sum of the second
# picture typed.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
rm -rf "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
start
sleep 0.5
xdotool key --window "$win" ctrl+equal ctrl+equal ctrl+equal ctrl+equal
sleep 0.3
xdotool key --window "$win" Escape 1 2 plus 3 4 period 5 Return
sleep 0.5
import -window "$win" "$root/docs/screenshot-zoom200.png"

# Afresh at 100 % in the high-contrast look, as the settings then say, with
# the tape after 5 + 3 x^2 =.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
rm -rf "$XDG_STATE_HOME"
printf '[view]\nhighContrast=true\nzoom=100\n' >"$XDG_CONFIG_HOME/quillo/quillo.conf"
start
sleep 0.5
xdotool key --window "$win" Escape 5 plus 3 q Return ctrl+t
tape=$(window "Quillo-v2 tape")
sleep 0.5
shoot_both "$root/docs/screenshot-dark.png"
# Afresh in the default look, two lines each with a note written with
# Shift+F2 in the tape.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
rm -rf "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
start
sleep 0.5
xdotool key --window "$win" Escape 1 2 0 0 plus 8 5 period 5 Return plus 4 2 0 Return ctrl+t
tape=$(window "Quillo-v2 tape")
sleep 0.5
note() {
    xdotool key --window "$tape" shift+F2
    xdotool keyup shift
    window Note >/dev/null
    sleep 0.3
    xdotool type --delay 20 "$1"
    xdotool key Return
    sleep 0.3
}
note "the car, December"
xdotool key --window "$tape" Up
note "rent and service charge"
shoot_both "$root/docs/screenshot-notes.png"
echo "saved docs/screenshot.png, docs/screenshot-sum.png, docs/screenshot-long.png," \
    "docs/screenshot-tape.png, docs/screenshot-zoom200.png, docs/screenshot-dark.png" \
    "and docs/screenshot-notes.png"
