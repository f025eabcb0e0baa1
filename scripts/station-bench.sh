#!/usr/bin/env bash
# Builds zpictl's scale benchmark in Release and prints its tables: the whole service of 1, 4,
# 8 and 16 simulated units at once, at a 1 ms answer delay and at none, as `zpictl service`
# and as `zpictl station` serve them; then the CPU of the station's watch with nothing plugged
# in. The machine's load is printed before and after: the figures are only as quiet as it is.
#
#   scripts/station-bench.sh [--runs N] [--idle SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
zpi_install_deps
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j "${ZPI_JOBS:-2}" --target station_bench
echo "cores: $(nproc); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
build/bench/tests/station_bench "$@"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
