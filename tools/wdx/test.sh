# Sourced: the one test runner, for ./wdx test and ./wdx test --checked. The 64-bit
# half runs under 64-bit Wine; the 32-bit half (the shipped DLL, or with --checked
# the i686 tree's own checked DLL) natively under wine32, or in the emulated
# machine where the kernel runs no 32-bit programs (tools/wdx/run32.sh).
run_tests() {  # [--checked] [ctest args]
  local checked=0 label="" t64=x64 rc=0
  if [ "${1:-}" = --checked ]; then checked=1 label="checked " t64=x64-checked; shift; fi
  if [ "$checked" -eq 1 ]; then
    # The checked flavour (cmake/WdxChecked.cmake) in trees of its own; its i686 tree
    # builds its own checked DLL, tested against the shipped one's exports.
    build_dll
    configure x64-checked
    build_tree x64-checked
    prepare_32bit install "the checked suite is 64-bit only" x86-checked
  else
    build
    prepare_32bit install "32-bit suite skipped, 64-bit suite only" x86-tests
  fi
  start_wineserver
  check_wine32
  [ "$RUN32" -eq 1 ] || [ "$checked" -eq 1 ] && log "${label}64-bit suite (build/$t64)"
  (cd "$ROOT" && ctest --preset "$t64" "$@") || rc=$?
  local where=""; [ "$HOW32" = emulated ] && where=", in the emulated machine"
  if [ "$RUN32" -eq 1 ] && [ "$checked" -eq 1 ]; then
    log "checked 32-bit suite (build/$T32$where)"
    # WDX_CHECKED32_EXCLUDE: entries of this half left out (a ctest regex), said in a line.
    [ -n "${WDX_CHECKED32_EXCLUDE:-}" ] && log "checked 32-bit suite without: $WDX_CHECKED32_EXCLUDE (WDX_CHECKED32_EXCLUDE)"
    ctest32 "$@" ${WDX_CHECKED32_EXCLUDE:+-E "$WDX_CHECKED32_EXCLUDE"} || rc=$?
  elif [ "$RUN32" -eq 1 ]; then
    log "32-bit suite (build/$T32, the shipped DLL under wine32$where)"
    ctest32 "$@" || rc=$?
  elif [ "${WDX_REQUIRE_32BIT:-0}" = 1 ]; then
    log "WDX_REQUIRE_32BIT=1 and the ${label}32-bit suite did not run"; rc=1
  fi
  say_32bit "${label}32-bit suite"
  return "$rc"
}
