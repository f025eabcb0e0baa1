#!/usr/bin/env bash
# Builds the speed benchmark in Release and prints its table: the tool's firmware upload,
# configuration read and write against the simulated unit beside a minimal loop over the
# same kind of pseudo-terminal, and the start-up to a shown window.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
zpi_install_deps
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j "${ZPI_JOBS:-2}" --target service_bench
QT_QPA_PLATFORM=offscreen build/bench/tests/service_bench "$@"
