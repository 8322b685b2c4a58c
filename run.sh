#!/usr/bin/env bash
# Installs what is missing, builds and starts Quillfern;
# `./run.sh tintwright` starts the colour-scheme editor Tintwright instead.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
if [ "${1:-}" = tintwright ]; then
  shift
  exec build/scheme_editor/Tintwright "$@"
fi
if [ -x build/client/Quillfern ]; then
  exec build/client/Quillfern "$@"
fi
if [ -x build/scheme_editor/Tintwright ]; then
  echo "Quillfern is not built yet; starting the colour-scheme editor Tintwright."
  exec build/scheme_editor/Tintwright "$@"
fi
echo "The desktop programs are not built yet; running the engine's benchmarks instead."
exec build/engine_bench --benchmark_min_time=0.2
