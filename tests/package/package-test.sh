#!/usr/bin/env bash
# The Debian package end to end: cpack -G DEB builds it from BUILD_FOLDER, its
# dependencies come from the linked libraries, dpkg -x installs it into a
# scratch root, its desktop entry, AppStream metainfo and manual page pass
# their validators without a warning, and the installed program answers
# --version and shows a picture under a private Xvfb. Exit 77 (skipped) when a
# tool is missing.
#
# usage: package-test.sh BUILD_FOLDER OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
build=$(realpath "$1")
out=$(realpath -m "$2")

require_tools cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli man \
  Xvfb xdotool import convert
rm -rf "$out"
mkdir -p "$out"
fail_logs="$out/cpack.log $out/program.log"

# Build the package.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out/deb" >"$out/cpack.log" 2>&1 ||
  fail "cpack failed"
deb=$(ls "$out"/deb/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no .deb"

# Dependencies from the shared libraries the program links.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libqt6gui6 libjpeg libpng libtiff libicu; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

# Install into a scratch root.
root="$out/root"
dpkg -x "$deb" "$root" || fail "dpkg -x failed"
bin="$root/usr/bin/TobbinsImbrel"
[ -x "$bin" ] || fail "no program in the package"

# The desktop entry: valid, starting the packaged program with one path, with
# an icon the package holds.
desktop="$root/usr/share/applications/tobbins-imbrel.desktop"
[ -f "$desktop" ] || fail "no desktop entry in the package"
report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
grep -qx 'Exec=TobbinsImbrel %f' "$desktop" || fail "desktop entry does not pass a path"
icon=$(sed -n 's/^Icon=//p' "$desktop")
ls "$root"/usr/share/icons/hicolor/*/apps/"$icon".png >/dev/null 2>&1 ||
  fail "icon $icon not in the package"

# AppStream metainfo.
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml 2>/dev/null | head -1)
[ -n "$metainfo" ] || fail "no AppStream metainfo in the package"
report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $report"
grep -q "tobbins-imbrel.desktop" "$metainfo" || fail "metainfo does not name the desktop entry"

# The manual page renders without a warning and names the command line.
page="$root/usr/share/man/man1/TobbinsImbrel.1.gz"
[ -f "$page" ] || fail "no manual page in the package"
MANWIDTH=80 man --warnings -l "$page" >"$out/man.txt" 2>"$out/man-warnings.txt" ||
  fail "man -l failed"
[ -s "$out/man-warnings.txt" ] && fail "man -l warnings: $(cat "$out/man-warnings.txt")"
for text in -Dir: -slideshow --help --version; do
  grep -q -- "$text" "$out/man.txt" || fail "manual page lacks $text"
done

# The installed program runs: --version without a display, then a picture in
# a real window.
version=$(env -u DISPLAY "$bin" --version 2>&1) || fail "--version failed: $version"
grep -qx "TobbinsImbrel $(dpkg-deb -f "$deb" Version)" <<<"$version" ||
  fail "--version says $version"

mkdir -p "$out/pictures"
convert -size 64x48 xc:'rgb(255,0,0)' "$out/pictures/red.png" || fail "fixture red.png"
prog_pid=
owned_pids="prog_pid xvfb_pid"
start_xvfb 640x480 "$out/xvfb.log"
"$bin" "$out/pictures" >"$out/program.log" 2>&1 &
prog_pid=$!
wait_window "$prog_pid" "installed program"
seen=
for _ in $(seq 1 100); do
  import -window root "$out/shot.png" 2>/dev/null || fail "screenshot"
  seen=$(convert "$out/shot.png" -crop 1x1+320+240 +repage \
    -format "%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]" info:)
  [ "$seen" = "255,0,0" ] && break
  sleep 0.1
done
[ "$seen" = "255,0,0" ] || fail "installed program did not show the picture (centre $seen)"
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key Escape
for _ in $(seq 1 100); do
  kill -0 "$prog_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$prog_pid" 2>/dev/null && fail "Esc did not end the installed program"
wait "$prog_pid"
rc=$?
prog_pid=
[ "$rc" -eq 0 ] || fail "installed program exit code $rc"
echo "PASS ($deb)"
