#!/usr/bin/env bash
# Sets up and runs Quarrow. With no display, runs it on a virtual one, saves a
# screenshot, ends it with Escape and says where the screenshot and the log are.
set -euo pipefail
cd "$(dirname "$0")"
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}"
build build
cd data
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec ../build/quarrow
fi
start_xvfb
../build/quarrow 2>/dev/null &
game=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quarrow$' | head -n 1)
sleep 2
import -window "$window" screenshot.png
xdotool windowfocus --sync "$window" key Escape
wait "$game" && status=0 || status=$?
echo "No display here, so Quarrow ran on a virtual one and ended with status $status."
echo "Screenshot: data/screenshot.png"
echo "Log:        data/gamelog.txt"
exit "$status"
