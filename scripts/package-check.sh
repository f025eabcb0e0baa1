#!/usr/bin/env bash
# The packaging check: builds the packages (scripts/package.sh), then installs each one as a
# technician would, uses it, removes it and checks that nothing is left. Installs what it
# needs; logs, file lists and screenshots go to build/package-check/.
#
# The Debian package, on this machine (it installs into /usr, as root or through sudo, and
# removes itself again whatever happens; it refuses to start when zpitool is installed):
#   its version in Debian's order, its contents and dependencies, lintian (no error allowed);
#   apt-get install ./zpitool_...deb; zpictl --help; man zpictl, zpitool, zpisim; the installed
#   zpitool through one full service against the installed zpisim, on an Xvfb display, driven
#   like the Windows check drives zpitool.exe; zpictl serving another simulated unit;
#   apt-get remove, and every file the package listed is gone.
#
# The Windows installer, under Wine (the Windows check's prefix, build/win/wineprefix):
#   1. silent install for all users (/S): the files of the zip and the uninstaller under
#      Program Files, the Start-menu entry and the desktop shortcut, the registry entry;
#   2. zpitool.exe started from the Start-menu shortcut's target, a unit behind COM1, one full
#      service; beside it two old copies of the tool, one read-only (as Program Files is to a
#      technician without administrator rights): the writable one goes, the read-only one
#      stays, and no message box;
#   3. silent uninstall: the folder, both shortcuts and the registry entry gone;
#   4. an upgrade for the current user alone (/CurrentUser): an older version with files this
#      one no longer has, a file of the technician's beside them, then this version over it
#      with /NODESKTOP: the older files gone, the technician's file kept, no desktop shortcut;
#      the silent uninstall leaves only the technician's file.
#
#   scripts/package-check.sh             both
#   scripts/package-check.sh --deb       the Debian package alone
#   scripts/package-check.sh --windows   the installer alone
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode=${1:-}
case "$mode" in
  --deb | --windows | "") ;;
  *) echo "usage: scripts/package-check.sh [--deb | --windows]" >&2; exit 2 ;;
esac
started=$SECONDS
scripts/package.sh $mode

source scripts/deps.sh
wanted=(lintian man-db xvfb xdotool imagemagick)
[ "$mode" = --deb ] || wanted+=(wine64)
zpi_install_deps "${wanted[@]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

check=$root/build/package-check
rm -rf "$check"
mkdir -p "$check"
run_dir=$check
source scripts/wine-env.sh
installed_deb=0
cleanup() {
  if [ "$installed_deb" = 1 ]; then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q zpitool >/dev/null 2>&1 || true
  fi
  zpi_stop_helpers
}
trap cleanup EXIT
zpi_start_display
failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}

# ---- The Debian package ------------------------------------------------------------------

