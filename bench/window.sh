#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The window bench twice: offscreen, and in a real X window on a private
# Xvfb, where every key is also drawn and the X server answers.
# Usage: bench/window.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: bench/window.sh BUILD_DIR}" && pwd)
bench=$build/bin/quillo-window-bench

QT_QPA_PLATFORM=offscreen "$bench"

command -v Xvfb >/dev/null || { echo "window bench: Xvfb not found (Debian package xvfb)" >&2; exit 1; }
# shellcheck source=bench/startup/private-x.sh
source "$(dirname "${BASH_SOURCE[0]}")/startup/private-x.sh"
private_x "window bench"
cd "$tmp/cwd"
"${run_env[@]}" "$bench"
