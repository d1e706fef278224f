#!/usr/bin/env bash
# --help, --version and unknown "--" options answer without a window system:
# the program runs with no display and a platform that would fail to start,
# and must print to the right stream and exit with the right code.
#
# usage: program-options-test.sh PROGRAM
set -uo pipefail
prog=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0

# check ARGS... : EXPECTED_RC STDOUT_PATTERN STDERR_PATTERN (empty pattern: stream empty)
check() {
  local rc_want=$1 out_want=$2 err_want=$3
  shift 3
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout 20 "$prog" "$@" \
    >"$out/stdout" 2>"$out/stderr"
  local rc=$? why=
  [ "$rc" -eq "$rc_want" ] || why="exit code $rc, expected $rc_want"
  if [ -z "$out_want" ]; then
    [ -s "$out/stdout" ] && why="$why; stdout not empty"
  else
    grep -qE "$out_want" "$out/stdout" || why="$why; stdout lacks /$out_want/"
  fi
  if [ -z "$err_want" ]; then
    [ -s "$out/stderr" ] && why="$why; stderr not empty"
  else
    grep -qE "$err_want" "$out/stderr" || why="$why; stderr lacks /$err_want/"
  fi
  if [ -n "$why" ]; then
    echo "FAIL [$*]: ${why#; }"
    sed 's/^/  stdout: /' "$out/stdout" | head -5
    sed 's/^/  stderr: /' "$out/stderr" | head -5
    failed=1
  else
    echo "ok   [$*]"
  fi
}

usage='^Usage: TobbinsImbrel '
check 0 "$usage" "" --help
check 0 '^TobbinsImbrel [0-9]+\.[0-9]+\.[0-9]+$' "" --version
check 0 "$usage" "" --version --help
check 0 "$usage" "" -slideshow --help
check 0 "$usage" "" "-Dir:/tmp" --help
check 2 "" "unknown option --bogus" --bogus
check 2 "" "$usage" --bogus
check 2 "" "unknown option --bogus" --help --bogus
check 2 "" "unknown option --bogus" /tmp --bogus

[ "$failed" -eq 0 ] && echo PASS
exit "$failed"
