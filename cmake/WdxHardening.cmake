# Every binary we build carries the protections Windows teams' binary analyzers
# look for (tests/check_hardening.py checks the shipped DLLs):
# - a stack protector on functions with arrays or address-taken locals, from GCC's
#   libssp, linked statically like the rest of the runtime (WDX_STATIC_LINK);
# - _FORTIFY_SOURCE=2: mingw-w64's headers check memcpy, strcpy, sprintf and
#   friends against the known size of their destination (optimized builds only;
#   the wide-character functions have no such checks there);
# - Windows 7, the oldest version we support, as the image's OS and subsystem
#   version (ld writes 4.0 for i686 and 5.2 for x86_64 otherwise).
# ASLR (DYNAMIC_BASE, HIGH_ENTROPY_VA) and DEP (NX_COMPAT) are ld's defaults.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>")
add_compile_definitions("$<$<COMPILE_LANGUAGE:C,CXX>:_FORTIFY_SOURCE=2>")
add_link_options(-fstack-protector-strong
  -Wl,--major-os-version,6,--minor-os-version,1,--major-subsystem-version,6,--minor-subsystem-version,1)
