#!/usr/bin/env bash
# Launch to first picture, and peak memory with one picture shown, of the real
# program under a private Xvfb server, measured with public tools only:
# screenshots (ImageMagick import) polled until the screen is no longer black,
# and /usr/bin/time -v for the maximum resident set size.
#
# usage: measure-launch.sh PROGRAM PICTURE_FOLDER [RUNS]
# Prints one line per run and the medians.
set -uo pipefail
prog=$1
pictures=$2
runs=${3:-5}
work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display number itself and writes it once it takes clients.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
n=
for _ in $(seq 1 200); do
  n=$(head -n 1 "$work/display" 2>/dev/null)
  [ -n "$n" ] && break
  sleep 0.05
done
[ -n "$n" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$n" QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled:

painted() {  # true when the screen shows something other than black
  local m
  m=$(import -window root -colorspace Gray -format "%[fx:mean]" info: 2>/dev/null) || return 1
  awk "BEGIN {exit !($m > 0.02)}"
}

launch_ms=()
rss_kb=()
for r in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  /usr/bin/time -v -o "$work/time.$r" "$prog" "-Dir:$pictures" >/dev/null 2>&1 &
  pid=$!
  end=
  for _ in $(seq 1 400); do
    t=$(date +%s%N)
    if painted; then
      end=$t
      break
    fi
  done
  [ -n "$end" ] || { echo "run $r: no picture"; kill "$pid"; continue; }
  ms=$(((end - start) / 1000000))
  sleep 2  # one picture shown (and the next one decoded ahead)
  child=$(pgrep -P "$pid" | head -1)
  win=$(xdotool search --pid "$child" 2>/dev/null | tail -1)
  [ -n "$win" ] && xdotool windowfocus --sync "$win" key Escape 2>/dev/null
  wait "$pid"
  kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.$r")
  echo "run $r: launch to first picture ${ms} ms (screenshot at its start; a screenshot takes about 50-150 ms), max RSS ${kb} KiB"
  launch_ms+=("$ms")
  rss_kb+=("$kb")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
echo "median launch to first picture: $(median "${launch_ms[@]}") ms"
echo "median max RSS: $(median "${rss_kb[@]}") KiB"
