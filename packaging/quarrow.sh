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

# Breaks standard input's lines at spaces to fit 66 columns (a longer word at the 66th): xmessage's default font
# takes 9 pixels a column, so that its box is at most 640 pixels wide. Of a text longer than a box shows (24 lines),
# keeps the first line, which says what the box is about, and the last 22, where the reason stands, as the game does.
fit() {
  fold -s -w 66 | awk 'NR == 1 { first = $0 } { kept[NR % 24] = $0 } END {
    if (NR > 24) print first "\n(" NR - 23 " lines left out)"
    for (i = NR > 24 ? NR - 21 : 1; i <= NR; i++) print kept[i % 24] }'
}

# Shows standard input, fit, in a box when standard error is not a terminal and there is a display and xmessage. The
# box reads it from a file, which takes a text of any length, and one that starts with "-" for no option.
show() {
  [ ! -t 2 ] && command -v xmessage >/dev/null 2>&1 && box=$(mktemp 2>/dev/null) || return 0
  fit >"$box"
  xmessage -center -title Quarrow -buttons OK:0 -default OK -file "$box" >/dev/null 2>&1 || true
  rm -f -- "$box"
}

die() {
  printf 'quarrow: %s\n' "$*" >&2
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
  [ -s "$keep/kept" ] || echo "Quarrow ended with status $status." >"$keep/kept"
  show <"$keep/kept"
elif [ "$status" -eq 0 ] && [ -s "$keep/kept" ]; then
  # From a file, so that its box is the launcher's own child, as every box of its is.
  { echo "Quarrow played, but warned:" && cat "$keep/kept"; } >"$keep/box"
  show <"$keep/box"
fi
exit "$status"
