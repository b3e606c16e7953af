# Builds of one commit come out byte for byte the same wherever the sources and
# the build tree lie, so a release can be rebuilt and compared.
# - No machine path in code or debug information (__FILE__, DWARF names and
#   folders): both trees get fixed names. The build tree is mapped last because it
#   may lie inside the source tree, and GCC takes the last map that matches.
# - No link time stamp in the PE header. The debug link's CRC then follows from
#   the rest, and the PE checksum, where one is written, covers the same bytes.
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
