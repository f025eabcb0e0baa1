#!/usr/bin/env bash
# A soak of zpictl's station: SERVICES simulated units (default 1000) served four at a time by
# one `zpictl station`, each with a fault drawn at random from zpisim's list or none, checked
# after every round (scripts/soak.py says what). Builds zpictl and zpisim normally
# (build/normal, as ./test.sh does) and ends with the table of results by fault kind and
# zpictl's memory, descriptors and threads; exit 0 only when every check held.
#
#   scripts/soak.sh [SERVICES] [--parallel N] [--seed N]    (./test.sh runs a short form)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
zpi_install_deps python3
services=1000
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then services=$1; shift; fi
cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZPI_WITH_QT=OFF >/dev/null
cmake --build build/normal -j "${ZPI_JOBS:-2}" --target zpictl zpisim >/dev/null
exec python3 scripts/soak.py --zpictl build/normal/ctl/zpictl --zpisim build/normal/sim/zpisim \
     --services "$services" "$@"
