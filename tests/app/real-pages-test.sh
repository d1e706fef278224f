#!/usr/bin/env bash
# Pages of multi-page files in the real program in a real window: a one-page
# PNG, a three-page TIFF and a two-page DCX (made with ImageMagick, each page
# its own colour) under a private Xvfb server. Ctrl+Page Down shows each page
# in turn and wraps, Ctrl+Page Up goes back, in full screen and in the windowed
# layout with the list focused; the page panel at the right end of the status
# bar changes with the page while the row panel keeps its text, and a one-page
# file shows no page panel. Exit 77 (skipped) when a tool is missing.
#
# usage: real-pages-test.sh PROGRAM OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
prog=$1
out=$2
pictures=$out/pictures

require_tools Xvfb xdotool import convert compare
mkdir -p "$out" "$pictures"
rm -f "$out"/*.png "$pictures"/*

prog_pid=
owned_pids="prog_pid xvfb_pid"

# a.png: one red page; b.tif: blue, green, white; c.dcx: yellow, magenta.
convert -size 64x48 xc:red "$pictures/a.png" || fail "fixture a.png"
convert -size 60x40 xc:blue -size 40x60 xc:lime -size 50x50 xc:white -compress None \
  "$pictures/b.tif" || fail "fixture b.tif"
convert -size 48x32 xc:yellow -size 32x48 xc:magenta "$pictures/c.dcx" || fail "fixture c.dcx"

fail_logs="$out/program.log"
start_xvfb 1024x768 "$out/xvfb.log"

shot() { import -window root "$out/$1.png" 2>/dev/null || fail "screenshot $1"; }
differ() { compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 | cut -d' ' -f1; }
# The colour at a point of a screenshot as R,G,B (0 to 255 each).
colour() {
  local p="p{$2,$3}"
  convert "$out/$1.png" -format "%[fx:round(255*$p.r)],%[fx:round(255*$p.g)],%[fx:round(255*$p.b)]" info:
}
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
# Full screen: the picture is fitted to the screen, so the centre shows it.
expect_centre() {
  shot "$1"
  [ "$(colour "$1" 512 384)" = "$2" ] || fail "$1: centre is $(colour "$1" 512 384), not $2"
}

"$prog" "-Dir:$pictures" >"$out/program.log" 2>&1 &
prog_pid=$!
wait_window "$prog_pid" "program"
for _ in $(seq 1 100); do
  shot first
  [ "$(colour first 512 384)" = "255,0,0" ] && break
  sleep 0.1
done
settle
expect_centre first "255,0,0"

# A one-page file: Ctrl+Page Down changes nothing.
key ctrl+Next
expect_centre single "255,0,0"

# Full screen: the TIFF's pages in turn, wrapping both ways.
key Next
expect_centre tif1 "0,0,255"
key ctrl+Next
expect_centre tif2 "0,255,0"
key ctrl+Next
expect_centre tif3 "255,255,255"
key ctrl+Next
expect_centre tif1-again "0,0,255"
key ctrl+Prior
expect_centre tif3-again "255,255,255"
# The next row starts on its first page; the DCX has two.
key Next
expect_centre dcx1 "255,255,0"
key ctrl+Next
expect_centre dcx2 "255,0,255"
key ctrl+Next
expect_centre dcx1-again "255,255,0"

# The windowed layout, the list focused: the status bar shows the panels.
key ctrl+f
read -r wx wy < <(xdotool getwindowgeometry "$win" | awk -F'[ ,]+' '/Position/ {print $3, $4}')
[ -n "$wx" ] || fail "no window position"
bar_top=$((wy + 446 - 19))
# Panel 1 (the row) and the inside of panel 3 (the page), cropped from a shot.
crop() {
  convert "$out/$1.png" -crop "110x13+$((wx + 125))+$((bar_top + 3))" +repage "$out/$1-row.png"
  convert "$out/$1.png" -crop "88x13+$((wx + 607 - 95))+$((bar_top + 3))" +repage "$out/$1-page.png"
}
# Whether a cropped panel holds any text (is not one flat colour).
has_text() {
  awk "BEGIN {exit !($(convert "$out/$1.png" -format '%[fx:standard_deviation]' info:) > 0)}"
}
shot win-dcx1
crop win-dcx1
has_text win-dcx1-page || fail "no page panel for the DCX"
key ctrl+Next
shot win-dcx2
crop win-dcx2
[ "$(differ win-dcx1-page win-dcx2-page)" -gt 0 ] || fail "the page panel did not change"
[ "$(differ win-dcx1-row win-dcx2-row)" = 0 ] || fail "the row panel changed with the page"
key ctrl+Prior
shot win-dcx1-again
crop win-dcx1-again
[ "$(differ win-dcx1-page win-dcx1-again-page)" = 0 ] || fail "the page panel did not return"
# The list's Home shows the one-page PNG: no page panel.
key Home
shot win-png
crop win-png
has_text win-png-page && fail "a page panel for a one-page file"

key ctrl+f
key Escape
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
