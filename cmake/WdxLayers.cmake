# The library's layers: one static library per folder of src/, and a link check
# per layer. Each layer lists the layers it uses; lower layers never use higher ones:
#   foundation -> ipc -> diag, registry -> aos -> agent, libCGIConsoleCommon
# and within libCGIConsoleCommon: common -> request -> page -> capi.

# Warnings, definitions and Windows version for every target of our own (not
# googletest). Warnings fail our own targets in every build, so switching between
# CI and the other commands never re-configures or rebuilds a tree.
option(WDX_WERROR "Warnings fail the build of our own targets" ON)
function(wdx_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${WDX_WERROR}>:$<$<COMPILE_LANGUAGE:C,CXX>:-Werror>>)
  target_compile_definitions(${target} PRIVATE
    UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 __USE_MINGW_ANSI_STDIO=0)
  # On x86 a caller built by Microsoft's compilers keeps the stack 4-byte aligned, and
  # so do the threads and callbacks Windows starts; GCC assumes 16. Each function that
  # needs more than 4 (a 64-bit field, an aligned call) realigns its own frame.
  if(WDX_ARCH STREQUAL "i686")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-mincoming-stack-boundary=2>)
  endif()
endfunction()

# The DLL's public headers lie in include/ under their layer's name
# (include/agent, include/libCGIConsoleCommon) and are included by the names of
# the release archive's folders ("installer/...", "console/..."), as customers
# include them. WDX_PUBLIC_INCLUDE is an include root laid out like the
# archive's include/, for programs built on the public headers alone.
set(WDX_PUBLIC_INCLUDE ${CMAKE_BINARY_DIR}/public-include)
file(MAKE_DIRECTORY ${WDX_PUBLIC_INCLUDE})

# A layer's headers are reachable as "<folder>/<header>" only through a per-layer
# include root in the build tree, so a layer that includes a header of a layer it
# does not use fails to compile. PUBLIC_HEADERS <name>: the layer's public
# headers (include/<layer>), reachable as "<name>/<header>".
# PARTS <sub-folder>...: the layer's units lie in these sub-folders of its folder,
# lowest first. A part's units see the headers of their own part and the parts
# before it only, each folder on the include path (a unit includes "cgi_X.h"),
# so a unit that includes a header of a later part fails to compile. Programs
# that use the layer see every part, as "<layer>/<part>/<header>" too.
function(wdx_layer name)
  cmake_parse_arguments(LAYER "" "PUBLIC_HEADERS" "USES;PARTS" ${ARGN})
  set(dir ${CMAKE_SOURCE_DIR}/src/${name})
  set(sources)
  set(parts_so_far)
  if(LAYER_PARTS)
    file(GLOB stray CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
    if(stray)
      message(FATAL_ERROR "src/${name}: units belong in one of its parts (${LAYER_PARTS}): ${stray}")
    endif()
    foreach(part ${LAYER_PARTS})
      file(GLOB part_sources CONFIGURE_DEPENDS ${dir}/${part}/*.cpp)
      list(APPEND parts_so_far ${dir}/${part})
      set_source_files_properties(${part_sources} PROPERTIES INCLUDE_DIRECTORIES "${parts_so_far}")
      list(APPEND sources ${part_sources})
    endforeach()
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  endif()
  add_library(wdx_${name} STATIC ${sources})
  wdx_target_defaults(wdx_${name})
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${dir} ${root}/${name} SYMBOLIC)
  set(links ${root} ${WDX_PUBLIC_INCLUDE})
  if(LAYER_PARTS)  # a parted layer's own units see its public headers, not its root
    set(units_root ${CMAKE_BINARY_DIR}/layers/${name}.units)
    file(MAKE_DIRECTORY ${units_root})
    list(APPEND links ${units_root})
  endif()
  if(LAYER_PUBLIC_HEADERS)
    foreach(link_root ${links})
      set(link ${link_root}/${LAYER_PUBLIC_HEADERS})
      file(REMOVE ${link})  # a link of a tree configured before may point elsewhere
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/include/${name} ${link} SYMBOLIC)
    endforeach()
  endif()
  if(LAYER_PARTS)
    target_include_directories(wdx_${name} PRIVATE ${units_root} INTERFACE ${root} ${parts_so_far})
  else()
    target_include_directories(wdx_${name} PUBLIC ${root})
  endif()
  target_link_libraries(wdx_${name} PUBLIC ${LAYER_USES})
  set(below)  # every layer this one reaches, for the layer's link check
  foreach(used ${LAYER_USES})
    get_property(used_below GLOBAL PROPERTY ${used}_BELOW)
    list(APPEND below ${used} ${used_below})
  endforeach()
  list(REMOVE_DUPLICATES below)
  set_property(GLOBAL PROPERTY wdx_${name}_BELOW ${below})
  set_property(GLOBAL PROPERTY wdx_${name}_PARTS ${LAYER_PARTS})  # for the parts' check (tests/)
endfunction()

# Each layer, whole, with only the layers it names, must link into a DLL on its
# own: a call into a layer it does not name fails here even when the caller
# declares the function by hand instead of including its header.
function(wdx_layer_checks)
  file(WRITE ${CMAKE_BINARY_DIR}/layer_check.cpp "// every object of one layer, and nothing above it\n")
  foreach(layer ${ARGN})
    add_library(${layer}_check SHARED ${CMAKE_BINARY_DIR}/layer_check.cpp)
    set_target_properties(${layer}_check PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/layer-checks
      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/layer-checks)
    get_property(below GLOBAL PROPERTY ${layer}_BELOW)
    target_link_libraries(${layer}_check PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${layer}>" ${below} ${WDX_SYSTEM_LIBS})
    target_link_options(${layer}_check PRIVATE ${WDX_STATIC_LINK})
  endforeach()
endfunction()
