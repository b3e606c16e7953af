# Builds of one commit come out byte for byte the same wherever the sources and
# the build tree lie, so a release can be rebuilt and compared.
# - No machine path in code or debug information (__FILE__, DWARF names and
#   folders): both trees get fixed names. The build tree is mapped last because it
#   may lie inside the source tree, and GCC takes the last map that matches.
# - The link time stamp in the PE header is WDX_TIMESTAMP, the time of the last
#   commit of the release's sources, which ./wdx passes (SOURCE_DATE_EPOCH); a
#   copy without git history takes the VERSION file's time. Symbol stores index a
#   DLL by time stamp and image size, so it must change from release to release.
#   The debug link's CRC then follows from the rest, and so does the PE checksum.
# - Static archives without dates, owners or modes.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/src/WDXPatchAgent>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=/build/WDXPatchAgent>")
add_link_options(-Wl,--no-insert-timestamp)
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(stamp "$ENV{SOURCE_DATE_EPOCH}")
else()
  file(TIMESTAMP ${CMAKE_SOURCE_DIR}/VERSION stamp "%s" UTC)
endif()
set(WDX_TIMESTAMP ${stamp} CACHE STRING "Link time stamp of the shipped DLLs, seconds since 1970 (./wdx passes the last commit's)")
if(NOT WDX_TIMESTAMP MATCHES "^[1-9][0-9]*$" OR WDX_TIMESTAMP GREATER 4294967295)
  message(FATAL_ERROR "WDX_TIMESTAMP must be a non-zero 32-bit count of seconds, not '${WDX_TIMESTAMP}'")
endif()
