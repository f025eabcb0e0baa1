# What a Linux installation carries beside the programs, and the Debian package made of it
# (included from the top-level CMakeLists.txt on Linux, after the programs' own install rules):
#   - manual pages, compressed: zpictl(1) and zpisim(1) made from their own --help by help2man
#     with a hand-written part each (packaging/man/*.h2m), zpitool(1) written by hand (the
#     window takes no options); without help2man only zpitool(1), and a note says so;
#   - under share/doc/zpitool: the README, the licence notices (copyright), the package's
#     change log and its note (README.Debian: the serial port's group, lintian's warnings).
#
#   cpack -G DEB --config build/release/CPackConfig.cmake   (scripts/package.sh does it all)
#
# The package's dependencies are found from the binaries (dpkg-shlibdeps); only what no
# binary links is named: Qt's Portuguese texts and the fonts the window asks for.

include(GNUInstallDirs)
set(zpi_man_dir ${CMAKE_BINARY_DIR}/man)
set(zpi_packaging ${PROJECT_SOURCE_DIR}/packaging)
file(MAKE_DIRECTORY ${zpi_man_dir})

configure_file(${zpi_packaging}/man/zpitool.1.in ${zpi_man_dir}/zpitool.1 @ONLY)
set(zpi_man_pages ${zpi_man_dir}/zpitool.1.gz)
add_custom_command(
  OUTPUT ${zpi_man_dir}/zpitool.1.gz
  COMMAND gzip -9nkf ${zpi_man_dir}/zpitool.1
  DEPENDS ${zpi_man_dir}/zpitool.1
  VERBATIM)

find_program(ZPI_HELP2MAN help2man)
if(ZPI_HELP2MAN)
  # program, its one-line summary
  foreach(page "zpictl;services ZPi units from the command line, several at once"
               "zpisim;a simulated ZPi unit on a pseudo-terminal")
    list(GET page 0 program)
    list(GET page 1 summary)
    add_custom_command(
      OUTPUT ${zpi_man_dir}/${program}.1.gz
      COMMAND ${zpi_packaging}/man/help2man.sh $<TARGET_FILE:${program}> ${ZPI_PACKAGE_VERSION} ${summary}
              ${zpi_packaging}/man/${program}.h2m ${zpi_man_dir}/${program}.1.gz
      DEPENDS ${program} ${zpi_packaging}/man/${program}.h2m ${zpi_packaging}/man/help2man.sh
      COMMENT "Manual page ${program}(1) from ${program} --help"
      VERBATIM)
    list(APPEND zpi_man_pages ${zpi_man_dir}/${program}.1.gz)
  endforeach()
else()
  message(STATUS "help2man not found (Debian: help2man): no manual pages for zpictl and zpisim")
endif()

# The change log's latest entry names the package's version: a new version of the tool
# needs its entry first.
file(STRINGS ${zpi_packaging}/debian/changelog zpi_changelog_top LIMIT_COUNT 1)
set(ZPI_DEBIAN_REVISION 1)
if(NOT zpi_changelog_top MATCHES "^zpitool \\(${ZPI_PACKAGE_VERSION}-${ZPI_DEBIAN_REVISION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog begins with '${zpi_changelog_top}': "
                      "add an entry for zpitool (${ZPI_PACKAGE_VERSION}-${ZPI_DEBIAN_REVISION})")
endif()
set(zpi_doc_dir ${CMAKE_BINARY_DIR}/doc)
add_custom_command(
  OUTPUT ${zpi_doc_dir}/README.md.gz ${zpi_doc_dir}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${zpi_doc_dir}/README.md
  COMMAND ${CMAKE_COMMAND} -E copy ${zpi_packaging}/debian/changelog ${zpi_doc_dir}/changelog.Debian
  COMMAND gzip -9nf ${zpi_doc_dir}/README.md ${zpi_doc_dir}/changelog.Debian
  DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${zpi_packaging}/debian/changelog
  VERBATIM)
add_custom_target(zpi_manuals ALL DEPENDS ${zpi_man_pages} ${zpi_doc_dir}/README.md.gz ${zpi_doc_dir}/changelog.Debian.gz)

install(FILES ${zpi_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${zpi_doc_dir}/README.md.gz ${zpi_doc_dir}/changelog.Debian.gz
              ${zpi_packaging}/debian/copyright ${zpi_packaging}/debian/README.Debian
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zpitool)

# The Debian package: zpitool_<version>-<revision>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zpitool)
set(CPACK_PACKAGE_VENDOR ZPi)
set(CPACK_PACKAGE_VERSION ${ZPI_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "ZPi <suporte@zpitool.com.br>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the ZPi driver-behaviour unit")
# The extended description, below the summary (lines of at most 80 columns).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The ZPi is an in-vehicle unit that a technician services over USB, where
it shows up as a serial port. The window (zpitool) logs the unit's
identity, uploads the firmware it carries to older units, reads the unit's
configuration into a form, replaces an invalid one and writes what the
technician edits. zpictl runs the same service from the command line for
several units at once; zpisim is a simulated unit to try both without one.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZPI_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${ZPI_VENDOR_HOST}/zpi")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-dejavu-core, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${zpi_packaging}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
include(CPack)
