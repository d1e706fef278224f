# Shared by the tests of the real program in a real window; sourced, not run.
# xdotool must be installed.

# fail TEXT: ends the test as failed, saying TEXT.
fail() {
  echo "FAIL: $*"
  exit 1
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

# start_xvfb WIDTHxHEIGHT LOGFILE: starts a private Xvfb on a free display
# picked at random, sets xvfb_pid and exports DISPLAY and the Qt settings.
start_xvfb() {
  local size=$1 log=$2 n attempt
  for attempt in 1 2 3 4 5; do
    for _ in $(seq 1 50); do
      n=$((200 + RANDOM % 700))
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >"$log" 2>&1 &
    xvfb_pid=$!
    # Ready once it answers a client (its socket can appear earlier); a
    # server that ends at once lost the display number to another: next one.
    local ready=
    for _ in $(seq 1 100); do
      kill -0 "$xvfb_pid" 2>/dev/null || break
      if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
        sleep 0.2 # the answer must be our server's, which is still running
        kill -0 "$xvfb_pid" 2>/dev/null && ready=1
        break
      fi
      sleep 0.1
    done
    if [ -n "$ready" ]; then
      export DISPLAY=":$n" QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled:
      return 0
    fi
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  done
  fail "Xvfb did not start: $(cat "$log")"
}
