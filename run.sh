#!/usr/bin/env bash
# Installs what is missing, builds and starts Quillfern.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
if [ -x build/client/Quillfern ]; then
  exec build/client/Quillfern "$@"
fi
echo "The desktop program is not built yet; running the engine's benchmarks instead."
exec build/engine_bench --benchmark_min_time=0.2
