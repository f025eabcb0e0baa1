#!/usr/bin/env bash
# Checks that every folder includes only the folders below it (scripts/check-layers.sh); builds
# everything with AddressSanitizer and UBSan and runs every test through CTest; builds
# the Qt-free part again normally (optimised, no sanitizers) and runs its tests, then a short
# soak of zpictl's station (scripts/soak.sh); then runs each fuzz target for a bounded time (a
# clang build with libFuzzer). Installs the Debian packages it needs when they are missing.
#
#   ./test.sh                  everything (extra arguments go to ctest, e.g. -R Frame)
#   ./test.sh --windows        also the Windows check (ZPI_WINDOWS_CHECK=1 does the same):
#                              a mingw-w64 cross build with its tests under Wine
#   ZPI_FUZZ_SECONDS=60 ./test.sh   fuzz longer (default 15 s per target)
#   ZPI_FUZZ_SECONDS=0 ./test.sh    skip the fuzzing (the seed corpus is still replayed)
#   ZPI_SOAK_SERVICES=0 ./test.sh   skip the short soak (default 100 services)
set -euo pipefail
cd "$(dirname "$0")"
windows=${ZPI_WINDOWS_CHECK:-0}
if [ "${1:-}" = "--windows" ]; then windows=1; shift; fi
fuzz_seconds=${ZPI_FUZZ_SECONDS:-15}
soak_services=${ZPI_SOAK_SERVICES:-100}
source scripts/deps.sh
zpi_install_deps clang-14 libclang-rt-14-dev libfuzzer-14-dev python3

jobs=${ZPI_JOBS:-2}
export QT_QPA_PLATFORM=offscreen

echo "== The folders as layers"
scripts/check-layers.sh

echo "== Build with AddressSanitizer and UBSan, and run the tests"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZPI_SANITIZE=ON \
      -DZPI_VENDOR_SCHEME=http >/dev/null
cmake --build build/test -j "$jobs"
ctest --test-dir build/test -j "$jobs" --output-on-failure "$@"

echo "== Build the Qt-free core, the serial component and the simulated unit normally (optimised), and run their tests"
cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZPI_WITH_QT=OFF >/dev/null
cmake --build build/normal -j "$jobs"
ctest --test-dir build/normal -j "$jobs" --output-on-failure "$@"

if [ "$soak_services" != 0 ]; then
  echo "== A short soak: zpictl's station serves ${soak_services} simulated units with random faults"
  scripts/soak.sh "$soak_services"
fi

if [ "$fuzz_seconds" != 0 ]; then
  echo "== Fuzz each target for ${fuzz_seconds} s (libFuzzer, ASan, UBSan)"
  CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DZPI_FUZZ=ON -DBUILD_TESTING=OFF -DZPI_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
  cmake --build build/fuzz -j "$jobs" --target fuzzers
  ctest --test-dir build/fuzz -j "$jobs" --output-on-failure
  # How many inputs each target ran.
  awk '/^[0-9]+\/[0-9]+ Testing: /{name=$3} /stat::number_of_executed_units/{print "   " name ": " $2 " inputs"}' \
      build/fuzz/Testing/Temporary/LastTest.log
fi

if [ "$windows" = 1 ]; then scripts/windows-check.sh; fi
