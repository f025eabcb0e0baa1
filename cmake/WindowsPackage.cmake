# The package a technician unzips: ZPiTool-<version>-win64.zip, one folder holding zpitool.exe
# and what it loads beside it, and zpictl.exe (the command line, Qt-free), nothing else:
#   - Qt's DLLs (Core, Gui, Widgets, Network) and the mingw runtime DLLs they and the tool use;
#   - the plugins: platforms/qwindows.dll, styles/qwindowsvistastyle.dll (the system's look
#     for Qt's own dialogs) and tls/qschannelbackend.dll (the version check over HTTPS);
#   - translations/qtbase_pt_BR.qm: Qt's own texts in Portuguese (button captions of the
#     message boxes), the same file on every system.
# Included from cmake/WindowsCross.cmake; app/ and ctl/CMakeLists.txt install the executables.
#
#   cpack --config build/win/CPackConfig.cmake -B build/win/package

set(zpi_package_dlls Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Network.dll)
set(zpi_runtime_dlls libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
set(zpi_files)
foreach(dll IN LISTS zpi_package_dlls zpi_runtime_dlls)
  if(EXISTS ${ZPI_QT_BIN_DIR}/${dll})
    list(APPEND zpi_files ${ZPI_QT_BIN_DIR}/${dll})
  elseif(dll IN_LIST zpi_runtime_dlls)
    # A Qt without the runtime beside it: the compiler's own copies.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE zpi_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${zpi_dll}")
      message(FATAL_ERROR "${dll} is neither in ${ZPI_QT_BIN_DIR} nor with ${CMAKE_CXX_COMPILER}")
    endif()
    list(APPEND zpi_files ${zpi_dll})
  else()
    message(FATAL_ERROR "${dll} not found in ${ZPI_QT_BIN_DIR}")
  endif()
endforeach()
install(FILES ${zpi_files} DESTINATION . COMPONENT tool)

foreach(plugin platforms/qwindows.dll styles/qwindowsvistastyle.dll tls/qschannelbackend.dll)
  if(NOT EXISTS ${ZPI_QT_PLUGIN_DIR}/${plugin})
    message(FATAL_ERROR "Qt plugin ${plugin} not found in ${ZPI_QT_PLUGIN_DIR}")
  endif()
  get_filename_component(zpi_plugin_dir ${plugin} DIRECTORY)
  install(FILES ${ZPI_QT_PLUGIN_DIR}/${plugin} DESTINATION ${zpi_plugin_dir} COMPONENT tool)
endforeach()

# Qt's translations are the same files on every system: the build machine's (Debian:
# qt6-translations-l10n).
find_file(ZPI_QTBASE_PT_BR qtbase_pt_BR.qm
          PATHS ${QT_HOST_PATH}/share/qt6/translations /usr/share/qt6/translations
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(ZPI_QTBASE_PT_BR)
  install(FILES ${ZPI_QTBASE_PT_BR} DESTINATION translations COMPONENT tool)
else()
  message(WARNING "qtbase_pt_BR.qm not found (Debian: qt6-translations-l10n): the package goes without it")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ZPiTool)
set(CPACK_PACKAGE_VENDOR ZPi)
set(CPACK_PACKAGE_VERSION ${ZPI_PACKAGE_VERSION})
set(CPACK_PACKAGE_FILE_NAME "ZPiTool-${ZPI_PACKAGE_VERSION}-win64")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_COMPONENTS_ALL tool)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
