# Windows cross build with the mingw-w64 POSIX-thread compilers.
# WDX_ARCH selects the target: i686 (the shipped 32-bit DLL, default) or x86_64
# (the same sources for running the tests and the demo under 64-bit Wine).
if(NOT DEFINED WDX_ARCH)
  set(WDX_ARCH i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${WDX_ARCH})
set(TOOLCHAIN_PREFIX ${WDX_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
