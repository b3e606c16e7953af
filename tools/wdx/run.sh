# Sourced: the demo, the benchmark and the web console, on the trees ./wdx builds.

# ./wdx demo: the shipped DLL where a 32-bit installer host can load it here, else
# the 64-bit build; --32 insists on the shipped DLL, in the emulated machine where
# this one cannot run it.
run_demo() {  # [--32] [demo args]
  local want32=0
  [ "${1:-}" = --32 ] && { want32=1; shift; }
  build
  if [ "$want32" -eq 1 ]; then
    prepare_32bit install "the demo cannot run the shipped DLL" x86-tests installer_host
    [ "$RUN32" -eq 1 ] || exit 1
  else
    prepare_32bit no-install "the demo runs the 64-bit build" x86-tests installer_host
  fi
  if [ "$HOW32" = emulated ]; then
    log "the demo in the emulated machine, on the shipped DLL"
    vm32_run --local "$X86_TESTS/bin" --local "$BUILD/x64/bin" --env DEMO_HOST="$X86_TESTS/bin/installer_host.exe" --env DEMO_DLL="$BUILD/x86/bin/WDXPatchAgent.dll" \
      --env DEMO_WINE="$WINE32" -- "$ROOT/tools/demo.sh" "$BUILD" "$@"
    return
  fi
  start_wineserver; check_wine32
  if [ "$RUN32" -eq 1 ]; then
    DEMO_HOST=$X86_TESTS/bin/installer_host.exe DEMO_DLL=$BUILD/x86/bin/WDXPatchAgent.dll DEMO_WINE=$WINE32
  elif [ "$want32" -eq 1 ]; then
    log "32-bit programs do not run here: the demo cannot run the shipped DLL"; exit 1
  else
    DEMO_HOST=$BUILD/x64/bin/installer_host.exe DEMO_DLL=$BUILD/x64/bin/WDXPatchAgent.dll DEMO_WINE=$WINE
  fi
  DEMO_HOST=$DEMO_HOST DEMO_DLL=$DEMO_DLL DEMO_WINE=$DEMO_WINE "$ROOT/tools/demo.sh" "$BUILD" "$@"
}

# The benchmark: the library against bare equivalents, and the web console's
# figures; the parser's memory of the 32-bit build too where it runs natively.
run_bench() {
  build
  prepare_32bit no-install "the 32-bit memory figure is skipped" x86-tests
  start_wineserver; check_wine32
  "$WINE" "$BUILD/x64/bin/benchmark.exe" </dev/null
  "$ROOT/tools/console/bench_web.sh" "$BUILD/x64/bin"
  if [ "$RUN32" -eq 1 ]; then
    log "32-bit build: the parser's memory"
    WINELOADER=$WINE32 "$ROOT/tools/console/bench_web.sh" "$X86_TESTS/bin" --memory-only
  fi
}

# The web console of a simulated server; serve.sh takes over the running wineserver.
run_console() {  # [--port N] [--answers FILE]
  build; start_wineserver; trap - EXIT
  exec "$ROOT/tools/console/serve.sh" "$BUILD/x64/bin" --own-wineserver "$@"
}
