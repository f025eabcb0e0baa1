#!/usr/bin/env bash
# Builds the tool (release) and opens it. Installs the Debian packages it needs when missing.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
zpi_install_deps xvfb xauth

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release -j "${ZPI_JOBS:-2}" --target zpitool zpisim
exec build/release/app/zpitool
