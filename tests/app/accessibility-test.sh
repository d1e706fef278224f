#!/usr/bin/env bash
# The real program read by assistive technology: starts a private Xvfb, then a
# private D-Bus session (the accessibility bus and its registry start from it
# on demand and end with it), and runs accessibility-test.py there, which
# starts TobbinsImbrel with accessibility on and reads the list and the status
# bar over AT-SPI. Exit 77 (skipped) when Xvfb, xdotool, dbus-run-session,
# the AT-SPI bus launcher or python3-pyatspi is missing, or the accessibility
# bus does not start.
#
# usage: accessibility-test.sh PROGRAM PICTURE_FOLDER OUTPUT_FOLDER
set -uo pipefail
here=$(dirname "$0")
source "$here/../lib/xvfb.sh"
prog=$1
pictures=$2
out=$3

require_tools Xvfb xdotool dbus-run-session
# The system's Python, where python3-pyatspi installs the module.
python=/usr/bin/python3
[ -x "$python" ] && "$python" -c 'import pyatspi' 2>/dev/null ||
  { echo "SKIP: python3-pyatspi not installed"; exit 77; }
launcher=
for f in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
  [ -x "$f" ] && launcher=$f
done
[ -n "$launcher" ] || { echo "SKIP: at-spi2-core not installed"; exit 77; }

mkdir -p "$out"
start_xvfb 1024x768 "$out/xvfb.log"

# The session bus of this test only; dbus-run-session ends it, and with it
# the accessibility bus, when the script ends.
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
export XDG_RUNTIME_DIR="$out/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- "$python" "$here/accessibility-test.py" "$prog" "$pictures" "$out"
rc=$?
[ "$rc" -eq 77 ] && exit 77
[ "$rc" -eq 0 ] || fail "accessibility check failed (exit $rc)"
