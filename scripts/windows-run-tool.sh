#!/usr/bin/env bash
# One full service with zpitool.exe under Wine, driven with the mouse and keyboard on an X
# display: the tool starts (no DLL missing, its window shows, no message box), the port
# selected at start (the unit's, first in the list) is opened, the firmware is uploaded, the
# configuration read, found invalid and replaced, then a value is typed into the panel and
# written. The simulated unit's log tells when each step is done. Ends with a screenshot of
# the window. Used by scripts/windows-check.sh and scripts/package-check.sh, which set
# WINEPREFIX and DISPLAY and start the unit. A tool not named *.exe (the Linux package's
# zpitool) runs natively the same way, the unit's port named in ZPITOOL_EXTRA_PORTS.
#
#   scripts/windows-run-tool.sh <zpitool.exe> <zpisim log> <output folder>
set -euo pipefail
tool=$1
unit_log=$2
out=$3
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)

native=0
[ "$tool" = "${tool%.exe}" ] && native=1
what=$tool
[ "$native" = 1 ] || what="$(basename "$tool") under Wine"
fail() {
  echo "$what: $*" >&2
  import -window root "$out/zpitool-failed.png" 2>/dev/null || true
  exit 1
}

# Waits until the unit's log has $2 lines matching $1, for at most $3 seconds.
wait_unit() {
  local deadline=$((SECONDS + $3))
  while [ "$(grep -c -- "$1" "$unit_log" || true)" -lt "$2" ]; do
    [ $SECONDS -ge $deadline ] && fail "the unit never logged '$1' ($2 times) within $3 s"
    sleep 0.2
  done
}

# Module errors (a DLL that is not found) are printed; everything else of Wine is quiet.
# Started from another folder than its own, as from a shortcut.
if [ "$native" = 1 ]; then  # on the X display, whatever platform the caller's Qt was told
  (cd "$out" && exec env QT_QPA_PLATFORM=xcb "$tool" >"$out/zpitool.out" 2>"$out/zpitool.err") &
else
  (cd "$out" && exec env WINEDEBUG=-all,err+module "$wine" "$tool" >"$out/zpitool.out" 2>"$out/zpitool.err") &
fi
pid=$!
stop_tool() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
trap stop_tool EXIT

window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name '^ZPiTool v2\.46\.B$' 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  kill -0 "$pid" 2>/dev/null || fail "it ended without showing its window: $(cat "$out/zpitool.err")"
  sleep 0.1
done
[ -n "$window" ] || fail "no window titled 'ZPiTool v2.46.B' after 30 s"
if grep -q 'err:module' "$out/zpitool.err"; then
  fail "a library is missing: $(grep 'err:module' "$out/zpitool.err")"
fi
sleep 1  # the start-up tick
import -window root "$out/zpitool-start.png"
box=$(xdotool search --onlyvisible --name '^ZPi Tool$' 2>/dev/null | head -n1 || true)
[ -z "$box" ] || fail "a message box at start-up: $(xdotool getwindowname "$box")"
echo "$what started and showed its window (no library missing, no message box)"

# Positions within the window's client area, from the fixed layout (app/form1_layout.cpp).
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.3; }
click 511 86                      # ButtonVCP: opens the port selected at start
wait_unit 'tool opened the port' 1 20
wait_unit 'restarted with firmware 2.46' 1 240
wait_unit 'configuration replaced' 1 60   # the invalid configuration replaced by the defaults
echo "opened, firmware uploaded, configuration read, invalid configuration replaced"
sleep 1
click 224 257                     # ED_VMX (Velocidade máxima permitida)
xdotool key --window "$window" ctrl+a 2>/dev/null
xdotool type --window "$window" --delay 50 99 2>/dev/null
click 37 361                      # CB_BZ_VMX_WH (alerta buzzer: Durante)
click 483 179                     # B_SetConfig (CONFIGURAR)
wait_unit 'configuration replaced' 2 60
echo "the panel's configuration written"
sleep 1
import -window root "$out/zpitool-service.png"
echo "screenshot: $out/zpitool-service.png"
xdotool windowclose "$window" 2>/dev/null || true
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
