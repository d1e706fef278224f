#!/usr/bin/env bash
# Stepping of the real program under a private Xvfb server with decoding ahead
# on and off (IMBREL_DECODE_AHEAD=off), measured with public tools only: after
# a pause, xdotool presses Page Down (or Page Up) and the screen is read with
# xwd until it changes; /usr/bin/time -v gives the peak resident memory of the
# whole process. One read of the (small, 640 x 480) screen takes some tens of
# milliseconds, printed first: that is the resolution of the times, and about
# one read is added to each.
#
# usage: measure-stepping.sh PROGRAM PICTURE_FOLDER [STEPS]
# The folder should hold big photos (the stepping benchmark makes 20 of
# 6000 x 4000 under the temporary folder, imbrel-step-bench, and with
# --adobe-rgb the same with an Adobe RGB profile, imbrel-step-bench-adobergb,
# whose display copies are converted at every step).
set -uo pipefail
prog=$1
pictures=$2
steps=${3:-6}
source "$(dirname "$0")/../../tests/lib/xvfb.sh"
work=$(mktemp -d)
prog_pid=
owned_pids="prog_pid xvfb_pid"
require_tools Xvfb xdotool xwd /usr/bin/time
start_xvfb 640x480 "$work/xvfb.log"

screen() { xwd -root -silent | cksum; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# step KEY: pause, press KEY, milliseconds until the screen changes.
step() {
  sleep 0.3
  local before after t0 t
  before=$(screen)
  t0=$(now_ms)
  xdotool key "$1"
  for _ in $(seq 1 2000); do
    after=$(screen)
    [ "$after" != "$before" ] && break
  done
  t=$(( $(now_ms) - t0 ))
  echo "$t"
}

t0=$(now_ms)
for _ in $(seq 1 20); do screen >/dev/null; done
echo "one screen read: $(( ($(now_ms) - t0) / 20 )) ms"

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

for mode in on off; do
  IMBREL_DECODE_AHEAD=$mode /usr/bin/time -v -o "$work/time.$mode" "$prog" "-Dir:$pictures" \
    >"$work/log.$mode" 2>&1 &
  prog_pid=$!
  win=
  for _ in $(seq 1 300); do
    child=$(pgrep -P "$prog_pid" | head -1) # the program, under time
    [ -n "$child" ] && win=$(xdotool search --pid "$child" 2>/dev/null | tail -1)
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || fail "no window ($mode)"
  sleep 3 # the first picture and its neighbours
  xdotool windowfocus --sync "$win" 2>/dev/null
  for layout in "full screen" windowed; do
    if [ "$layout" = windowed ]; then
      xdotool key ctrl+f
      sleep 1
      eval "$(xdotool getwindowgeometry --shell "$win")"
      xdotool mousemove $((X + WIDTH - 100)) $((Y + 100)) click 1 # the view takes the keys
      sleep 1
    fi
    down=$(for _ in $(seq 1 "$steps"); do step Next; done | median)
    up=$(for _ in $(seq 1 "$steps"); do step Prior; done | median)
    echo "$layout, decoding ahead $mode: Page Down $down ms, Page Up $up ms (medians of $steps)"
    eval "res_${mode}_${layout// /_}_down=$down res_${mode}_${layout// /_}_up=$up"
  done
  xdotool key Escape
  wait "$prog_pid"
  prog_pid=
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.$mode")
  echo "decoding ahead $mode: peak resident memory $((rss / 1024)) MiB"
done
rm -rf "$work"
