#!/usr/bin/env bash
# The real program on a big picture tree (tools/make-big-tree.py) under a
# private Xvfb server, measured with public tools only: launch to the window
# and to the first picture (the full-screen window settled), then in the
# windowed layout a click on the Date title and Page Down in the list, each
# until the screen (read with xwd) changes and settles; the kernel's peak
# resident memory of the process (VmHWM) at the end. One screen read takes
# some tens of milliseconds: that is the resolution of the times.
#
# usage: measure-big-tree.sh PROGRAM TREE
set -uo pipefail
source "$(dirname "$0")/../../tests/lib/xvfb.sh"
prog=$1
tree=$2
work=$(mktemp -d)
prog_pid=
owned_pids="prog_pid xvfb_pid"
require_tools Xvfb xdotool xwd
start_xvfb 1024x768 "$work/xvfb.log"
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
screen() { xwd -root -silent | cksum; }

t0=$(now_ms)
"$prog" "-Dir:$tree" >"$work/program.log" 2>&1 &
prog_pid=$!
for _ in $(seq 1 1200); do
  win=$(xdotool search --pid "$prog_pid" 2>/dev/null | tail -1)
  [ -n "$win" ] && break
  sleep 0.05
done
[ -n "$win" ] || fail "no window"
echo "window shown after $(( $(now_ms) - t0 )) ms"
# Full screen: the scan has ended and the first picture is on its way.
for _ in $(seq 1 12000); do
  eval "$(xdotool getwindowgeometry --shell "$win" 2>/dev/null)"
  [ "${WIDTH:-0}" = 1024 ] && break
  sleep 0.05
done
prev=$(screen)
while :; do sleep 0.05; cur=$(screen); [ "$cur" = "$prev" ] && break; prev=$cur; done
echo "first picture shown after $(( $(now_ms) - t0 )) ms"

# The windowed layout; the list scrolled right to show the Date title.
xdotool windowfocus --sync "$win"
xdotool key ctrl+f
sleep 2
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + 42)) $((Y + 420)) mousedown 1 mousemove $((X + 100)) $((Y + 420)) \
  mousemove $((X + 180)) $((Y + 420)) mouseup 1
sleep 1

# changed_after ACTION...: until the screen changes, and until it settles.
changed_after() {
  local before cur prev t1 start
  before=$(screen)
  start=$(now_ms)
  "$@"
  while :; do cur=$(screen); [ "$cur" != "$before" ] && break; done
  t1=$(now_ms)
  prev=$cur
  while :; do sleep 0.05; cur=$(screen); [ "$cur" = "$prev" ] && break; prev=$cur; done
  echo "changed after $((t1 - start)) ms, settled after $(( $(now_ms) - start - 50 )) ms"
}
echo "Date title click: $(changed_after xdotool mousemove $((X + 17)) $((Y + 33)) click 1)"
sleep 1
echo "Page Down in the list: $(changed_after xdotool key Next)"
grep -E "VmHWM" "/proc/$prog_pid/status"
rm -rf "$work"
