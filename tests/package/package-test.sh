#!/usr/bin/env bash
# The Debian package end to end: cpack -G DEB builds it from BUILD_FOLDER, its
# dependencies come from the linked libraries, lintian finds no error and none
# of the warnings a Debian packager would fix (nor, in an optimised build, a
# binary without the hardening flags), dpkg -x installs it into a scratch
# root, its copyright and changelog are Debian's formats, its desktop entry,
# AppStream metainfo, MIME type definitions and manual page pass their
# validators without a warning, its MIME definitions type DCX files, and the
# installed program answers --version and shows a picture under a private Xvfb
# in a window whose class the desktop entry names. Exit 77 (skipped) when a
# tool is missing.
#
# usage: package-test.sh BUILD_FOLDER OUTPUT_FOLDER
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
build=$(realpath "$1")
out=$(realpath -m "$2")

require_tools cpack dpkg-deb dpkg-shlibdeps dpkg-parsechangelog lintian desktop-file-validate \
  appstreamcli man xmllint update-mime-database gio Xvfb xdotool xprop import convert
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

# lintian, at the level that shows errors, warnings and notes. No error at
# all; none of the tags below, which the package once had: its copyright and
# changelog, the description's line length, the desktop entry's keywords, the
# compilers' notes left in the program and, for an optimised build (the
# hardening flags need optimisation), the hardening of the program.
lintian --display-level '>=info' --tag-display-limit 0 "$deb" >"$out/lintian.txt" 2>&1
cat "$out/lintian.txt"
fixed="no-copyright-file no-changelog extended-description-line-too-long
  desktop-entry-lacks-keywords-entry binary-has-unneeded-section"
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
case "$build_type" in
Release | RelWithDebInfo | MinSizeRel)
  fixed="$fixed hardening-no-fortify-functions hardening-no-bindnow hardening-no-relro
    hardening-no-pie"
  ;;
esac
grep -q '^E: ' "$out/lintian.txt" && fail "lintian errors: $(grep '^E: ' "$out/lintian.txt")"
for tag in $fixed; do
  grep -q "^[EWI]: [^ ]*: $tag\b" "$out/lintian.txt" && fail "lintian: $(grep ": $tag" "$out/lintian.txt")"
done

# Install into a scratch root.
root="$out/root"
dpkg -x "$deb" "$root" || fail "dpkg -x failed"
bin="$root/usr/bin/TobbinsImbrel"
[ -x "$bin" ] || fail "no program in the package"

# The copyright file in the machine-readable format, and the changelog, in
# Debian's format, naming the package's version.
doc="$root/usr/share/doc/$(dpkg-deb -f "$deb" Package)"
head -n 1 "$doc/copyright" 2>/dev/null |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "no machine-readable copyright file"
grep -q '^License: ' "$doc/copyright" || fail "the copyright file states no licence"
[ -f "$doc/changelog.gz" ] || fail "no changelog.gz"
gzip -dc "$doc/changelog.gz" >"$out/changelog" || fail "changelog.gz is no gzip file"
logged=$(dpkg-parsechangelog -l "$out/changelog" -S Version 2>&1) || fail "changelog: $logged"
[ "$logged" = "$(dpkg-deb -f "$deb" Version)" ] ||
  fail "the changelog's last entry is $logged, the package's version $(dpkg-deb -f "$deb" Version)"

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

# It does not claim folders (opening a folder would start the viewer where no
# file manager is the default), and it names the class of the program's
# windows (checked on the running program below).
mime_types=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' ')
[ -n "$mime_types" ] || fail "the desktop entry lists no MIME types"
grep -q 'inode/directory' <<<"$mime_types" && fail "the desktop entry claims inode/directory"
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
[ -n "$wm_class" ] || fail "the desktop entry has no StartupWMClass"

# The MIME type definitions: well formed, and merged with the system's own
# database (in a scratch copy) they type DCX files by name and by their
# signature, and .pcc and .afi files by name as the PCX and Targa types. The
# system's database alone types none of them so.
mime_xml="$root/usr/share/mime/packages/$(dpkg-deb -f "$deb" Package).xml"
[ -f "$mime_xml" ] || fail "no MIME type definitions in the package"
report=$(xmllint --noout "$mime_xml" 2>&1) || fail "xmllint: $report"
system_mime=/usr/share/mime/packages/freedesktop.org.xml
[ -f "$system_mime" ] || { echo "SKIP: shared-mime-info's database not installed"; exit 77; }
mkdir -p "$out/mime/without/mime/packages" "$out/mime/with/mime/packages" "$out/mime/files" \
  "$out/mime/home"
cp "$system_mime" "$out/mime/without/mime/packages/"
cp "$system_mime" "$mime_xml" "$out/mime/with/mime/packages/"
for db in without with; do
  report=$(update-mime-database "$out/mime/$db/mime" 2>&1) ||
    fail "update-mime-database ($db): $report"
done
# DCX: the signature B1 68 DE 3A, then the first page's offset (here 12, where a
# PCX header would begin), then the zero that ends the page table. The other
# files hold no signature: only their names can type them.
printf '\xb1\x68\xde\x3a\x0c\x00\x00\x00\x00\x00\x00\x00' >"$out/mime/files/scan.dcx"
cp "$out/mime/files/scan.dcx" "$out/mime/files/scan-without-extension"
for name in named.dcx named.pcc named.afi; do printf 'no signature' >"$out/mime/files/$name"; done
# The content type the desktop's library gives FILE with database DB.
typed() {
  XDG_DATA_HOME="$out/mime/home" XDG_DATA_DIRS="$out/mime/$1" \
    gio info -a standard::content-type "$out/mime/files/$2" 2>&1 |
    sed -n 's/^ *standard::content-type: //p'
}
for case in scan.dcx=image/x-dcx scan-without-extension=image/x-dcx named.dcx=image/x-dcx \
  named.pcc=image/vnd.zbrush.pcx named.afi=image/x-tga; do
  file=${case%%=*} type=${case#*=}
  got=$(typed with "$file")
  [ "$got" = "$type" ] || fail "$file is typed $got, not $type"
  [ "$(typed without "$file")" != "$type" ] || fail "$file is typed $type without the package"
done
# Every type the desktop entry and the metainfo name is one the database knows.
known=$(cat "$out/mime/with/mime/types" "$out/mime/with/mime/aliases" | cut -d' ' -f1)
for type in $mime_types $(sed -n 's:.*<mediatype>\(.*\)</mediatype>.*:\1:p' \
  "$root"/usr/share/metainfo/*.metainfo.xml); do
  grep -qx "$type" <<<"$known" || fail "$type is not a MIME type the database knows"
done

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
# The window's class is the one the desktop entry names.
class=$(xprop -id "$win" WM_CLASS 2>/dev/null | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\(.*\)"$/\1/p')
[ "$class" = "$wm_class" ] ||
  fail "the window's class is '$class', the desktop entry's StartupWMClass '$wm_class'"
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
