#!/usr/bin/env bash
# A station run to look at: zpictl station in a terminal (tmux) watching a folder of links,
# four simulated units plugged in one after another (one whose upload's last acknowledgement
# is lost, one with an invalid configuration, one that falls silent mid-upload, one up to
# date), the screen captured while they run and once they are done, then Ctrl+C; the journal
# it wrote and `zpictl report` on it, plain and --csv. Everything lands in build/captures/.
#
#   scripts/station-demo.sh [BUILD_DIR]     (default build/release, as ./run.sh builds it)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
zpi_install_deps tmux
build=$(realpath "${1:-build/release}")
zpictl=$build/ctl/zpictl
zpisim=$build/sim/zpisim
[ -x "$zpictl" ] && [ -x "$zpisim" ] || { echo "no zpictl or zpisim in $build: build it first" >&2; exit 1; }
out=$PWD/build/captures
mkdir -p "$out"
bench=$(mktemp -d /tmp/bench.XXXX)
session=zpi-station-demo-$$
pids=()
cleanup() {
  tmux kill-session -t "$session" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$bench"
}
trap cleanup EXIT

journal=$out/station-journal.jsonl
rm -f "$journal"
tmux new-session -d -s "$session" -x 120 -y 32 \
  "$zpictl station --ports '$bench/*' --journal '$journal'; echo \"(zpictl exited with \$?)\"; sleep 60"
sleep 1

# plug NAME ZPISIM-OPTIONS...: a simulated unit, linked into the watched folder.
plug() {
  local name=$1; shift
  "$zpisim" -q "$@" > "$bench/.$name" &
  pids+=($!)
  while [ ! -s "$bench/.$name" ]; do sleep 0.05; done
  ln -s "$(cat "$bench/.$name")" "$bench/$name"
}
screen() { tmux capture-pane -p -t "$session" > "$out/$1"; tmux capture-pane -p -e -t "$session" > "$out/${1%.txt}.ansi"; }

plug hub1 --firmware 2.45 --ack-delay 2 --fault drop@1888 --id 246,C0FFEE,5A500101
sleep 1
plug hub2 --image invalid --ack-delay 1 --id 246,C0FFEE,5A500102
sleep 1
plug hub3 --firmware 2.45 --ack-delay 2 --fault silent-from@900 --id 246,C0FFEE,5A500103
sleep 1
plug hub4 --id 246,C0FFEE,5A500104
sleep 0.5
screen station-screen-live.txt
sleep 8
screen station-screen-results.txt
tmux send-keys -t "$session" C-c
sleep 1.5
screen station-screen-end.txt

"$zpictl" report "$journal" > "$out/station-report.txt" 2>&1
"$zpictl" report --csv "$journal" > "$out/station-report.csv" 2>&1
echo "captures in $out:"
ls -1 "$out" | sed 's/^/  /'
