# Sourced: the project's own Wine prefix ($BUILD/wineprefix, never ~/.wine) and a
# persistent wineserver for it.

ensure_prefix() {
  # A prefix made before wine32 was installed lacks its 32-bit (WOW64) half, and
  # wineboot -u does not add it (Wine 8): the prefix is made anew. It holds nothing
  # the suites do not set up themselves.
  if [ "${RUN32:-0}" -eq 1 ] && [ -f "$WINEPREFIX/system.reg" ] &&
     [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    log "the Wine prefix lacks its 32-bit half: making it anew"
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
    log "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
}

# A persistent wineserver makes each test program start in a fraction of a second.
# Its streams are detached: otherwise it keeps the caller's pipes open and
# `./wdx test | tail` never ends.
start_wineserver() {
  ensure_prefix
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
  trap stop_wineserver EXIT
  # Start Wine's own background services now, with their streams detached, so they
  # do not inherit (and hold open) the output pipes of the test runner.
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
stop_wineserver() { "$WINESERVER" -k >/dev/null 2>&1 || true; }
