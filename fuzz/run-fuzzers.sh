#!/usr/bin/env bash
# Runs libFuzzer targets one after another, each for the given number of
# seconds, from the sanitizer build.
#   fuzz/run-fuzzers.sh SECONDS TARGET...     e.g. fuzz/run-fuzzers.sh 180 fuzz_bmp fuzz_tga
# fuzz/merge-corpus.sh then keeps the new inputs that reach new code.
# Environment: BUILD_DIR (default build-asan), JOBS (parallel fuzzing jobs per
# target, default 1). New inputs go to a scratch corpus under the build folder;
# crashes are written as crash-* files into <build>/fuzz-findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: $0 SECONDS TARGET..." >&2
  exit 2
fi
seconds=$1
shift
build=${BUILD_DIR:-build-asan}
jobs=${JOBS:-1}
status=0
for target in "$@"; do
  exe=$(find "$build/fuzz" -type f -name "$target" -perm -u+x | head -n1)
  if [ -z "$exe" ]; then
    echo "== $target: not built in $build (configure with IMBREL_FUZZ=ON and clang)" >&2
    status=1
    continue
  fi
  work="$build/fuzz-work/$target"
  findings="$build/fuzz-findings/$target"
  mkdir -p "$work" "$findings"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds=("fuzz/corpus/$target")
  echo "== $target: ${seconds}s"
  parallel=()
  [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
  if ! ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} QT_QPA_PLATFORM=offscreen \
      "$exe" -max_total_time="$seconds" "${parallel[@]}" -print_final_stats=1 \
      -artifact_prefix="$findings/" -rss_limit_mb=4096 "$work" "${seeds[@]}"; then
    echo "== $target: finding written to $findings" >&2
    status=1
  fi
done
exit $status
