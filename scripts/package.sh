#!/usr/bin/env bash
# Builds the packages a technician installs into build/packages/, installing the tools it needs:
#   zpitool_<version>-1_amd64.deb   the Debian package (cpack, cmake/Packaging.cmake), from
#                                   the Release build in build/release (./run.sh's tree);
#   ZPiTool-<version>-win64.zip     the portable folder (cmake/WindowsPackage.cmake), from
#                                   the Windows cross build in build/win (the Windows check's);
#   ZPiTool-<version>-setup.exe     the Windows installer (packaging/windows/zpitool.nsi),
#                                   made of exactly the zip's files.
# Only what changed is rebuilt. The last lines name the files.
#
#   scripts/package.sh             all three
#   scripts/package.sh --deb       the Debian package alone
#   scripts/package.sh --windows   the zip and the installer alone
#
# Qt for Windows comes from scripts/qt-windows.sh, as in the Windows check.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
deb=1
windows=1
case "${1:-}" in
  --deb) windows=0 ;;
  --windows) deb=0 ;;
  "") ;;
  *) echo "usage: scripts/package.sh [--deb | --windows]" >&2; exit 2 ;;
esac

source scripts/deps.sh
extra=()
[ "$deb" = 1 ] && extra+=(dpkg-dev fakeroot file help2man)
[ "$windows" = 1 ] && extra+=(g++-mingw-w64-x86-64-posix nsis unzip)
zpi_install_deps "${extra[@]}"

jobs=${ZPI_JOBS:-2}
out=$root/build/packages
mkdir -p "$out"
made=()

if [ "$deb" = 1 ]; then
  echo "== The Debian package, from the Release build in build/release"
  # Debian's hardening flags (stack protector, fortified functions, read-only relocations,
  # immediate binding), without its debug information: the package is stripped.
  flags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  flags+=" $(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS | sed -e 's/-g //' -e 's/-O2 //')"
  ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >/dev/null
  cmake --build build/release -j "$jobs"
  rm -f "$out"/zpitool_*.deb
  (cd build/release && cpack -G DEB -B "$root/build/release/cpack" >cpack-deb.log) ||
    { cat build/release/cpack-deb.log >&2; exit 1; }
  mv build/release/cpack/zpitool_*.deb "$out/"
  made+=("$(ls "$out"/zpitool_*.deb)")
fi

if [ "$windows" = 1 ]; then
  echo "== The Windows zip and installer, from the cross build in build/win"
  win=$root/build/win
  if [ ! -f "$win/CMakeCache.txt" ]; then
    # Configured as scripts/windows-check.sh configures it, so that the check reuses it.
    qt=$(scripts/qt-windows.sh)
    cmake -S . -B build/win-linux -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZPI_WITH_QT=OFF -DZPI_SANITIZE=ON >/dev/null
    cmake --build build/win-linux -j "$jobs" --target fwtool
    cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
          -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr -DZPI_HOST_FWTOOL="$root/build/win-linux/transfer/fwtool" >/dev/null
  fi
  cmake --build "$win" -j "$jobs" --target zpitool zpictl
  rm -rf "$out"/ZPiTool-*-win64.zip "$out"/ZPiTool-*-setup.exe "$win/package"
  cpack --config "$win/CPackConfig.cmake" -B "$win/package" >"$win/cpack-zip.log" ||
    { cat "$win/cpack-zip.log" >&2; exit 1; }
  zip=$(ls "$win"/package/ZPiTool-*-win64.zip)
  cp "$zip" "$out/"
  made+=("$out/$(basename "$zip")")

  # The installer, from the zip's files as unpacked.
  version=$(basename "$zip" -win64.zip)
  version=${version#ZPiTool-}
  staging=$win/installer
  rm -rf "$staging"
  mkdir -p "$staging"
  unzip -q "$zip" -d "$staging"
  files=$(ls -d "$staging"/ZPiTool-*-win64)
  scripts/nsis-files.sh "$files" >"$staging/files.nsh"
  # The version's number for Windows' file properties: the revision letter as its code.
  letter=${version##*.}
  product_version="${version%.*}.$(printf '%d' "'$letter").0"
  makensis -INPUTCHARSET UTF8 -V2 -DVERSION="$version" -DPRODUCT_VERSION="$product_version" \
           -DFILES="$staging/files.nsh" -DOUTFILE="$out/ZPiTool-$version-setup.exe" \
           -DSIZE_KB="$(du -sk "$files" | cut -f1)" packaging/windows/zpitool.nsi
  made+=("$out/ZPiTool-$version-setup.exe")
fi

echo "== Packages in build/packages:"
for file in "${made[@]}"; do
  printf '   %s  %s bytes\n' "${file#"$root"/}" "$(stat -c %s "$file")"
done
