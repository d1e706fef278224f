#!/usr/bin/env bash
# Memory of the real program under a private Xvfb server (1920 x 1080), read
# from /proc/PID/status (public tools only), all in one run:
#   - the floor: the program's own start-up memory (its peak with a tiny
#     picture shown) plus one 6000 x 4000 picture's pixels (72 MB);
#   - the peak with one 24 MP JPEG shown, over the floor;
#   - the peak over 20 such pictures stepped with Page Down after 1 s
#     pauses, over the floor;
#   - a slide show of STEPS steps (Page Down every 0.4 s, a pause long enough
#     for decoding ahead) over the 20 photos: resident memory after all steps
#     over resident memory after 20.
# feh, when installed, is measured on the same files the same way (its Right
# key steps) and printed beside.
#
# usage: measure-memory.sh PROGRAM [PICTURE_FOLDER] [STEPS]
# PICTURE_FOLDER defaults to the stepping benchmark's folder of 20 photos
# (imbrel-step-bench under the temporary folder), made with Pillow when
# missing. STEPS defaults to 1000.
set -uo pipefail
prog=$(realpath "$1")
pictures=${2:-${TMPDIR:-/tmp}/imbrel-step-bench}
steps=${3:-1000}
source "$(dirname "$0")/../../tests/lib/xvfb.sh"
work=$(mktemp -d)
prog_pid=
owned_pids="prog_pid xvfb_pid"
require_tools Xvfb xdotool
# The system's Python, which has Pillow when the install script ran.
py=/usr/bin/python3
[ -x "$py" ] || py=python3
start_xvfb 1920x1080 "$work/xvfb.log"

if [ "$(ls "$pictures"/*.jpg 2>/dev/null | wc -l)" -lt 20 ]; then
  mkdir -p "$pictures"
  echo "making 20 photos of 6000 x 4000 in $pictures"
  "$py" - "$pictures" <<'EOF' || fail "could not make the photos (Pillow)"
import sys
from PIL import Image, ImageChops
folder = sys.argv[1]
for i in range(20):
    # Smooth colour fields with fine grain: decodes like a photograph.
    grad = Image.linear_gradient("L").resize((6000, 4000)).rotate(i * 17, expand=False)
    noise = [Image.effect_noise((6000, 4000), 20 + 3 * c) for c in range(3)]
    bands = [ImageChops.add(grad, n, scale=2.0, offset=c * 20) for c, n in enumerate(noise)]
    Image.merge("RGB", bands).save(f"{folder}/photo{i:02d}.jpg", quality=90)
EOF
fi
tiny=$work/tiny
mkdir -p "$tiny" "$work/one"
"$py" -c "from PIL import Image; Image.new('RGB', (1, 1), (90, 90, 90)).save('$tiny/tiny.jpg')"
first=$(ls "$pictures"/*.jpg | head -1)
cp "$first" "$work/one/"

status_kib() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status" 2>/dev/null; }

# start NAME COMMAND...: starts a program, waits for its window and focuses it.
start() {
  "${@:2}" >"$work/log.$1" 2>&1 &
  prog_pid=$!
  fail_logs="$fail_logs $work/log.$1"
  win=
  for _ in $(seq 1 300); do
    win=$(xdotool search --pid "$prog_pid" 2>/dev/null | tail -1)
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || fail "no window of $1"
  sleep 3 # the first picture and its neighbours
  xdotool windowfocus --sync "$win" 2>/dev/null
}
stop() {
  kill "$prog_pid" 2>/dev/null
  wait "$prog_pid" 2>/dev/null
  prog_pid=
}

# measure NAME NEXT_KEY COMMAND_FOR_TINY COMMAND_FOR_ONE COMMAND_FOR_20
measure() {
  local name=$1 key=$2
  start "$name-tiny" $3
  local start_kib
  start_kib=$(status_kib "$prog_pid" VmHWM)
  stop
  start "$name-one" $4
  local one_kib
  one_kib=$(status_kib "$prog_pid" VmHWM)
  stop
  start "$name-20" $5
  for _ in $(seq 1 20); do
    xdotool key "$key"
    sleep 1
  done
  local twenty_kib after20_kib
  twenty_kib=$(status_kib "$prog_pid" VmHWM)
  after20_kib=$(status_kib "$prog_pid" VmRSS)
  local n=20
  while [ "$n" -lt "$steps" ]; do
    xdotool key "$key"
    sleep 0.4
    n=$((n + 1))
  done
  sleep 2
  local after_kib
  after_kib=$(status_kib "$prog_pid" VmRSS)
  stop
  # The floor: start-up memory plus 6000 x 4000 x 3 bytes.
  local floor_kib=$((start_kib + 72000000 / 1024))
  echo "$name: start-up $((start_kib / 1024)) MiB, floor $((floor_kib / 1024)) MiB," \
    "one 24 MP shown $((one_kib / 1024)) MiB, 20 stepped $((twenty_kib / 1024)) MiB," \
    "resident after 20 steps $((after20_kib / 1024)) MiB, after $steps $((after_kib / 1024)) MiB"
  eval "${name}_one=$(awk "BEGIN {printf \"%.3f\", $one_kib / $floor_kib}")"
  eval "${name}_twenty=$(awk "BEGIN {printf \"%.3f\", $twenty_kib / $floor_kib}")"
  eval "${name}_growth=$(awk "BEGIN {printf \"%.3f\", $after_kib / $after20_kib}")"
  eval "${name}_one_mib=$((one_kib / 1024)) ${name}_twenty_mib=$((twenty_kib / 1024))"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $steps slide-show steps"
export DBUS_SESSION_BUS_ADDRESS=disabled:
measure imbrel Next "$prog -Dir:$tiny" "$prog -Dir:$work/one" "$prog -Dir:$pictures"
if command -v feh >/dev/null; then
  measure feh Right "feh -F $tiny" "feh -F $work/one" "feh -F $pictures"
  echo "feh: one shown $feh_one_mib MiB (${feh_one} x its floor), 20 stepped $feh_twenty_mib MiB" \
    "(${feh_twenty} x), growth over $steps steps ${feh_growth}"
  echo "imbrel over feh: one shown $(awk "BEGIN {printf \"%.2f\", $imbrel_one_mib / $feh_one_mib}")," \
    "20 stepped $(awk "BEGIN {printf \"%.2f\", $imbrel_twenty_mib / $feh_twenty_mib}")"
fi
required() {
  echo "required: $1 $2 $3 $(awk "BEGIN {print ($2 <= $3) ? \"ok\" : \"short\"}")"
}
required peak_rss_one_24mp_over_floor "$imbrel_one" 1.30
required peak_rss_20_stepped_over_floor "$imbrel_twenty" 1.30
required slideshow_1000_steps_growth "$imbrel_growth" 1.05
rm -rf "$work"
