# The Xvfb display, the Wine prefix and the simulated units behind COM ports, shared by the
# Windows check (scripts/windows-check.sh) and the packaging check (scripts/package-check.sh).
# Sourced; the caller sets run_dir (a folder for logs) and, for units, zpisim (the simulated
# unit's executable for this machine), and calls zpi_stop_helpers on exit.
#
#   zpi_start_display            Xvfb on a free display; exports DISPLAY
#   zpi_start_wine PREFIX        the prefix (made once), one Wine server for the run, its settings
#   start_unit COMn ARGS...      zpisim ARGS behind COM port n; its log is $run_dir/zpisim-COMn.log
#   list_port COMn               lists a port in the registry as a serial driver does

helpers=()
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

zpi_stop_helpers() {
  local pid
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${helpers[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "${WINEPREFIX:-}" ] && "$wineserver" -k >/dev/null 2>&1 || true
}

zpi_start_display() {
  exec 5>"$run_dir/display"
  Xvfb -displayfd 5 -screen 0 1024x800x24 -nolisten tcp >"$run_dir/xvfb.log" 2>&1 &
  helpers+=($!)
  for _ in $(seq 100); do [ -s "$run_dir/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -n1 "$run_dir/display")
  unset WAYLAND_DISPLAY
}

zpi_start_wine() {
  export WINEPREFIX=$1 WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    "$wine" wineboot -i >"$run_dir/wineboot.log" 2>&1
    # A crashing test must fail with the exception's code, not wait in Wine's debugger.
    local aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
    "$wine" reg add "$aedebug" /v Auto /d 0 /f >/dev/null 2>&1
    "$wine" reg add "$aedebug" /v Debugger /d "" /f >/dev/null 2>&1
  fi
  # One server for the whole run, kept up between the tests: a server left by wineboot (or by
  # an earlier run) would exit when idle, and a new one would start for every test.
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  "$wineserver" -p </dev/null >"$run_dir/wineserver.log" 2>&1
  # The first program in a fresh session waits for Wine's services (which also link COM1 to
  # the machine's first serial port); test discovery gives each executable 5 s, so wait here.
  "$wine" cmd.exe /c exit </dev/null >"$run_dir/warm-up.log" 2>&1 || true

  # The prefix's settings, for this run:
  # - Fonts. Wine has none of the window's (MS Sans Serif, Verdana, Consolas) nor Tahoma and
  #   Courier New, and of the machine's fonts it renders Liberation's with letters and spaces
  #   lost at the window's small sizes ("P NG [s]:", "REG STRAR EVENTO"; Linux renders the
  #   same files whole). The prefix names free fonts that Wine renders whole as those
  #   families, the way Windows has them: DejaVu Sans (Verdana's metrics) and its mono, and
  #   Liberation Sans Narrow, which keeps its letters and is about as wide as MS Sans Serif.
  # - Windows left to themselves. Without a window manager Wine waits about 2 s for one each
  #   time a window goes; the tests' windows are unmanaged, and only zpitool.exe's is managed
  #   (it is driven like a window on a desktop).
  {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
    printf '"%s"="DejaVu Sans"\n' Verdana Tahoma
    printf '"%s"="Liberation Sans Narrow"\n' "MS Sans Serif" "Microsoft Sans Serif"
    printf '"%s"="DejaVu Sans Mono"\n' Consolas "Courier New"
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n'
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\zpitool.exe\\X11 Driver]\n"Managed"="Y"\n'
  } >"$run_dir/settings.reg"
  "$wine" reg import 'Z:'"${run_dir//\//\\}"'\settings.reg' >"$run_dir/settings.log" 2>&1
}

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

# Lists a port as a serial driver does (the key lives as long as the Wine server).
list_port() {
  "$wine" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\ZpiCheck$1" /d "$1" /f >/dev/null 2>&1
}

# Starts zpisim with arguments $2.. behind COM port $1; its log goes to $run_dir/zpisim-$1.log.
start_unit() {
  local port=$1
  shift
  "$zpisim" "$@" >"$run_dir/zpisim-$port.out" 2>"$run_dir/zpisim-$port.log" &
  helpers+=($!)
  wait_line "$run_dir/zpisim-$port.out"
  ln -sfn "$(head -n1 "$run_dir/zpisim-$port.out")" "$WINEPREFIX/dosdevices/${port,,}"
  [ "$port" = COM1 ] || list_port "$port"  # Wine lists COM1 itself
}
