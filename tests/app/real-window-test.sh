#!/usr/bin/env bash
# The real program in a real window: starts TobbinsImbrel on a picture folder
# under a private Xvfb server with the slide show on, sends keys with xdotool,
# takes screenshots and checks that pictures appear and change, that Ctrl+F
# leaves and re-enters full screen, and that Esc ends the program with exit
# code 0. Exit 77 (skipped) when Xvfb, xdotool or ImageMagick is missing.
#
# usage: real-window-test.sh PROGRAM PICTURE_FOLDER OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
prog=$1
pictures=$2
out=$3

require_tools Xvfb xdotool import convert
mkdir -p "$out"
rm -f "$out"/*.png

prog_pid=
owned_pids="prog_pid xvfb_pid"

# A free display number, picked at random.
fail_logs="$out/program.log"
start_xvfb 1024x768 "$out/xvfb.log"

shot() { import -window root "$out/$1.png" 2>/dev/null || fail "screenshot $1"; }
# Mean brightness of a screenshot, 0 to 1.
mean() { convert "$out/$1.png" -colorspace Gray -format "%[fx:mean]" info:; }
# Number of pixels that differ between two screenshots.
differ() { compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 | cut -d' ' -f1; }
geometry() { xdotool getwindowgeometry "$win" | awk '/Geometry/ {print $2}'; }
# Sends keys, then waits until the screen has settled (two equal screenshots).
key() {
  xdotool windowfocus --sync "$win" 2>/dev/null
  xdotool key --delay 50 "$@"
  settle
}
settle() {
  sleep 0.3
  import -window root "$out/settle-a.png" 2>/dev/null
  for _ in $(seq 1 40); do
    sleep 0.2
    import -window root "$out/settle-b.png" 2>/dev/null
    [ "$(differ settle-a settle-b)" = 0 ] && break
    mv "$out/settle-b.png" "$out/settle-a.png"
  done
  rm -f "$out"/settle-*.png
}

"$prog" "-Dir:$pictures" -slideshow >"$out/program.log" 2>&1 &
prog_pid=$!

# The window, then its first picture.
wait_window "$prog_pid" "program"
for _ in $(seq 1 100); do
  shot first
  awk "BEGIN {exit !($(mean first) > 0.02)}" && break
  sleep 0.1
done
awk "BEGIN {exit !($(mean first) > 0.02)}" || fail "no picture painted"
[ "$(geometry)" = "1024x768" ] || fail "not full screen at start: $(geometry)"

# Slower slides first (Down adds 500 ms per press, from 4000 to 14000), so
# that no tick falls between the key checks below.
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key --delay 20 $(for _ in $(seq 1 20); do printf 'Down '; done)
settle
shot first

# Page Down shows another picture; Page Up returns to the first one.
key Next
shot next
[ "$(differ first next)" -gt 1000 ] || fail "Page Down changed nothing"
key Prior
shot back
[ "$(differ first back)" -lt 1000 ] || fail "Page Up did not return to the first picture"
key Right
shot right
[ "$(differ first right)" -gt 1000 ] || fail "Right changed nothing"
key Left

# Keypad + zooms in (the picture grows), - zooms back out.
key KP_Add
shot zoomin
[ "$(differ back zoomin)" -gt 1000 ] || fail "keypad + changed nothing"
key KP_Subtract

# Ctrl+F leaves full screen: the designed window with the list and status bar.
key ctrl+f
shot windowed
[ "$(geometry)" = "607x446" ] || fail "Ctrl+F did not leave full screen: $(geometry)"
key ctrl+f
[ "$(geometry)" = "1024x768" ] || fail "Ctrl+F did not re-enter full screen: $(geometry)"

# Esc that closes the popup menu (opened with a right click on the picture)
# leaves the program running; the next Esc, on the view, ends it.
# (The open menu holds the keyboard: the key goes without a focus change.)
xdotool mousemove 500 400 click 3
settle
xdotool key Escape
settle
kill -0 "$prog_pid" 2>/dev/null || fail "the Esc that closed the popup ended the program"

# Faster slides (Up takes 500 ms per press, down to 1000): the slide show
# moves on by itself within a few seconds.
# (No settling here: with slides every second the screen never settles.)
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key --delay 50 $(for _ in $(seq 1 30); do printf 'Up '; done)
shot before-tick
moved=
for _ in $(seq 1 20); do
  sleep 0.5
  shot after-tick
  if [ "$(differ before-tick after-tick)" -gt 1000 ]; then
    moved=1
    break
  fi
done
[ -n "$moved" ] || fail "the slide show did not move on"

# Esc ends the program with exit code 0.
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key Escape
for _ in $(seq 1 100); do
  kill -0 "$prog_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$prog_pid" 2>/dev/null && fail "Esc did not end the program"
wait "$prog_pid"
rc=$?
prog_pid=
[ "$rc" -eq 0 ] || fail "exit code $rc"
echo "PASS (screenshots in $out)"
