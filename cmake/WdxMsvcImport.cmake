# Import libraries for Microsoft's linker (link.exe, lld-link): the DLL's C exports
# as a Microsoft-style .def and WDXPatchAgent.lib made from it by llvm-dlltool.
# The GNU import library (WDXPatchAgent.dll.a) stays for mingw-w64 programs.
#
# wdx_msvc_import_library(target) writes <tree>/WDXPatchAgent.def and
# <tree>/WDXPatchAgent.lib beside the GNU import library. The names come from
# src/dll/WDXPatchAgent.def, the list the DLL is linked with, so the two cannot
# drift apart: every entry there is a cdecl C function exported undecorated on
# both bitnesses, which is how Microsoft's linker reads an undecorated name.
function(wdx_msvc_import_library target)
  find_program(WDX_LLVM_DLLTOOL llvm-dlltool REQUIRED)
  set(source ${CMAKE_SOURCE_DIR}/src/dll/WDXPatchAgent.def)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(STRINGS ${source} lines)
  set(names "")
  set(in_exports FALSE)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^;")
      continue()
    elseif(line STREQUAL "EXPORTS")
      set(in_exports TRUE)
    elseif(in_exports AND line MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      string(APPEND names "    ${line}\n")
    elseif(in_exports)
      # A decorated name, an alias or an ordinal means something else than a plain
      # cdecl export, and Microsoft's linker would read it differently.
      message(FATAL_ERROR "${source}: \"${line}\" is not a plain C name; the import library for Microsoft's linker takes plain names only")
    endif()
  endforeach()
  set(def ${CMAKE_BINARY_DIR}/WDXPatchAgent.def)
  file(CONFIGURE OUTPUT ${def} CONTENT
"; The C exports of WDXPatchAgent.dll (the installer callbacks and the console's
; C interface, include/console/plm_ConsoleC.h): cdecl, undecorated on both
; bitnesses. An import library for Microsoft's linker is made from it with
;   lib /def:WDXPatchAgent.def /machine:x86 /out:WDXPatchAgent.lib   (or /machine:x64)
LIBRARY WDXPatchAgent.dll
EXPORTS
@names@")
  if(WDX_ARCH STREQUAL "i686")
    set(machine i386)
  else()
    set(machine i386:x86-64)
  endif()
  set(lib ${CMAKE_BINARY_DIR}/WDXPatchAgent.lib)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${WDX_LLVM_DLLTOOL} -m ${machine} -d WDXPatchAgent.def -l WDXPatchAgent.lib
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS ${def}
    COMMENT "Import library for Microsoft's linker: WDXPatchAgent.lib (${machine})")
  add_custom_target(${target} ALL DEPENDS ${lib})
endfunction()
