#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer build, and runs
# every test in both. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
export DBUS_SESSION_BUS_ADDRESS=disabled:
jobs=$(nproc)

echo "== normal build"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs" --timeout 600

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --preset asan -j "$jobs" --timeout 900
