#!/usr/bin/env bash
# Builds the tool (release) and opens it next to a simulated unit, so there is always a unit
# to talk to; a real unit plugged in by USB is listed beside it. Installs the Debian packages
# it needs when they are missing.
#
# The simulated unit is a kind 4 ZPi at firmware 2.45 with an invalid configuration: open its
# port and watch the tool upload the firmware, read the restarted unit and replace its
# configuration. Options for the unit go to zpisim: ./run.sh --firmware 2.46 --image default
# (see build/release/sim/zpisim --help).
#
# Without a display (a server, a container, CI) the same demo runs on the offscreen platform:
# the log is printed as it appears and a screenshot of the final window is saved.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
zpi_install_deps

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "${ZPI_JOBS:-2}" --target zpitool zpictl zpisim zpidemo

sim_args=(--kind 4 --firmware 2.45 --image invalid)
[ $# -gt 0 ] && sim_args=("$@")

workdir=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT

"$build/sim/zpisim" "${sim_args[@]}" >"$workdir/sim.out" 2>"$workdir/sim.log" &
sim_pid=$!
port=""
for _ in $(seq 100); do
  port=$(head -n 1 "$workdir/sim.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$workdir/sim.log" >&2; exit 1; }
  sleep 0.05
done
[ -n "$port" ] || { echo "The simulated unit did not start." >&2; exit 1; }
echo "Simulated unit on $port (zpisim ${sim_args[*]})"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Pick $port in the port list and press the USB button."
  ZPITOOL_EXTRA_PORTS="$port" "$build/app/zpitool"
else
  shot="$PWD/$build/zpidemo.png"
  echo "No display: running the service offscreen against $port."
  QT_QPA_PLATFORM=offscreen "$build/app/zpidemo" --port "$port" --screenshot "$shot"
fi
