#!/usr/bin/env bash
# Adds to fuzz/corpus/<target> the inputs of a run's scratch corpus that reach
# code the kept corpus does not (libFuzzer's merge); kept inputs all stay, so
# regression inputs are never dropped.
#   fuzz/merge-corpus.sh TARGET...
# Environment: BUILD_DIR (default build-asan).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-asan}
for target in "$@"; do
  exe=$(find "$build/fuzz" -type f -name "$target" -perm -u+x | head -n1)
  work="$build/fuzz-work/$target"
  if [ -z "$exe" ] || [ ! -d "$work" ]; then
    echo "== $target: no target or no scratch corpus in $build" >&2
    continue
  fi
  mkdir -p "fuzz/corpus/$target"
  before=$(ls "fuzz/corpus/$target" | wc -l)
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} QT_QPA_PLATFORM=offscreen \
    "$exe" -merge=1 -rss_limit_mb=4096 "fuzz/corpus/$target" "$work" >/dev/null 2>&1
  echo "== $target: $before -> $(ls "fuzz/corpus/$target" | wc -l) inputs"
done
