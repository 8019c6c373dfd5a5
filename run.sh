#!/usr/bin/env bash
# Sets up and runs Quarrow in play/, a folder of the player's own that gets the shipped map and tile sheet from
# data/ where it lacks them. With no display it runs the game on a virtual one, saves a screenshot (of
# the first message box the game puts up, if any, else of the game), dismisses any message box with
# Return, ends the game with Escape and says what happened and where the screenshot and the log are.
# Every wait has a limit.
set -euo pipefail
cd "$(dirname "$0")"
. tools/common.sh
# One run.sh at a time sets up, builds and fills play/; the games then run side by side.
mkdir -p build
exec {lock}>build/.run.lock
flock -w 1200 "$lock" || { echo "Another ./run.sh kept building for 20 minutes; try again." >&2; exit 1; }
install_packages "${GAME_PACKAGES[@]}"
cmake --preset game >/dev/null
cmake --build --preset game
mkdir -p play
for file in map.txt untitled.bmp; do
  [ -e "play/$file" ] || [ -L "play/$file" ] || { cp "data/$file" "play/.$file" && mv "play/.$file" "play/$file"; }
done
exec {lock}>&-
cd play
if [ -n "${DISPLAY:-}" ] && timeout 10 xdpyinfo >/dev/null 2>&1; then
  exec ../build/quarrow
fi

start_xvfb
output=$(mktemp)
# The game's own open of gamelog.txt empties it; a game already running here keeps it, and this one then logs
# to its standard error instead.
../build/quarrow >"$output" 2>&1 &
game=$!
CLEANUP='kill -9 $game 2>/dev/null; rm -f "$output"'
running() { kill -0 "$game" 2>/dev/null; }
# Whether this game's window shows (found by the process id it carries).
shown() { [ -n "$(timeout 10 xdotool search --all --onlyvisible --pid "$game" --name '^Quarrow$' 2>/dev/null)" ]; }
# This run's log: gamelog.txt once the game has opened it (its window shows only after that, and a game that
# ended opened it first), unless the game could not take it and logs into its output.
logged() {
  if grep -qs "^Cannot create gamelog.txt" "$output"; then
    cat "$output"
  elif shown || ! running; then
    cat gamelog.txt 2>/dev/null || true
  fi
}
# The message boxes on this display (xmessage windows): only the game puts any up here.
message_box() { timeout 10 xdotool search --onlyvisible --class '^Xmessage$' 2>/dev/null | head -n 1 || true; }
screenshot() { timeout 20 import -window "$1" screenshot.png || echo "No screenshot could be taken."; }
# Keys reach the game once the map is painted, which its log tells, unless the game says its log could not be
# written (a full disk). A message box that comes first is what a player sees first: it is the screenshot, and
# it is dismissed as a player would, with Return.
painted() { grep -q "Created Map" <<<"$(logged)" || grep -qs "could not be written whole" "$output"; }
boxes=0
for _ in $(seq 600); do
  if painted || ! running; then break; fi
  box=$(message_box)
  if [ -n "$box" ]; then
    sleep 0.5 # drawn
    [ "$boxes" -eq 0 ] && screenshot root
    boxes=$((boxes + 1))
    timeout 10 xdotool windowfocus --sync "$box" key Return || true
    for _ in $(seq 50); do
      [ -z "$(message_box)" ] && break
      sleep 0.1
    done
  fi
  sleep 0.1
done
if running && painted; then
  window=$(timeout 20 xdotool search --sync --all --onlyvisible --pid "$game" --name '^Quarrow$' | head -n 1) || true
  sleep 1
  [ "$boxes" -eq 0 ] && screenshot "${window:-root}"
  # The game reads the key state, not key presses: hold Escape, and again should it be missed.
  for _ in 1 2 3 4 5; do
    running || break
    timeout 10 xdotool windowfocus --sync "$window" keydown Escape sleep 0.5 keyup Escape || true
    for _ in $(seq 50); do
      running || break
      sleep 0.1
    done
  done
fi
stopped=""
if running; then
  kill "$game"
  stopped="It did not end on Escape within a minute, so this script stopped it."
fi
status=0
wait "$game" || status=$?
log=$(logged)
other=""
if grep -qs "another game is writing it" "$output"; then
  other="Another Quarrow running in play/ is writing play/gamelog.txt; this run left it and its log alone and logged to its standard error instead."
fi
if [ -n "$stopped" ] || [ "$status" -ne 0 ]; then
  cat "$output"
  echo "${stopped:-Quarrow ended with status $status.} ${other:-Its log is play/gamelog.txt.}"
  [ -n "$stopped" ] && exit 1
  exit "$status"
fi
echo "No display here, so Quarrow ran on a virtual one and ended normally."
[ -n "$other" ] && echo "$other"
# The map reader logs its first read only once map.txt is open.
if grep -q "Opening Map File" <<<"$log" && ! grep -q "Getting first character" <<<"$log"; then
  echo "map.txt could not be loaded: the game said so in a message box, which was dismissed with Return;"
  echo "the map was then painted with tile 0 in every cell."
elif [ "$boxes" -gt 0 ]; then
  echo "The game put up $boxes message box(es), each dismissed with Return."
fi
if [ "$boxes" -gt 0 ]; then
  echo "Screenshot: play/screenshot.png (the screen with the first message box)"
else
  echo "Screenshot: play/screenshot.png"
fi
[ -z "$other" ] && echo "Log:        play/gamelog.txt"
exit 0
