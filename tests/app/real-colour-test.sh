#!/usr/bin/env bash
# The display's colour profile in a real X server: the program reads the
# _ICC_PROFILE property of the root window at start and again when a colour
# manager changes it, and converts what it shows to it; -nocolor shows stored
# values; a damaged display profile gives one warning line and sRGB. The
# server runs with -noreset, so the property outlives the helper that set it
# (xprop sets at most 64 bytes).
# The display profile is colord-data's SwappedRedAndGreen.icc: on such a
# display, sRGB red is shown with the display's green values. Exit 77
# (skipped) when a tool or colord-data is missing.
#
# usage: real-colour-test.sh PROGRAM SET_ROOT_PROPERTY OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
prog=$1
setprop=$2
out=$3
swapped=/usr/share/color/icc/colord/SwappedRedAndGreen.icc

require_tools Xvfb xdotool import convert
[ -r "$swapped" ] || { echo "SKIP: colord-data is not installed"; exit 77; }
mkdir -p "$out/pictures"
rm -f "$out"/*.png "$out"/*.log
# A red picture without any colour description: taken as sRGB.
convert -size 1200x900 xc:'#FF0000' "BMP3:$out/pictures/red.bmp" || fail "no test picture"

prog_pid=
owned_pids="prog_pid xvfb_pid"
start_xvfb 640x480 "$out/xvfb.log"

# set_profile FILE: the root window's _ICC_PROFILE becomes FILE's bytes.
set_profile() { "$setprop" _ICC_PROFILE "$1" || fail "setting _ICC_PROFILE"; }
# The colour at the centre of the screen, as "R,G,B".
centre() {
  import -window root -crop 1x1+320+240 -depth 8 txt:- 2>/dev/null |
    sed -n 's/^0,0: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}
# near R,G,B R,G,B: whether two colours differ by at most 2 in each channel.
near() {
  awk -v a="$1" -v b="$2" 'BEGIN {
    if (split(a, x, ",") != 3 || split(b, y, ",") != 3) exit 1
    for (i = 1; i <= 3; i++) if (x[i] - y[i] > 2 || y[i] - x[i] > 2) exit 1
  }'
}
# wait_colour R,G,B WHAT: waits until the centre shows the colour.
wait_colour() {
  local c=
  for _ in $(seq 1 100); do
    c=$(centre)
    near "$c" "$1" && return 0
    sleep 0.1
  done
  fail "$2: the centre shows ${c:-nothing}, expected $1"
}
start() {
  "$prog" "-Dir:$out/pictures" "$@" >"$out/program.log" 2>&1 &
  prog_pid=$!
  fail_logs="$fail_logs $out/program.log"
  wait_window "$prog_pid" "program"
}
stop() {
  kill "$prog_pid" 2>/dev/null
  wait "$prog_pid" 2>/dev/null
  prog_pid=
}

# Started on the swapped display: red is sent as the display's green.
set_profile "$swapped"
start
wait_colour 0,255,0 "swapped display profile at start"
# The colour manager takes the profile away: sRGB, red again; and back.
"$setprop" _ICC_PROFILE --remove || fail "removing _ICC_PROFILE"
wait_colour 255,0,0 "display profile removed"
set_profile "$swapped"
wait_colour 0,255,0 "display profile set again"
stop

# -nocolor: the stored values, whatever the display.
start -nocolor
wait_colour 255,0,0 "-nocolor"
stop

# A damaged display profile: sRGB, and one line saying so.
head -c 300 "$swapped" >"$out/damaged.icc"
set_profile "$out/damaged.icc"
start
wait_colour 255,0,0 "damaged display profile"
stop
lines=$(grep -c "display profile ignored" "$out/program.log")
[ "$lines" = 1 ] || fail "expected one warning line for the damaged profile, got $lines"
echo "PASS"
