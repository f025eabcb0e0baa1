#!/usr/bin/env bash
# Qt 6.4.2 for 64-bit Windows (mingw-w64, shared libraries), for the Windows cross build.
# Prints the folder to give CMake as CMAKE_PREFIX_PATH. Looks, in this order, for:
#   1. $ZPI_QT_MINGW, when set (a folder that holds lib/cmake/Qt6);
#   2. ../shared/qt6-mingw beside the clone (the project's prebuilt copy, used in place);
#   3. the cache folder ${XDG_CACHE_HOME:-~/.cache}/zpitool/qt6-mingw-6.4.2, outside the clone;
# and, when none has it, builds it into the cache folder from Debian's own qtbase source
# package (the same version as Debian's qt6-base-dev, whose moc, rcc and uic the build uses).
# That build takes about 45 minutes on two cores and needs about 3 GB while it runs.
#
#   scripts/qt-windows.sh            # prints the folder, building it first when needed
#   scripts/qt-windows.sh --check    # prints it only when it exists; status 1 otherwise
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=6.4.2
debian_version=6.4.2+dfsg-10
cache=${XDG_CACHE_HOME:-$HOME/.cache}/zpitool/qt6-mingw-$version

has_qt() { [ -n "$1" ] && [ -f "$1/lib/cmake/Qt6/Qt6Config.cmake" ]; }

for candidate in "${ZPI_QT_MINGW:-}" "$root/../shared/qt6-mingw" "$cache"; do
  if has_qt "$candidate"; then
    (cd "$candidate" && pwd)
    exit 0
  fi
done
if [ -n "${ZPI_QT_MINGW:-}" ]; then
  echo "ZPI_QT_MINGW=$ZPI_QT_MINGW holds no Qt (no lib/cmake/Qt6/Qt6Config.cmake)" >&2
  exit 1
fi
[ "${1:-}" = "--check" ] && exit 1

echo "Building Qt $version for Windows into $cache: about 45 minutes on two cores." >&2
source "$root/scripts/deps.sh"
zpi_install_deps qt6-base-dev qt6-base-dev-tools g++-mingw-w64-x86-64-posix xz-utils perl dpkg-dev >&2
work=$(mktemp -d "${TMPDIR:-/tmp}/qt6-mingw-build.XXXXXX")
# Debian's source package, through a deb-src entry added for this download only (and taken
# away again whatever happens).
src_list=/etc/apt/sources.list.d/zpitool-qt-src.sources
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
trap 'rm -rf "$work"; [ -e "$src_list" ] && "${sudo[@]}" rm -f "$src_list"' EXIT
printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
  "${sudo[@]}" tee "$src_list" >/dev/null
"${sudo[@]}" apt-get update -q >&2
(cd "$work" && apt-get source --download-only "qt6-base=$debian_version" >&2)
"${sudo[@]}" rm -f "$src_list"
"${sudo[@]}" apt-get update -q >&2
tar -C "$work" -xf "$work"/qt6-base_${version}+dfsg.orig.tar.xz

cat >"$work/mingw.cmake" <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC

# Core, Gui, Widgets, Network (Schannel for TLS), Test; the windows and offscreen platforms
# and the Windows styles. Tablet events off: their header is not in Debian's source.
staging=$cache.partial
rm -rf "$staging"
cmake -G Ninja -S "$work/qtbase-everywhere-src-$version" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$staging" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_dbus=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF -DFEATURE_openssl=OFF -DFEATURE_schannel=ON \
  -DFEATURE_icu=OFF -DFEATURE_vulkan=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF \
  -DFEATURE_testlib=ON -DFEATURE_optimize_size=ON -DFEATURE_tabletevent=OFF >&2
cmake --build "$work/build" --parallel "${ZPI_JOBS:-2}" >&2
cmake --install "$work/build" >&2
# The mingw runtime DLLs a Qt program needs beside it.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  cp "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")" "$staging/bin/"
done
x86_64-w64-mingw32-strip --strip-unneeded "$staging"/bin/*.dll "$staging"/plugins/*/*.dll
mv "$staging" "$cache"
echo "Qt for Windows is in $cache" >&2
echo "$cache"
