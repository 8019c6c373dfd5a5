#!/bin/sh
# Starts Quarrow in the player's own folder, $XDG_DATA_HOME/quarrow, or $HOME/.local/share/quarrow where
# XDG_DATA_HOME is not an absolute path (HOME must be one then). The folder is made on the first run and
# given the shipped map and tile sheet where it lacks them; a player's own files are never replaced. The
# game then runs there, so its log lands beside the map.
# Started from a menu, where nobody reads standard error, a start that fails, or that plays but warned, shows it in
# a box.
set -eu
# A standard stream the launcher was started without is opened on /dev/null, so that what it and the game write
# there is lost rather than failing, as the game itself does.
true 2>/dev/null 3>&1 || exec >/dev/null
true 3>&2 || exec 2>/dev/null
# A stream whose reader has gone fails a write instead of ending the launcher before its box.
trap '' PIPE

# Breaks the heading $1 (if any) and standard input's lines at spaces to fit 66 columns (a longer word at the 66th):
# xmessage's default font takes 9 pixels a column, so that its box is at most 640 pixels wide. Of a text longer than a
# box shows (24 lines), keeps its first line, which says what the box is about (and the heading), and the last lines,
# where the reason stands, as the game does.
fit() {
  { [ -z "${1:-}" ] || printf '%s\n' "$1"; cat; } | fold -s -w 66 | awk -v k="${1:+2}" 'BEGIN { k = k ? k : 1 }
    NR <= k { first[NR] = $0 } { kept[NR % 24] = $0 } END {
    for (i = 1; NR > 24 && i <= k; i++) print first[i]
    if (NR > 24) print "(" NR - 23 " lines left out)"
    for (i = NR > 24 ? NR - 22 + k : 1; i <= NR; i++) print kept[i % 24] }'
}

# Shows the heading $1 and standard input, fit, in a box when standard error is not a terminal and there is a display
# and xmessage. The box reads it from a file, which takes a text of any length, and one that starts with "-" for no
# option; where that file cannot be written, there is no box.
show() {
  [ ! -t 2 ] && command -v xmessage >/dev/null 2>&1 && box=$(mktemp 2>/dev/null) || return 0
  fit "${1:-}" >"$box" 2>/dev/null &&
    xmessage -center -title Quarrow -buttons OK:0 -default OK -file "$box" >/dev/null 2>&1 || true
  rm -f -- "$box"
}

die() {
  printf 'quarrow: %s\n' "$*" >&2 || true
  show <<EOF
quarrow: $*
EOF
  exit 1
}

# The game and its data lie where they were installed from this script's folder, wherever the tree was unpacked.
self=$(readlink -f -- "$0") || die "cannot tell where the launcher $0 lies"
game=${self%/*}/@QUARROW_GAME_FROM_BIN@
shipped=${self%/*}/@QUARROW_SHIPPED_FROM_BIN@
[ -x "$game" ] || die "the game is missing: $game"

# A relative XDG_DATA_HOME is ignored, as the XDG base directory rules say.
case ${XDG_DATA_HOME:-} in
  /*) folder=$XDG_DATA_HOME/quarrow ;;
  *)
    case ${HOME:-} in
      /*) folder=$HOME/.local/share/quarrow ;;
      *) die "HOME is not set to a folder (nor XDG_DATA_HOME), so there is nowhere to keep your maps" ;;
    esac
    ;;
esac

# Everything that can be wrong is looked at before a file is written.
if [ ! -d "$folder" ]; then
  if [ -e "$folder" ] || [ -L "$folder" ]; then
    die "$folder is not a folder; move it away to let the game make its folder there"
  fi
  err=$(mkdir -p -- "$folder" 2>&1) || die "cannot make the folder $folder: ${err##*: }"
fi
if [ ! -w "$folder" ] || [ ! -x "$folder" ]; then
  die "cannot write into the folder $folder"
fi
for file in map.txt untitled.bmp; do
  if [ ! -f "$folder/$file" ] && { [ -e "$folder/$file" ] || [ -L "$folder/$file" ]; }; then
    die "$folder/$file is not a regular file; move it away to get the shipped one back"
  fi
  # Its copy is made under a name of the launcher's id, which a leftover of a process of that id may hold: one
  # that is not a regular file is left alone, as below, and in the way.
  if [ ! -e "$folder/$file" ] && [ -e "$folder/.$file.$$" ] && [ ! -f "$folder/.$file.$$" ]; then
    die "$folder/.$file.$$ is in the way of the copy of $file; move it away"
  fi
done

# Each copy is made under a temporary name and renamed without replacing anything, so a failed
# or interrupted copy leaves no partial file in place and a file the player put there meanwhile is kept.
# A launcher killed outright during its copy leaves its temporary file, named by its process id: one
# whose launcher no longer runs is removed.
for file in map.txt untitled.bmp; do
  for left in "$folder/.$file".*; do
    pid=${left#"$folder/.$file."}
    case $pid in '' | *[!0-9]*) continue ;; esac
    [ ! -f "$left" ] || kill -0 "$pid" 2>/dev/null || [ -e "/proc/$pid" ] || rm -f -- "$left"
  done
done
tmp=
trap 'rm -f -- "$tmp"' EXIT
for file in map.txt untitled.bmp; do
  [ -e "$folder/$file" ] && continue
  tmp=$folder/.$file.$$
  trap 'die "cannot copy $file into $folder: the copy was cut short"' HUP INT TERM
  rm -f -- "$tmp"
  # The shell's own word for a copy killed by a signal ("Terminated") is left out: the trap says what happened.
  if ! err=$(cp -- "$shipped/$file" "$tmp" 2>&1) 2>/dev/null ||
    ! err=$(mv -n -- "$tmp" "$folder/$file" 2>&1) 2>/dev/null; then
    err=${err##*: }
    die "cannot copy $file into $folder: ${err:-the copy was cut short}"
  fi
  rm -f -- "$tmp"
done
trap - EXIT HUP INT TERM

cd -- "$folder"
[ -t 2 ] && exec "$game" "$@"
# Started from a menu, the game's standard error is passed on line by line as the game writes it, for the desktop to
# keep at once, and kept to show, should it end with a failure status or having warned. A temporary folder holds the
# pipe it goes through and the copy kept; without one, the game runs as from a terminal.
keep=$(mktemp -d 2>/dev/null) && mkfifo "$keep/errors" || { rm -rf -- "$keep"; exec "$game" "$@"; }
trap 'rm -rf -- "$keep"' EXIT
# Meanwhile the launcher's standard error is descriptor 5, and its descriptor 2 /dev/null, where the shell's
# "Terminated" for a game ended by a signal goes: the player or the desktop sent it, and it gets no box either.
exec 5>&2 2>/dev/null
tee -p -- "$keep/kept" <"$keep/errors" >&5 5>&- &
status=0
(exec "$game" "$@" 2>"$keep/errors" 5>&-) || status=$?
wait
exec 2>&5 5>&-
if [ "$status" -ne 0 ] && [ "$status" -le 127 ]; then
  [ -s "$keep/kept" ] || echo "Quarrow ended with status $status." >"$keep/kept" || true
  show <"$keep/kept"
elif [ "$status" -eq 0 ] && [ -s "$keep/kept" ]; then
  show "Quarrow played, but warned:" <"$keep/kept"
fi
exit "$status"
