#!/usr/bin/env bash
# A real drop between two programs: TobbinsImbrel runs on a small picture
# folder (one name not valid UTF-8) under a private Xvfb server; the list's
# first four rows are selected with the keyboard and dragged with xdotool onto
# the project's drop-target program, which writes the paths it received as
# bytes. Exit 77 (skipped) when Xvfb or
# xdotool is missing.
#
# usage: real-drop-test.sh PROGRAM DROPTARGET OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
prog=$1
target=$2
out=$3

require_tools Xvfb xdotool convert
rm -rf "$out"
mkdir -p "$out/pictures/sub"
convert -size 64x48 xc:red "$out/pictures/a.png"
convert -size 64x48 xc:green "$out/pictures/b.png"
convert -size 64x48 xc:blue "$out/pictures/sub/c.png"
# A name that is not valid UTF-8 (Latin-1 e-acute): its bytes must arrive as they are.
cafe=$(printf 'caf\xe9.png')
convert -size 64x48 xc:yellow "$out/pictures/sub/$cafe"

prog_pid= target_pid=
owned_pids="target_pid prog_pid xvfb_pid"

fail_logs="$out/program.log $out/target.log"
start_xvfb 1280x800 "$out/xvfb.log"

"$prog" "-Dir:$out/pictures/" >"$out/program.log" 2>&1 &
prog_pid=$!
win=
for _ in $(seq 1 150); do
  win=$(xdotool search --pid "$prog_pid" 2>/dev/null | tail -1)
  [ -n "$win" ] && break
  kill -0 "$prog_pid" 2>/dev/null || fail "program ended at start"
  sleep 0.1
done
[ -n "$win" ] || fail "no window"
sleep 1.5

# Leave full screen: the designed window with the list on the left.
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key ctrl+f
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
[ "$WIDTH" = 607 ] || fail "Ctrl+F did not leave full screen (width $WIDTH)"
wx=$X wy=$Y

# Select the first four rows from the keyboard: click a cell, Ctrl+Home,
# then Shift+Down three times.
xdotool mousemove $((wx + 60)) $((wy + 60)) click 1
sleep 0.5
xdotool key ctrl+Home
sleep 0.3
xdotool key shift+Down shift+Down shift+Down
sleep 0.5

"$target" "$out/dropped.txt" 800 200 300 300 >"$out/target.log" 2>&1 &
target_pid=$!
for _ in $(seq 1 100); do
  grep -q ready "$out/target.log" 2>/dev/null && break
  sleep 0.1
done
grep -q ready "$out/target.log" || fail "drop target did not start"

# Press on a data row, move beyond the drag distance after 200 ms, carry the
# drag onto the target and release there.
px=$((wx + 60)) py=$((wy + 60))
xdotool mousemove $px $py
sleep 0.2
xdotool mousedown 1
sleep 0.1
xdotool mousemove $((px + 20)) $py
sleep 0.3
xdotool mousemove $((px + 30)) $((py + 5))
sleep 0.3
xdotool mousemove 950 350
sleep 0.3
xdotool mousemove 955 355
sleep 0.3
xdotool mouseup 1

for _ in $(seq 1 50); do
  [ -s "$out/dropped.txt" ] && break
  sleep 0.1
done
[ -s "$out/dropped.txt" ] || fail "nothing was dropped"
cat "$out/dropped.txt"

expected="$out/pictures/a.png
$out/pictures/b.png
$out/pictures/sub/c.png
$out/pictures/sub/$cafe
text: $out/pictures/a.png
action: copy"
[ "$(head -n 6 "$out/dropped.txt")" = "$expected" ] ||
  fail "dropped paths differ from the four selected rows"
# The uri-list percent-encodes the name's own byte, not a replacement character.
grep -q '/pictures/sub/caf%E9\.png' "$out/dropped.txt" || fail "the uri-list lost the byte 0xE9"
echo "PASS"
