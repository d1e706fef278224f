#!/usr/bin/env bash
# The picture view in a real window: viewdemo shows generated pictures under a
# private Xvfb server; a screenshot of its window (taken from the X server)
# must show each picture fitted and centred, the right way round, with the
# view's background around it. Exit 77 (skipped) when Xvfb, xdotool or
# ImageMagick is missing.
#
# usage: real-view-test.sh VIEWDEMO OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
demo=$1
out=$2

require_tools Xvfb xdotool import convert
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.bmp "$out"/*.jpg

demo_pid=
owned_pids="demo_pid xvfb_pid"

start_xvfb 1024x768 "$out/xvfb.log"

# Pictures: red left half, blue right half.
convert -size 600x300 xc:red \( -size 600x300 xc:blue \) +append -type truecolor \
  "BMP3:$out/wide.bmp" || fail "cannot make wide.bmp"
convert -size 100x100 xc:red \( -size 100x100 xc:blue \) +append -quality 95 \
  "$out/small.jpg" || fail "cannot make small.jpg"
background=

# show NAME PICTURE MODE: starts viewdemo on a 600 x 400 window, waits for its
# first paint and takes a screenshot of its window as NAME.png.
show() {
  local name=$1 picture=$2 mode=$3 win=
  "$demo" --size 600x400 --centered --mode "$mode" "$picture" >"$out/$name.log" 2>&1 &
  demo_pid=$!
  for _ in $(seq 1 100); do
    grep -q ready "$out/$name.log" && break
    kill -0 "$demo_pid" 2>/dev/null || fail "$name: viewdemo ended: $(cat "$out/$name.log")"
    sleep 0.1
  done
  grep -q ready "$out/$name.log" || fail "$name: no first paint"
  win=$(xdotool search --pid "$demo_pid" 2>/dev/null | tail -1)
  [ -n "$win" ] || fail "$name: no window"
  sleep 0.5 # let the server have the painted frame
  import -window "$win" "$out/$name.png" 2>/dev/null || fail "$name: screenshot"
  kill "$demo_pid" 2>/dev/null
  wait "$demo_pid" 2>/dev/null
  demo_pid=
  [ "$(identify -format '%wx%h' "$out/$name.png")" = 600x400 ] || fail "$name: window size"
}

# pixel NAME X Y: the screenshot's colour at (X, Y) as "R G B".
pixel() {
  convert "$out/$1.png" -format "%[fx:int(255*p{$2,$3}.r+.5)] %[fx:int(255*p{$2,$3}.g+.5)] %[fx:int(255*p{$2,$3}.b+.5)]" info:
}

# expect NAME X Y R G B: the colour within 40 per channel (JPEG rounding).
expect() {
  local got r g b
  got=$(pixel "$1" "$2" "$3")
  read -r r g b <<<"$got"
  for d in $((r - $4)) $((g - $5)) $((b - $6)); do
    [ "${d#-}" -le 40 ] || fail "$1 at ($2, $3): $got, expected $4 $5 $6"
  done
}

# A 1200 x 300 picture in zmFullPage: halved to 600 x 150, at (0, 125).
show wide "$out/wide.bmp" fullpage
read -r br bg bb <<<"$(pixel wide 300 5)"
background="$br $bg $bb"
for at in "150 130" "5 200" "295 270"; do expect wide $at 255 0 0; done
for at in "305 130" "594 200" "450 270"; do expect wide $at 0 0 255; done
for at in "300 120" "300 280" "5 5" "594 394"; do expect wide $at $background; done
[ "$background" != "255 0 0" ] && [ "$background" != "0 0 255" ] || fail "background $background"

# A 200 x 100 JPEG in zmFitToPage: never enlarged, so 1:1 at (200, 150).
show small "$out/small.jpg" fittopage
for at in "205 155" "295 245"; do expect small $at 255 0 0; done
for at in "305 155" "394 245"; do expect small $at 0 0 255; done
for at in "195 200" "405 200" "300 145" "300 255"; do expect small $at $background; done

echo "PASS: pictures fitted and centred in a real window"
