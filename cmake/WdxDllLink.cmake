# The link steps of WDXPatchAgent.dll: delay-loaded system DLLs, the i686
# runtime's pthread_once, and the debug information moved beside the DLL.
# wdx_dll_link(target) comes after the target's layers, so the delay-load import
# libraries sit between them and the ordinary system libraries.
function(wdx_dll_link target)
  # System DLLs that only the patch flow calls are delay-loaded: console programs
  # load this DLL for every request, and loading OLE Automation, user32 and shell32
  # up front costs each request more than the page's own work. Their import
  # libraries come before the ordinary ones, so they win for the listed functions.
  find_program(WDX_DLLTOOL ${WDX_ARCH}-w64-mingw32-dlltool REQUIRED)
  set(delay_libs)
  set(delay_thunks)
  foreach(dll oleaut32 user32 shell32 shlwapi)
    file(READ ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def def_text)
    if(WDX_ARCH STREQUAL "i686")
      # The i386 linker drops the code of an import-library member whose thunk
      # symbol nobody names (callers go through __imp_ only). For a delay-load
      # member that code is what the import slot points at, so without it the
      # slot stays 0 and the first call jumps to address 0: name every thunk.
      string(REGEX MATCHALL "[A-Za-z0-9_]+@[0-9]+" stdcall_names "${def_text}")
      foreach(name ${stdcall_names})
        list(APPEND delay_thunks "-Wl,--undefined=_${name}")
      endforeach()
    else()
      string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")  # stdcall decorations are 32-bit only
    endif()
    file(WRITE ${CMAKE_BINARY_DIR}/delayload/${dll}.def "${def_text}")
    set(lib ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
    # Run in its folder with relative names: dlltool names the library's symbols
    # after the path it is given, and the symbols reach the DLL's debug file.
    add_custom_command(OUTPUT ${lib}
      COMMAND ${WDX_DLLTOOL} -k -d ${dll}.def -y lib${dll}_delay.a
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delayload
      DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def)
    list(APPEND delay_libs ${lib})
  endforeach()
  add_custom_target(wdx_delayload DEPENDS ${delay_libs})
  add_dependencies(${target} wdx_delayload)
  set(runtime_wraps)
  if(WDX_ARCH STREQUAL "i686")
    set(runtime_wraps -Wl,--wrap=pthread_once)  # see src/dll/DllMain.cpp
    # No code of the image registers a structured exception handler (GCC's i686
    # exceptions are DWARF-2 tables; the delay-load helper's RaiseException on a
    # missing DLL or function goes to the caller's handlers, and winpthreads'
    # thread-name exception to a vectored one), so NO_SEH is true of it.
    # tests/check_hardening.py fails if code that touches the handler chain appears.
    list(APPEND runtime_wraps -Wl,--no-seh)
  endif()
  target_link_libraries(${target} PRIVATE ${delay_libs} ${WDX_SYSTEM_LIBS})
  # A PDB for Windows debuggers beside the DLL (public symbols and section
  # contributions; GCC writes no CodeView types or lines). The build ID hashes the
  # image, so the CodeView entry's GUID, and the PDB's, are the same in every build.
  target_link_options(${target} PRIVATE ${WDX_STATIC_LINK} -Wl,--enable-stdcall-fixup ${delay_thunks} ${runtime_wraps}
    -Wl,--build-id -Wl,--pdb=$<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb)
  # The DLL ships without its symbols and debug information, which go to a file beside it
  # (<dll>.debug, linked by name for debuggers): console programs map
  # the DLL for every request, and its DWARF sections are most of its size.
  # objcopy writes SOURCE_DATE_EPOCH into the PE header as the link time stamp, and
  # the PE checksum over it: WDX_TIMESTAMP, the release's commit time
  # (cmake/WdxReproducible.cmake). The PDB then loses the machine's folders and
  # the time of day that ld writes into it (cmake/wdx_pdb_paths.py).
  find_program(WDX_OBJCOPY ${WDX_ARCH}-w64-mingw32-objcopy REQUIRED)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${WDX_TIMESTAMP} ${WDX_OBJCOPY})
  # A changed post-processing step links again, so no tree keeps a PDB made by the old one.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/wdx_pdb_paths.py)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/wdx_pdb_paths.py $<TARGET_FILE_BASE_NAME:${target}>.pdb
            ${WDX_TIMESTAMP} ${CMAKE_BINARY_DIR}=/build/WDXPatchAgent ${CMAKE_SOURCE_DIR}=/src/WDXPatchAgent
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>)
endfunction()
