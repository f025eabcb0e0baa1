# What the cross build for Windows needs beyond the native build (included from the top-level
# CMakeLists.txt only when cross-compiling for Windows; see cmake/mingw-w64.cmake).
#
# 1. GoogleTest, built from Debian's sources (googletest package), since no Windows build of
#    it is packaged.
# 2. The firmware image: transfer/CMakeLists.txt builds and runs fwtool only natively, so here
#    a fwtool built for the build machine embeds it (ZPI_HOST_FWTOOL, or one built on the spot).
# 3. Undefined behaviour traps in our code: the sanitizer runtimes do not exist for mingw-w64,
#    but the checks can still stop the program where they fire.
# 4. The runtime of each executable: Qt's DLLs use the shared libstdc++, libgcc and
#    winpthread, so an executable that links Qt uses them too (they ship beside it); every
#    other one carries its runtime and runs without DLLs beside it.
# 5. Running under Wine: Qt's DLLs on Wine's path, for the tests. (Qt finds its plugins beside
#    its DLLs; Wine hands a program no QT_ variable of the environment, only WINEQT_ ones.)
# 6. The package a technician unzips (cmake/WindowsPackage.cmake).

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

# ---- 4. Static or shared runtime, per executable -------------------------------------------

# Sets `out` to TRUE when `target` links a Qt library, directly or through its libraries.
function(zpi_links_qt target out)
  set(${out} FALSE PARENT_SCOPE)
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending item)
    if(item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${item})
    if(item MATCHES "^Qt6?::")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    if(NOT TARGET ${item})
      continue()
    endif()
    get_target_property(aliased ${item} ALIASED_TARGET)
    if(aliased)
      list(APPEND pending ${aliased})
      continue()
    endif()
    get_target_property(type ${item} TYPE)
    set(links)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${item} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${item} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link IN LISTS links)
      # $<LINK_ONLY:x> and the like: the target inside.
      string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" link "${link}")
      list(APPEND pending ${link})
    endforeach()
  endwhile()
endfunction()

# Collects the executables defined in `dir` and below it.
function(zpi_executables_in dir out)
  set(found)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "EXECUTABLE")
      list(APPEND found ${t})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    zpi_executables_in(${sub} below)
    list(APPEND found ${below})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Run once every target exists (deferred to the end of the top-level CMakeLists.txt).
function(zpi_choose_runtimes)
  zpi_executables_in(${PROJECT_SOURCE_DIR} executables)
  set(shared)
  foreach(exe IN LISTS executables)
    zpi_links_qt(${exe} qt)
    if(qt)
      list(APPEND shared ${exe})
    else()
      set_property(TARGET ${exe} APPEND PROPERTY LINK_OPTIONS -static -static-libgcc -static-libstdc++)
    endif()
  endforeach()
  message(STATUS "Executables with the shared runtime (beside Qt's DLLs): ${shared}")
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL zpi_choose_runtimes)

# ---- 5. Qt under Wine --------------------------------------------------------------------------

if(ZPI_WITH_QT)
  get_target_property(zpi_qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
  if(NOT zpi_qt_core_dll)
    get_target_property(zpi_qt_core_dll Qt6::Core IMPORTED_LOCATION)
  endif()
  get_filename_component(ZPI_QT_BIN_DIR "${zpi_qt_core_dll}" DIRECTORY)
  get_filename_component(ZPI_QT_PREFIX "${ZPI_QT_BIN_DIR}/.." ABSOLUTE)
  set(ZPI_QT_PLUGIN_DIR "${ZPI_QT_PREFIX}/plugins")
  if(ZPI_WINE)
    # Wine's own drive Z: is the machine's root.
    set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${ZPI_WINEPREFIX} WINEDEBUG=-all
        "WINEPATH=Z:${ZPI_QT_BIN_DIR}" ${ZPI_WINE})
  endif()
  include(WindowsPackage)
endif()
