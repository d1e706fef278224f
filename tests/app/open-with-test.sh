#!/usr/bin/env bash
# "Open with" in a real window: the program started on a folder path shows
# that folder's first picture; started on a picture path it shows that
# picture, and Page Down goes on to the next one in the list's order. Three
# single-colour pictures tell which one is on screen. Exit 77 (skipped) when
# Xvfb, xdotool or ImageMagick is missing.
#
# usage: open-with-test.sh PROGRAM OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
prog=$(realpath "$1")
out=$(realpath -m "$2")

require_tools Xvfb xdotool import convert
rm -rf "$out"
mkdir -p "$out/pictures/more"
convert -size 64x48 xc:'rgb(255,0,0)' "$out/pictures/a.png" || fail "fixture a.png"
convert -size 64x48 xc:'rgb(0,255,0)' "$out/pictures/b.png" || fail "fixture b.png"
convert -size 64x48 xc:'rgb(0,0,255)' "$out/pictures/more/c.png" || fail "fixture c.png"

prog_pid=
owned_pids="prog_pid xvfb_pid"
fail_logs="$out/program.log"
start_xvfb 640x480 "$out/xvfb.log"

# The colour at the screen's centre, as "r,g,b".
centre() {
  import -window root "$out/$1.png" 2>/dev/null || fail "screenshot $1"
  convert "$out/$1.png" -crop 1x1+320+240 +repage \
    -format "%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]" info:
}
# Waits until the centre shows COLOUR; fails naming WHAT otherwise.
expect_colour() {
  local colour=$1 what=$2 seen=
  for _ in $(seq 1 100); do
    seen=$(centre "$what")
    [ "$seen" = "$colour" ] && return 0
    sleep 0.1
  done
  fail "$what: centre is $seen, expected $colour"
}
# start ARGS...: starts the program in OUTPUT_FOLDER and waits for its window.
start() {
  (cd "$out" && exec "$prog" "$@" >"$out/program.log" 2>&1) &
  prog_pid=$!
  wait_window "$prog_pid" "program ($*)"
}
# Esc ends the program with exit code 0.
quit() {
  xdotool windowfocus --sync "$win" 2>/dev/null
  xdotool key Escape
  for _ in $(seq 1 100); do
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$prog_pid" 2>/dev/null && fail "Esc did not end the program"
  wait "$prog_pid"
  local rc=$?
  prog_pid=
  [ "$rc" -eq 0 ] || fail "exit code $rc"
}

red=255,0,0 green=0,255,0 blue=0,0,255

# A folder path: its first picture by name (a, b, then more/c).
start "$out/pictures"
expect_colour "$red" folder-start
quit

# A picture path, relative to the working folder: that picture, then the next.
start pictures/b.png
expect_colour "$green" picture-start
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key Next
expect_colour "$blue" picture-next
quit
echo "PASS (screenshots in $out)"
