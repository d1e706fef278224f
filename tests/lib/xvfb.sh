# Shared by the tests of the real program in a real window; sourced, not run.
# start_xvfb WIDTHxHEIGHT LOGFILE: starts a private Xvfb on a free display
# picked at random, sets xvfb_pid and exports DISPLAY and the Qt settings.
# The caller's cleanup kills $xvfb_pid; fail() is the caller's.
start_xvfb() {
  local size=$1 log=$2 n
  for _ in $(seq 1 50); do
    n=$((200 + RANDOM % 700))
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
  done
  Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >"$log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  [ -e "/tmp/.X11-unix/X$n" ] || fail "Xvfb did not start on :$n"
  export DISPLAY=":$n" QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled:
}
