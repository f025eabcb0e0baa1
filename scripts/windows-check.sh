#!/usr/bin/env bash
# The Windows check: cross-builds the Qt-free core, the serial component and their tests with
# mingw-w64 and runs the tests under Wine. The serial tests get two pseudo-terminals linked
# as COM5 (the port under test) and COM6 (its peer), and the simulated unit (the Linux build
# of zpisim) on COM7. Installs what it needs; extra arguments go to ctest.
#
#   scripts/windows-check.sh                 # or: ./test.sh --windows
#   scripts/windows-check.sh -R ComPortWin32 # only the serial tests
#
# Build trees: build/win (Windows, with the Wine prefix inside) and build/win-linux (the
# helpers that run on this machine: fwtool, zpisim and the pseudo-terminal bridge).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/deps.sh
zpi_install_deps g++-mingw-w64-x86-64-posix wine64 googletest

jobs=${ZPI_JOBS:-2}
host=$root/build/win-linux
win=$root/build/win

# 1. Helpers for this machine.
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZPI_WITH_QT=OFF -DZPI_SANITIZE=ON >/dev/null
cmake --build "$host" -j "$jobs" --target fwtool zpisim
g++ -std=c++20 -O1 -Wall -Wextra -Wshadow tests/serial/win_pty_bridge.cpp -o "$host/win_pty_bridge"

# 2. The cross build.
cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DZPI_WITH_QT=OFF -DZPI_HOST_FWTOOL="$host/transfer/fwtool" >/dev/null
cmake --build "$win" -j "$jobs"

# 3. Wine, in a prefix of its own inside the build tree; console programs need no display.
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$win/wineprefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
run_dir=$win/windows-check
mkdir -p "$run_dir"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX"
  "$wine" wineboot -i >"$run_dir/wineboot.log" 2>&1
  # A crashing test must fail with the exception's code, not wait in Wine's debugger.
  aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  "$wine" reg add "$aedebug" /v Auto /d 0 /f >/dev/null 2>&1
  "$wine" reg add "$aedebug" /v Debugger /d "" /f >/dev/null 2>&1
fi
# One server for the whole run, kept up between the tests: a server left by wineboot (or by an
# earlier run) would exit when idle, and a new one would start for every test.
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true
"$wineserver" -p </dev/null >"$run_dir/wineserver.log" 2>&1
# The first program in a fresh session waits for Wine's services; test discovery gives each
# executable 5 s, so let that wait happen here.
"$wine" cmd.exe /c exit </dev/null >"$run_dir/warm-up.log" 2>&1 || true

helpers=()
cleanup() {
  local pid
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${helpers[@]}"; do wait "$pid" 2>/dev/null || true; done
  "$wineserver" -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Waits until file $1 has a line, for at most 10 s.
wait_line() {
  local i
  for i in $(seq 100); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  echo "no answer in $1" >&2
  return 1
}

# 4. The line: COM5 <-> COM6 through the bridge; the simulated unit on COM7.
dosdevices=$WINEPREFIX/dosdevices
"$host/win_pty_bridge" "$dosdevices/com5" "$dosdevices/com6" >"$run_dir/bridge.out" 2>"$run_dir/bridge.err" &
helpers+=($!)
wait_line "$run_dir/bridge.out"
"$host/sim/zpisim" --quiet >"$run_dir/zpisim.out" 2>"$run_dir/zpisim.err" &
helpers+=($!)
wait_line "$run_dir/zpisim.out"
ln -sfn "$(head -n1 "$run_dir/zpisim.out")" "$dosdevices/com7"

# 5. The tests, one at a time: the serial tests share the line.
export ZPI_TEST_COM_PORT=COM5 ZPI_TEST_COM_PEER=COM6 ZPI_TEST_PEER_CLOSE_HANGS_UP=1 ZPI_TEST_SIM_PORT=COM7
ctest --test-dir "$win" --output-on-failure "$@"
