#!/usr/bin/env bash
# The Windows check: cross-builds the whole tool and its tests with mingw-w64 against Qt for
# Windows, runs every test under Wine, packs the zip a technician unzips, starts it from an
# empty folder, and runs one full service with zpitool.exe under Wine next to a simulated unit,
# ending with a screenshot of the window. Installs what it needs; extra arguments go to ctest.
#
#   scripts/windows-check.sh                 # or: ./test.sh --windows
#   scripts/windows-check.sh -R ComPortWin32 # only some tests (the package and the run follow)
#   ZPI_QT_MINGW=/path/to/qt scripts/windows-check.sh   # another Qt for Windows
#
# Qt for Windows comes from scripts/qt-windows.sh (../shared/qt6-mingw beside the clone, or a
# cache folder it builds once). Build trees: build/win (Windows, with the Wine prefix inside)
# and build/win-linux (the helpers that run on this machine: fwtool, zpisim and the bridge).
# Wine's serial ports (links in the prefix's dosdevices, listed in the registry as a driver
# would): COM5 and COM6 are the two ends of one cable (the bridge); COM7 has a simulated unit
# for the serial tests; COM8 a fresh unit at firmware 2.45 with an invalid configuration for
# the window's service test; COM1 another such unit for the run of zpitool.exe; COM3 and COM4
# two units for zpictl.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/deps.sh
zpi_install_deps g++-mingw-w64-x86-64-posix wine64 googletest xvfb xdotool imagemagick \
                 qt6-translations-l10n unzip openssl
started=$SECONDS

jobs=${ZPI_JOBS:-2}
host=$root/build/win-linux
win=$root/build/win
qt=$(scripts/qt-windows.sh)
echo "== Windows check with Qt for Windows from $qt"

# 1. Helpers for this machine.
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZPI_WITH_QT=OFF -DZPI_SANITIZE=ON >/dev/null
cmake --build "$host" -j "$jobs" --target fwtool zpisim
if [ ! -x "$host/win_pty_bridge" ] || [ tests/serial/win_pty_bridge.cpp -nt "$host/win_pty_bridge" ]; then
  g++ -std=c++20 -O1 -Wall -Wextra -Wshadow tests/serial/win_pty_bridge.cpp -o "$host/win_pty_bridge"
fi

# 2. The cross build: the tool, its tests, the package's contents. Optimised without debug
# information: linking mingw-w64 objects with it costs more than it brings here.
cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr -DZPI_HOST_FWTOOL="$host/transfer/fwtool" >/dev/null
cmake --build "$win" -j "$jobs"
echo "== Built in $((SECONDS - started)) s"

# 3. Wine, in a prefix of its own inside the build tree, and a display for it
# (scripts/wine-env.sh).
run_dir=$win/windows-check
rm -rf "$run_dir"
mkdir -p "$run_dir"
zpisim=$host/sim/zpisim
source scripts/wine-env.sh
trap zpi_stop_helpers EXIT
# Xvfb on a free display; the window tests draw offscreen, zpitool.exe on this display.
zpi_start_display
zpi_start_wine "$win/wineprefix"
dosdevices=$WINEPREFIX/dosdevices

# 4. The lines.
"$host/win_pty_bridge" "$dosdevices/com5" "$dosdevices/com6" >"$run_dir/bridge.out" 2>"$run_dir/bridge.err" &
helpers+=($!)
wait_line "$run_dir/bridge.out"
list_port COM5
list_port COM6
start_unit COM7 --quiet
start_unit COM8 --firmware 2.45 --image invalid

# A local HTTPS server with the version file, for the version check over Schannel.
tls=$run_dir/tls
mkdir -p "$tls/files"
printf '#*$(002.046.066@@002.046.066)$*#\n' >"$tls/files/zpitool.ver"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tls/key.pem" -out "$tls/cert.pem" -days 2 \
        -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1
tls_port=$((20000 + RANDOM % 20000))
(cd "$tls" && exec openssl s_server -accept "127.0.0.1:$tls_port" -cert cert.pem -key key.pem -WWW -state \
   </dev/null >"$tls/server.log" 2>&1) &
helpers+=($!)

# 5. The tests, one at a time: the serial tests share the line.
export ZPI_TEST_COM_PORT=COM5 ZPI_TEST_COM_PEER=COM6 ZPI_TEST_PEER_CLOSE_HANGS_UP=1 ZPI_TEST_SIM_PORT=COM7 \
       ZPI_TEST_SERVICE_PORT=COM8 ZPI_TEST_TLS_SERVER="https://127.0.0.1:$tls_port" \
       ZPI_TEST_TLS_CERT="Z:$tls/cert.pem"
tests_status=0
ctest --test-dir "$win" --output-on-failure "$@" || tests_status=$?
scripts/windows-summary.sh "$win/Testing/Temporary/LastTest.log" | tee "$run_dir/summary.txt"
echo "   version check over Schannel under Wine: $(grep -c 'TLS read finished' "$tls/server.log" || true) TLS handshakes completed with the local HTTPS server"
echo "== Tests done at $((SECONDS - started)) s"

# 6. The package, unpacked into an empty folder and started there.
rm -rf "$win/package"
cpack --config "$win/CPackConfig.cmake" -B "$win/package" >"$run_dir/cpack.log"
zip=$(ls "$win"/package/ZPiTool-*-win64.zip)
echo "== Package $(basename "$zip"): $(stat -c %s "$zip") bytes"
unzip -l "$zip" | tee "$run_dir/package-files.txt"
unpacked=$run_dir/unpacked
mkdir "$unpacked"
unzip -q "$zip" -d "$unpacked"
tool=$(ls "$unpacked"/*/zpitool.exe)

# 7. zpitool.exe from the unpacked folder, next to a fresh unit on COM1 (first in the list, so
# selected at start), driven through one full service with the mouse and keyboard.
start_unit COM1 --firmware 2.45 --image invalid  # in place of the machine's first serial port
scripts/windows-run-tool.sh "$tool" "$run_dir/zpisim-COM1.log" "$run_dir" || tests_status=1

# 8. zpictl.exe from the unpacked folder: two units served at once from the command line, with
#    their journal, and the report of it.
start_unit COM3 --firmware 2.45 --image invalid
start_unit COM4
ctl=$(ls "$unpacked"/*/zpictl.exe)
ctl_status=0
"$wine" "$ctl" list >"$run_dir/zpictl-list.txt" 2>&1 || ctl_status=$?
journal=${run_dir#"$root"/}/journal.jsonl  # relative: CLI11 on Windows reads "/..." as an option
rm -f "$journal"
"$wine" "$ctl" --json service COM3 COM4 --journal "$journal" >"$run_dir/zpictl-service.jsonl" \
  2>"$run_dir/zpictl-service.err" || ctl_status=$?
"$wine" "$ctl" report "$journal" >"$run_dir/zpictl-report.txt" 2>&1 || ctl_status=$?
echo "   zpictl.exe list: $(tr -d '\r' <"$run_dir/zpictl-list.txt" | tr '\n' ' ')"
grep '"event":"result"' "$run_dir/zpictl-service.jsonl" | sed 's/^/   zpictl.exe service: /'
echo "   zpictl.exe report: $(tr -d '\r' <"$run_dir/zpictl-report.txt" | head -1)"
if [ "$ctl_status" != 0 ]; then
  echo "   zpictl.exe service failed with exit status $ctl_status" >&2
  tests_status=1
fi

echo "== Windows check done in $((SECONDS - started)) s"
exit "$tests_status"
