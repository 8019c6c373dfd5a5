#!/usr/bin/env bash
# One whole normal run of the game under valgrind memcheck, on the current X display:
# start, scroll right, Escape. Fails on any memory error, a definite leak, or an unclean end.
# Usage: valgrind.sh QUARROW_EXECUTABLE DATA_DIRECTORY
set -uo pipefail
exe=$(realpath "$1") data=$(realpath "$2")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$data/map.txt" "$data/untitled.bmp" "$dir"
cd "$dir"
# The loop never yields; without fair scheduling valgrind's serialised threads can starve the
# library's input thread, and Escape is never seen.
timeout -s KILL 300 valgrind --fair-sched=yes --error-exitcode=99 --track-origins=yes --leak-check=full \
  --errors-for-leak-kinds=definite --log-file=valgrind.txt "$exe" >output.txt 2>&1 &
game=$!
# Keys reach the game once the map is painted; under valgrind that takes seconds.
for _ in $(seq 1200); do
  grep -qs "Created Map" gamelog.txt && break
  sleep 0.1
done
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Quarrow$' | head -n 1)
sleep 1
xdotool windowfocus --sync "$window" keydown Right sleep 2 keyup Right keydown Escape sleep 1 keyup Escape
wait "$game"
status=$?
grep -E "ERROR SUMMARY|definitely lost" valgrind.txt
[ "$status" -eq 0 ] || { cat valgrind.txt; echo "valgrind run ended with status $status"; exit 1; }
[ "$(tail -c 15 gamelog.txt)" = "--- End Log ---" ] || { echo "the log did not end"; exit 1; }
