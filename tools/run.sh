#!/usr/bin/env bash
# Installs what is missing, builds the viewer and starts it on the bundled
# sample pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default -DIMBREL_TESTS=OFF -DIMBREL_BENCH=OFF >/dev/null
cmake --build --preset default -j "$(nproc)" --target TobbinsImbrel
exec build/app/TobbinsImbrel "-Dir:$(pwd)/samples/" "$@"
