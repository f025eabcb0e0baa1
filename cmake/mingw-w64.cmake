# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads variant, so that
# std::thread and std::mutex work). The tests run under Wine through the emulator below.
#
#   cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DCMAKE_PREFIX_PATH=<Qt for mingw-w64> -DQT_HOST_PATH=/usr     # the whole tool
#   cmake ... -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DZPI_WITH_QT=OFF  # the Qt-free part
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZPI_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${ZPI_MINGW_PREFIX}-gcc-posix ${ZPI_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZPI_MINGW_PREFIX}-g++-posix ${ZPI_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZPI_MINGW_PREFIX}-windres)

# Packages for Windows (Qt) are found only under the root paths: those named in
# CMAKE_PREFIX_PATH join the compiler's own.
set(CMAKE_FIND_ROOT_PATH /usr/${ZPI_MINGW_PREFIX} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Which runtime each .exe links (static, or the DLLs that Qt uses) is chosen per executable in
# cmake/WindowsCross.cmake.

# Tests and test discovery run the .exe files under Wine, in a prefix kept in the build tree.
find_program(ZPI_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
set(ZPI_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used to run the tests")
if(ZPI_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${ZPI_WINEPREFIX} WINEDEBUG=-all ${ZPI_WINE})
endif()