check_deb() {
  local deb version upstream series letter before after
  deb=$(ls build/packages/zpitool_*.deb)
  echo "== The Debian package $(basename "$deb"): $(stat -c %s "$deb") bytes"
  version=$(dpkg-deb -f "$deb" Version)
  upstream=${version%-*}
  series=${upstream%.*}
  letter=${upstream##*.}
  before=$(printf "\\$(printf '%03o' $(($(printf '%d' "'$letter") - 1)))")
  after=$(printf "\\$(printf '%03o' $(($(printf '%d' "'$letter") + 1)))")
  local next="${series%.*}.$((${series#*.} + 1))"
  local order=("$series" "$series.$before" "$upstream" "$series.$after" "$next") i
  for ((i = 1; i < ${#order[@]}; i++)); do
    dpkg --compare-versions "${order[i - 1]}" lt "${order[i]}" || fail "Debian's order: ${order[i - 1]} is not before ${order[i]}"
  done
  echo "   Debian's order (dpkg --compare-versions): $(printf '%s < ' "${order[@]}" | sed 's/ < $//')"

  dpkg -I "$deb" | tee "$check/deb-info.txt"
  dpkg -c "$deb" | tee "$check/deb-files.txt"
  echo "== lintian"
  lintian --pedantic "$deb" 2>&1 | grep -v 'running with root privileges' | tee "$check/lintian.txt" || true
  grep -q '^E:' "$check/lintian.txt" && fail "lintian found errors"

  if dpkg-query -W -f='${db:Status-Abbrev}' zpitool 2>/dev/null | grep -q '^ii'; then
    fail "zpitool is installed on this machine already: remove it (apt-get remove zpitool) and run the check again"
    return
  fi
  echo "== apt-get install ./$(basename "$deb")"
  installed_deb=1
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "./$deb" \
    >"$check/apt-install.log" 2>&1 || { cat "$check/apt-install.log"; fail "apt-get install failed"; return; }
  sed -n '/^Setting up zpitool/,/^Processing triggers/p' "$check/apt-install.log"
  dpkg -L zpitool >"$check/deb-listed.txt"

  echo "== zpictl --help"
  zpictl --help | tee "$check/zpictl-help.txt"
  local page section
  for page in zpictl zpitool zpisim; do
    MANWIDTH=92 man -P cat "$page" >"$check/man-$page.txt" 2>"$check/man-$page.err" || fail "man $page failed"
    [ -s "$check/man-$page.err" ] && fail "man $page: $(cat "$check/man-$page.err")"
  done
  for section in SYNOPSIS OPTIONS COMMANDS 'EXIT STATUS' 'RESULT CODES' 'CONFIGURATION FILE' STATION JOURNAL; do
    grep -q "^$section\$" "$check/man-zpictl.txt" || fail "man zpictl has no $section"
  done
  echo "== man zpictl (the first lines; build/package-check/man-zpictl.txt holds it all)"
  head -n 40 "$check/man-zpictl.txt"
  echo "   ...   sections: $(grep -E '^[A-Z][A-Z ]+$' "$check/man-zpictl.txt" | tr '\n' ',' | sed 's/,$//; s/,/, /g')"

  echo "== The installed zpitool through one service against the installed zpisim (Xvfb)"
  /usr/bin/zpisim --firmware 2.45 --image invalid >"$check/zpisim-linux.out" 2>"$check/zpisim-linux.log" &
  helpers+=($!)
  wait_line "$check/zpisim-linux.out"
  local port
  port=$(head -n1 "$check/zpisim-linux.out")
  mkdir -p "$check/linux-run"
  ZPITOOL_EXTRA_PORTS=$port scripts/windows-run-tool.sh /usr/bin/zpitool "$check/zpisim-linux.log" "$check/linux-run" ||
    fail "the installed zpitool did not complete its service"

  /usr/bin/zpisim --firmware 2.45 --image invalid >"$check/zpisim-ctl.out" 2>"$check/zpisim-ctl.log" &
  helpers+=($!)
  wait_line "$check/zpisim-ctl.out"
  port=$(head -n1 "$check/zpisim-ctl.out")
  echo "== zpictl service $port"
  zpictl service "$port" 2>/dev/null || fail "zpictl service failed"

  echo "== apt-get remove zpitool"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q zpitool >"$check/apt-remove.log" 2>&1 ||
    { cat "$check/apt-remove.log"; fail "apt-get remove failed"; }
  installed_deb=0
  grep '^Removing zpitool' "$check/apt-remove.log" || true
  local left=() path
  while IFS= read -r path; do
    [ -d "$path" ] && [ "$path" != /usr/share/doc/zpitool ] && continue  # shared folders (/usr/bin)
    [ -e "$path" ] || [ -L "$path" ] && left+=("$path")
  done <"$check/deb-listed.txt"
  if [ ${#left[@]} -gt 0 ]; then
    fail "left after apt-get remove: ${left[*]}"
  else
    echo "   nothing left: none of the $(grep -c . "$check/deb-listed.txt") paths dpkg -L listed remains (but the shared folders); status: $(dpkg-query -W -f='${db:Status-Abbrev}' zpitool 2>/dev/null || echo 'not installed')"
  fi
}

# ---- The Windows installer ---------------------------------------------------------------

# The target of a shortcut (.lnk): the local base path of its link information.
lnk_target() {
  local file=$1 flags at base
  u32() { od -An -tu4 -j "$1" -N4 "$file" | tr -d ' '; }
  flags=$(u32 20)
  at=76
  if ((flags & 1)); then at=$((78 + $(od -An -tu2 -j 76 -N2 "$file" | tr -d ' '))); fi  # the item list
  ((flags & 2)) || return 1                                                               # no link information
  base=$(u32 $((at + 16)))
  dd if="$file" bs=1 skip=$((at + base)) count=520 2>/dev/null | tr '\0' '\n' | head -n1
}

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZPiTool'
user_uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZPiTool'
unix_path() { "$wine" winepath.exe -u "$1" 2>/dev/null | tr -d '\r'; }
registry() { "$wine" reg query "$1" 2>/dev/null | tr -d '\r' | grep -E '^ +[A-Za-z]' | sed 's/^ */   /'; }
shortcuts() { find "$WINEPREFIX/drive_c" -name 'ZPi Tool.lnk' -printf '%P\n' | LC_ALL=C sort; }
# Runs an installer or uninstaller and waits until the entry $2 is gone ("-") or there.
run_setup() {
  local key=$1 want=$2
  shift 2
  "$wine" "$@" >>"$check/setup.log" 2>&1 || true
  local deadline=$((SECONDS + 60))
  while :; do
    if "$wine" reg query "$key" >/dev/null 2>&1; then [ "$want" = there ] && return 0; else [ "$want" = - ] && return 0; fi
    [ $SECONDS -ge $deadline ] && { fail "$* did not finish within 60 s"; return 1; }
    sleep 0.5
  done
}
# The files under a folder, with sizes.
list_folder() { (cd "$1" && find . -type f -printf '   %P  %s\n' | LC_ALL=C sort); }

check_installer() {
  local setup zip staging
  setup=$(ls build/packages/ZPiTool-*-setup.exe)
  zip=$(ls build/packages/ZPiTool-*-win64.zip)
  staging=$(ls -d build/win/installer/ZPiTool-*-win64)
  echo "== The installer $(basename "$setup"): $(stat -c %s "$setup") bytes (the zip: $(stat -c %s "$zip") bytes)"
  zpi_start_wine "$root/build/win/wineprefix"
  zpisim=$root/build/win-linux/sim/zpisim
  [ -x "$zpisim" ] || cmake --build build/win-linux --target zpisim >/dev/null
  # Nothing of an earlier, broken run.
  "$wine" reg delete "$uninstall_key" /f >/dev/null 2>&1 || true
  "$wine" reg delete "$user_uninstall_key" /f >/dev/null 2>&1 || true

  echo "== 1. $(basename "$setup") /S (all users)"
  run_setup "$uninstall_key" there "$root/$setup" /S || return
  local folder
  folder=$(unix_path "$("$wine" reg query "$uninstall_key" /v InstallLocation | tr -d '\r' | sed -n 's/.*REG_SZ *//p')")
  echo "   installed in $folder:"
  list_folder "$folder" | tee "$check/installed-files.txt"
  diff <(cd "$staging" && find . -type f | LC_ALL=C sort) <(cd "$folder" && find . -type f ! -name uninstall.exe | LC_ALL=C sort) >/dev/null ||
    fail "the installed files are not the zip's"
  [ -f "$folder/zpictl.exe" ] || fail "no zpictl.exe beside zpitool.exe"
  echo "   shortcuts:"
  shortcuts | sed 's/^/   /'
  echo "   registry, $uninstall_key:"
  registry "$uninstall_key"
  local version
  version=$(basename "$setup" -setup.exe)
  version=${version#ZPiTool-}
  registry "$uninstall_key" | grep -q "DisplayVersion *REG_SZ *$version\$" || fail "the registry entry does not carry the version"

  echo "== 2. zpitool.exe from the Start-menu shortcut's target, a unit behind COM1"
  local lnk target
  lnk=$(find "$WINEPREFIX/drive_c/ProgramData" -path '*Start Menu/Programs/ZPi Tool.lnk' | head -n1)
  [ -n "$lnk" ] || { fail "no Start-menu entry 'ZPi Tool'"; return; }
  target=$(lnk_target "$lnk")
  echo "   ${lnk#"$WINEPREFIX"/} -> $target"
  [ "$(unix_path "$target")" = "$folder/zpitool.exe" ] || fail "the shortcut does not lead to the installed zpitool.exe"
  # Old copies of the tool that its clean-up deletes: one it may delete, one read-only.
  echo old >"$folder/ZPiTool v2.46.A.exe"
  echo old >"$folder/ZPiTool v2.45.B.exe"
  chmod a-w "$folder/ZPiTool v2.45.B.exe"
  mkdir -p "$check/windows-run"
  start_unit COM1 --firmware 2.45 --image invalid
  scripts/windows-run-tool.sh "$(unix_path "$target")" "$check/zpisim-COM1.log" "$check/windows-run" ||
    fail "the installed zpitool.exe did not complete its service"
  [ -e "$folder/ZPiTool v2.46.A.exe" ] && fail "the tool left its writable old copy"
  if [ -e "$folder/ZPiTool v2.45.B.exe" ]; then
    echo "   clean-up of old copies: the writable one deleted, the read-only one refused and kept, no message box"
  else
    fail "the read-only old copy is gone"
  fi
  chmod u+w "$folder/ZPiTool v2.45.B.exe"
  rm -f "$folder/ZPiTool v2.45.B.exe"

  echo "== 3. uninstall.exe /S"
  run_setup "$uninstall_key" - "$folder/uninstall.exe" /S || return
  sleep 1  # the uninstaller's copy in the temporary folder ends after the entry goes
  [ -e "$folder" ] && fail "the install folder is still there: $(find "$folder" | head)"
  [ -n "$(shortcuts)" ] && fail "shortcuts left: $(shortcuts)"
  echo "   folder gone: $([ -e "$folder" ] && echo no || echo yes); shortcuts left: $(shortcuts | wc -l); registry entry: $("$wine" reg query "$uninstall_key" >/dev/null 2>&1 && echo present || echo gone)"

  echo "== 4. An upgrade for the current user: an older version, then this one over it"
  local old=$check/older old_folder old_version
  old_version="${version%.*}.A"
  [ "$old_version" = "$version" ] && old_version="${version%.*}.0"
  old_folder=$old/ZPiTool-$old_version-win64
  mkdir -p "$old"
  cp -r "$staging" "$old_folder"
  echo stale >"$old_folder/obsolete.dll"
  mkdir "$old_folder/extras"
  echo stale >"$old_folder/extras/obsolete.txt"
  scripts/nsis-files.sh "$old_folder" >"$old/files.nsh"
  makensis -INPUTCHARSET UTF8 -V1 "-XSetCompressor /FINAL zlib" -DVERSION="$old_version" -DPRODUCT_VERSION=0.0.0.0 \
           -DFILES="$old/files.nsh" -DOUTFILE="$old/ZPiTool-$old_version-setup.exe" -DSIZE_KB=1 \
           packaging/windows/zpitool.nsi >"$check/makensis-older.log"
  run_setup "$user_uninstall_key" there "$old/ZPiTool-$old_version-setup.exe" /S /CurrentUser || return
  folder=$(unix_path "$("$wine" reg query "$user_uninstall_key" /v InstallLocation | tr -d '\r' | sed -n 's/.*REG_SZ *//p')")
  echo "   $old_version installed in $folder, with obsolete.dll and extras/obsolete.txt; the technician adds notas.txt"
  echo "notes" >"$folder/notas.txt"
  local before_version
  before_version=$(registry "$user_uninstall_key" | sed -n 's/.*DisplayVersion *REG_SZ *//p')
  # The new version's entry replaces the old one's: wait for its version rather than the key.
  "$wine" "$root/$setup" /S /CurrentUser /NODESKTOP >>"$check/setup.log" 2>&1 || true
  local deadline=$((SECONDS + 60))
  until registry "$user_uninstall_key" | grep -q "DisplayVersion *REG_SZ *$version\$"; do
    [ $SECONDS -ge $deadline ] && { fail "the upgrade did not finish within 60 s"; return; }
    sleep 0.5
  done
  echo "   registry DisplayVersion: $before_version -> $(registry "$user_uninstall_key" | sed -n 's/.*DisplayVersion *REG_SZ *//p')"
  [ -e "$folder/obsolete.dll" ] || [ -e "$folder/extras" ] && fail "the older version's files stayed: $(ls "$folder")"
  [ -f "$folder/notas.txt" ] || fail "the technician's file is gone"
  diff <(cd "$staging" && find . -type f | LC_ALL=C sort) \
       <(cd "$folder" && find . -type f ! -name uninstall.exe ! -name notas.txt | LC_ALL=C sort) >/dev/null ||
    fail "after the upgrade the files are not this version's"
  echo "   after the upgrade: obsolete.dll and extras/ gone, notas.txt kept, $(find "$folder" -type f | wc -l) files; shortcuts:"
  shortcuts | sed 's/^/   /'
  shortcuts | grep -q Desktop && fail "a desktop shortcut despite /NODESKTOP"
  run_setup "$user_uninstall_key" - "$folder/uninstall.exe" /S || return
  sleep 1
  echo "   after uninstall.exe /S: $(cd "$folder" && find . -type f -printf '%P ')left in the folder; shortcuts left: $(shortcuts | wc -l)"
  [ "$(cd "$folder" && find . -type f)" = ./notas.txt ] || fail "the uninstaller did not remove exactly what it installed"
  [ -n "$(shortcuts)" ] && fail "shortcuts left: $(shortcuts)"
  rm -rf "$folder"
}

case "$mode" in
  --deb) check_deb ;;
  --windows) check_installer ;;
  *) check_deb; check_installer ;;
esac

echo "== Packaging check done in $((SECONDS - started)) s"
[ "$failed" = 0 ] || { echo "The packaging check FAILED (see above)" >&2; exit 1; }
echo "The packaging check passed"
