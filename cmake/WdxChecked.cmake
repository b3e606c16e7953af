# The checked flavour (WDX_CHECKED=ON, its own build trees: ./wdx test --checked).
# Never the shipped DLL's flags: a test build in which a memory error stops the
# program. GCC's undefined-behaviour checks trap in place (no runtime library),
# libstdc++ checks its containers' indexes, every function gets a stack canary
# (libssp, linked statically), the C library's fortified string functions check
# sizes, and every program and DLL allocates from the guard-page heap
# (tests/support/guardheap/GuardHeap.cpp).
option(WDX_CHECKED "Build the checked flavour: trapping UB checks, assertions, canaries, guard-page heap" OFF)
if(NOT WDX_CHECKED)
  return()
endif()
set(WDX_UB_CHECKS bounds,object-size,signed-integer-overflow,shift,null,alignment,pointer-overflow,vla-bound,builtin,return,unreachable,bool,enum,integer-divide-by-zero,nonnull-attribute,returns-nonnull-attribute)
# -O1 (after the build type's -O2, so it wins) keeps the object-size checks and
# fortified functions working and builds faster; no debug information either:
# Wine's crash debugger is off and the checks name what they caught.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-O1;-g0;-fsanitize=${WDX_UB_CHECKS};-fsanitize-undefined-trap-on-error;-fstack-protector-all>")
add_compile_definitions(_GLIBCXX_ASSERTIONS _FORTIFY_SOURCE=2)
# libssp (canaries and the fortified functions), statically with the rest of the runtime.
add_link_options(-fstack-protector-all)

add_library(wdx_guardheap OBJECT ${CMAKE_SOURCE_DIR}/tests/support/guardheap/GuardHeap.cpp)
target_compile_options(wdx_guardheap PRIVATE -Wall -Wextra -Werror)
set(WDX_GUARDHEAP_WRAPS -Wl,--wrap=malloc -Wl,--wrap=calloc -Wl,--wrap=realloc -Wl,--wrap=free
  -Wl,--wrap=__stack_chk_fail -Wl,--wrap=__chk_fail)

# Every program and DLL of our own (googletest is static libraries only) gets the
# guard heap's objects and the wrapped C runtime functions. Called last.
function(wdx_checked_link_all)
  set(dirs ${CMAKE_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      get_target_property(imported ${target} IMPORTED)
      if(NOT imported AND type MATCHES "^(EXECUTABLE|SHARED_LIBRARY)$")
        target_link_libraries(${target} PRIVATE wdx_guardheap)
        target_link_options(${target} PRIVATE ${WDX_GUARDHEAP_WRAPS})
      endif()
    endforeach()
  endwhile()
endfunction()
