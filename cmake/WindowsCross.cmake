# What the cross build for Windows needs beyond the native build (included from the top-level
# CMakeLists.txt only when cross-compiling for Windows; see cmake/mingw-w64.cmake).
#
# 1. GoogleTest, built from Debian's sources (googletest package), since no Windows build of
#    it is packaged.
# 2. The firmware image: transfer/CMakeLists.txt builds and runs fwtool only natively, so here
#    a fwtool built for the build machine embeds it (ZPI_HOST_FWTOOL, or one built on the spot).
# 3. Undefined behaviour traps in our code: the sanitizer runtimes do not exist for mingw-w64,
#    but the checks can still stop the program where they fire.

if(BUILD_TESTING AND NOT TARGET GTest::gtest)
  set(ZPI_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources to build for Windows")
  if(NOT EXISTS "${ZPI_GTEST_SOURCE}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found in ${ZPI_GTEST_SOURCE} (Debian: googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # Win32 threads inside GoogleTest
  add_subdirectory(${ZPI_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest)  # older sources name them only gtest and gtest_main
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()

set(ZPI_HOST_FWTOOL "" CACHE FILEPATH "fwtool built for the build machine (empty: build one here)")
if(NOT TARGET zpi_firmware)
  if(ZPI_HOST_FWTOOL)
    set(zpi_fwtool_command "${ZPI_HOST_FWTOOL}")
    set(zpi_fwtool_depends "${ZPI_HOST_FWTOOL}")
  else()
    # One source file: the host's C++ compiler builds it directly.
    find_program(ZPI_HOST_CXX NAMES c++ g++ clang++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
    set(zpi_fwtool_command "${CMAKE_BINARY_DIR}/host/fwtool")
    set(zpi_fwtool_depends "${zpi_fwtool_command}")
    add_custom_command(
      OUTPUT ${zpi_fwtool_command}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
      COMMAND ${ZPI_HOST_CXX} -std=c++20 -O1 -Wall -Wextra ${PROJECT_SOURCE_DIR}/transfer/firmware/fwtool.cpp
              -o ${zpi_fwtool_command}
      DEPENDS ${PROJECT_SOURCE_DIR}/transfer/firmware/fwtool.cpp
      COMMENT "Building fwtool for the build machine"
      VERBATIM)
  endif()
  set(zpi_firmware_source ${CMAKE_BINARY_DIR}/transfer/firmware_image.cpp)
  add_custom_command(
    OUTPUT ${zpi_firmware_source}
    COMMAND ${zpi_fwtool_command} embed ${ZPI_FIRMWARE_IMAGE} "${ZPI_FIRMWARE_TRAILER}" ${zpi_firmware_source}
    DEPENDS ${zpi_fwtool_depends} ${ZPI_FIRMWARE_IMAGE}
    COMMENT "Embedding the firmware image ${ZPI_FIRMWARE_IMAGE}"
    VERBATIM)
  add_library(zpi_firmware STATIC ${PROJECT_SOURCE_DIR}/transfer/firmware.h ${zpi_firmware_source})
  target_include_directories(zpi_firmware PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(zpi_firmware PUBLIC zpi_config)
endif()

option(ZPI_UB_TRAPS "Trap on undefined behaviour in the Windows build" ON)
if(ZPI_UB_TRAPS)
  add_compile_options(-fsanitize=undefined -fsanitize-undefined-trap-on-error)
endif()
