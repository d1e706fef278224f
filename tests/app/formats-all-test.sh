#!/usr/bin/env bash
# Today's formats in the real program in a real window: a folder holding one
# picture of each format beyond the fifteen (an animated GIF, WebP, HEIC,
# AVIF, JPEG XL, a camera RAW DNG, SVG and a .jpe JPEG), made here with
# Debian's encoders, beside a PNG and a JPEG. Started with -formats:all, the
# program lists all of them; Page Down steps through every one, each shown on
# screen with its size in the status bar. Started without the option it lists
# only the PNG and the JPEG. The status bar is read over AT-SPI
# (formats-all-test.py), as a screen reader reads it. Exit 77 (skipped) when a
# tool is missing or the accessibility bus does not start.
#
# usage: formats-all-test.sh PROGRAM DNG_FIXTURES_WRITE OUTPUT_FOLDER
set -uo pipefail
here=$(dirname "$0")
source "$here/../lib/xvfb.sh"
prog=$(realpath "$1")
dng_write=$(realpath "$2")
out=$(realpath -m "$3")

require_tools Xvfb xdotool dbus-run-session import convert cwebp heif-enc avifenc cjxl
python=/usr/bin/python3
[ -x "$python" ] && "$python" -c 'import pyatspi' 2>/dev/null ||
  { echo "SKIP: python3-pyatspi not installed"; exit 77; }
launcher=
for f in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
  [ -x "$f" ] && launcher=$f
done
[ -n "$launcher" ] || { echo "SKIP: at-spi2-core not installed"; exit 77; }

rm -rf "$out"
mkdir -p "$out/pictures/more" "$out/scratch"
p=$out/pictures s=$out/scratch
# Each picture has a size of its own and one colour (the DNG shows its
# scene, the GIF's three frames are red, green and blue).
# The encoders get 8-bit PNGs: from the 16-bit PNG convert writes for a plain
# colour, heif-enc makes a HEIC of other colours (heif-convert shows them too).
fixture() { "$@" >>"$out/fixtures.log" 2>&1 || fail "fixture: $*"; }
fail_logs="$out/fixtures.log"
fixture convert -size 40x30 'xc:rgb(200,30,30)' "$p/a.png"
fixture convert -size 44x33 'xc:rgb(30,200,30)' "$p/b.jpg"
fixture convert -delay 10 -size 48x36 xc:red xc:lime xc:blue -loop 0 "$p/anim.gif"
fixture convert -size 52x39 'xc:rgb(30,30,200)' PNG24:"$s/webp.png"
fixture cwebp -quiet "$s/webp.png" -o "$p/still.webp"
fixture convert -size 56x42 'xc:rgb(200,200,30)' PNG24:"$s/heic.png"
fixture heif-enc -q 90 "$s/heic.png" -o "$p/phone.heic"
fixture convert -size 60x46 'xc:rgb(30,200,200)' PNG24:"$s/avif.png"
fixture avifenc -j 1 "$s/avif.png" "$p/more/web.avif"
fixture convert -size 64x48 'xc:rgb(200,30,200)' PNG24:"$s/jxl.png"
fixture cjxl -q 95 "$s/jxl.png" "$p/more/photo.jxl"
fixture convert -size 74x56 'xc:rgb(120,120,120)' "$s/jpe.jpg"
fixture cp "$s/jpe.jpg" "$p/more/old.jpe"
# A 32 x 24 DNG of the fixture writer's known scene, upright.
fixture "$dng_write" "$s"
fixture cp "$s/mosaic.dng" "$p/more/camera.dng"
cat >"$p/icon.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="70" height="50">
  <rect width="70" height="50" fill="rgb(250,150,0)"/>
</svg>
EOF

start_xvfb 1024x768 "$out/xvfb.log"
# The session bus of this test only; dbus-run-session ends it, and with it
# the accessibility bus, when the script ends.
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
export XDG_RUNTIME_DIR="$out/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- "$python" "$here/formats-all-test.py" "$prog" "$p" "$out"
rc=$?
[ "$rc" -eq 77 ] && exit 77
[ "$rc" -eq 0 ] || fail "formats check failed (exit $rc)"
