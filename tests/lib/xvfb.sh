# Shared by the tests of the real program in a real window; sourced, not run.
# xdotool must be installed.

# Logs shown when the test fails (the program's output, the server's).
fail_logs=

# fail TEXT: ends the test as failed, saying TEXT and showing the test's logs.
fail() {
  echo "FAIL: $*"
  local f
  for f in $fail_logs; do
    [ -s "$f" ] && { echo "--- $f"; tail -n 40 "$f"; }
  done
  exit 1
}

# require_tools TOOL...: ends the test as skipped (exit 77) when one is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
  done
}

# The names of the variables holding the pids of the test's own processes,
# ended in this order when the test ends; the X server's comes last.
owned_pids="xvfb_pid"
xvfb_pid=
end_owned() {
  local v
  for v in $owned_pids; do
    [ -n "${!v:-}" ] && kill "${!v}" 2>/dev/null
  done
  wait 2>/dev/null
}
trap end_owned EXIT

# start_xvfb WIDTHxHEIGHT LOGFILE: starts a private Xvfb, sets xvfb_pid and
# exports DISPLAY and the Qt settings. The server picks its own free display
# number (-displayfd): it holds the number's lock file and both of its sockets
# before it writes the number, so it never shares a number with another server
# and takes clients once the number is written. -noreset: a server that resets
# when its last client leaves (the check below) would drop a client that
# connects during the reset, ending the program at start.
start_xvfb() {
  local size=$1 log=$2 numfile=$2.display n=
  rm -f "$numfile"
  fail_logs="$fail_logs $log"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$numfile" >"$log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 200); do
    n=$(head -n 1 "$numfile" 2>/dev/null)
    [ -n "$n" ] && [ "$(wc -l <"$numfile")" -ge 1 ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended at start"
    sleep 0.05
  done
  [ -n "$n" ] || fail "Xvfb gave no display number"
  export DISPLAY=":$n" QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled:
  xdotool getdisplaygeometry >/dev/null 2>&1 || fail "Xvfb on $DISPLAY does not answer"
}

# Waits for the window of the program with process id $1 and sets `win` to
# it; fails with "$2 ended at start" or "$2 shows no window".
wait_window() {
  win=
  for _ in $(seq 1 150); do
    win=$(xdotool search --pid "$1" 2>/dev/null | tail -1)
    [ -n "$win" ] && return 0
    kill -0 "$1" 2>/dev/null || fail "$2 ended at start"
    sleep 0.1
  done
  fail "$2 shows no window"
}
