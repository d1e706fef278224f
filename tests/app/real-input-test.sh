#!/usr/bin/env bash
# Runs the real-input test program (the main window driven through the X
# server with xdotool) under a private Xvfb server with the openbox window
# manager, so focus, menus and dialog frames behave as on a desktop. Exit 77
# (skipped) when Xvfb, openbox, xdotool or xprop is missing.
#
# usage: real-input-test.sh TEST_PROGRAM OUTPUT_FOLDER [gtest arguments]
set -uo pipefail
source "$(dirname "$0")/../lib/xvfb.sh"
program=$1
out=$2
shift 2

require_tools Xvfb openbox xdotool xprop
mkdir -p "$out"

wm_pid=
owned_pids="wm_pid xvfb_pid"
fail_logs="$out/openbox.log"
start_xvfb 1024x768 "$out/xvfb.log"

openbox --sm-disable >"$out/openbox.log" 2>&1 &
wm_pid=$!
# The window manager is up once it has announced itself on the root window.
for _ in $(seq 1 200); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  kill -0 "$wm_pid" 2>/dev/null || fail "openbox ended at start"
  sleep 0.05
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || fail "openbox did not start"

"$program" "$@"
