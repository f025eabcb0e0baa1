#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UBSan and runs every test through CTest.
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"
# ./test.sh --windows (or ZPI_WINDOWS_CHECK=1 ./test.sh) runs the Windows check after the
# Linux tests: scripts/windows-check.sh, a mingw-w64 cross build with its tests under Wine.
windows=${ZPI_WINDOWS_CHECK:-0}
if [ "${1:-}" = "--windows" ]; then windows=1; shift; fi
source scripts/deps.sh
zpi_install_deps xvfb xauth

jobs=${ZPI_JOBS:-2}
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZPI_SANITIZE=ON \
      -DZPI_VENDOR_SCHEME=http >/dev/null
cmake --build build/test -j "$jobs"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build/test -j "$jobs" --output-on-failure "$@"
if [ "$windows" = 1 ]; then scripts/windows-check.sh; fi
