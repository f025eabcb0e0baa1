# Two header-only libraries from Debian: CLI11 (command lines) and nlohmann-json (JSON). A
# native build finds their CMake packages; a cross build searches only its target's root, so
# it takes the build machine's headers (plain C++) from a copy in the build tree.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(CLI11 CONFIG REQUIRED)           # libcli11-dev
  find_package(nlohmann_json 3 CONFIG REQUIRED)  # nlohmann-json3-dev
  return()
endif()

set(ZPI_HOST_INCLUDE "/usr/include" CACHE PATH "Where the build machine keeps CLI11's and nlohmann-json's headers")
set(zpi_copied ${CMAKE_BINARY_DIR}/host-headers)
foreach(folder CLI nlohmann)
  if(NOT EXISTS ${ZPI_HOST_INCLUDE}/${folder})
    message(FATAL_ERROR "${ZPI_HOST_INCLUDE}/${folder} not found (Debian: libcli11-dev, nlohmann-json3-dev)")
  endif()
  file(COPY ${ZPI_HOST_INCLUDE}/${folder} DESTINATION ${zpi_copied})
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${zpi_copied})
