#!/usr/bin/env bash
# A new user's first start in a real window: the program, copied into a
# folder without pictures (as an installed program's folder is), is started
# without arguments by a user whose home holds a picture of its own and a
# Pictures folder that user-dirs.dirs names. The folder dialog opens on that
# Pictures folder, Enter confirms it, and its picture is shown (each picture
# is one colour, so the screen tells which folder was catalogued). Exit 77
# (skipped) when Xvfb, xdotool or ImageMagick is missing.
#
# usage: first-day-test.sh PROGRAM OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
prog=$(realpath "$1")
out=$(realpath -m "$2")

require_tools Xvfb xdotool import convert
rm -rf "$out"
mkdir -p "$out/app" "$out/home/Pictures/2024" "$out/home/.config" "$out/work"
cp "$prog" "$out/app/TobbinsImbrel" || fail "cannot copy the program"
echo "read me" >"$out/app/README"
# The home's own picture comes first in a walk of the home folder, so a
# dialog opened on home (instead of Pictures) shows red.
convert -size 64x48 xc:'rgb(255,0,0)' "$out/home/a-home.png" || fail "fixture a-home.png"
convert -size 64x48 xc:'rgb(0,255,0)' "$out/home/Pictures/2024/holiday.png" ||
  fail "fixture holiday.png"
cat >"$out/home/.config/user-dirs.dirs" <<'EOF'
# This file is written by xdg-user-dirs-update
XDG_DESKTOP_DIR="$HOME/Desktop"
XDG_PICTURES_DIR="$HOME/Pictures"
EOF

prog_pid=
owned_pids="prog_pid xvfb_pid"
fail_logs="$out/program.log"
start_xvfb 640x480 "$out/xvfb.log"

centre() {
  import -window root "$out/$1.png" 2>/dev/null || fail "screenshot $1"
  convert "$out/$1.png" -crop 1x1+320+240 +repage \
    -format "%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]" info:
}

# No arguments, started from a working folder of its own.
(cd "$out/work" && HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" \
  exec "$out/app/TobbinsImbrel" >"$out/program.log" 2>&1) &
prog_pid=$!

# The folder dialog: the catalogue of the program's folder is empty.
dialog=
for _ in $(seq 1 150); do
  dialog=$(xdotool search --name '^Browse for Folder$' 2>/dev/null | tail -1)
  [ -n "$dialog" ] && break
  kill -0 "$prog_pid" 2>/dev/null || fail "the program ended at start"
  sleep 0.1
done
[ -n "$dialog" ] || fail "no folder dialog"

# Enter confirms once the search has found a picture below the preselected
# folder (OK is off until then).
for _ in $(seq 1 100); do
  xdotool search --name '^Browse for Folder$' >/dev/null 2>&1 || break
  xdotool windowfocus --sync "$dialog" 2>/dev/null
  xdotool key Return
  sleep 0.2
done
xdotool search --name '^Browse for Folder$' >/dev/null 2>&1 && fail "Enter did not close the dialog"

seen=
for _ in $(seq 1 100); do
  seen=$(centre shown)
  [ "$seen" = "0,255,0" ] && break
  sleep 0.1
done
[ "$seen" = "0,255,0" ] || fail "the picture shown is $seen, not the Pictures folder's (0,255,0)"

wait_window "$prog_pid" "program"
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
