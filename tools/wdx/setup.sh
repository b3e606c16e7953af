# Sourced: the packages ./wdx needs, installed when missing, and the i386 system
# DLLs that the shipped DLL's imports are checked against.
PACKAGES="g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
          wine wine64 cmake ninja-build googletest python3
          lighttpd curl chromium chromium-driver clang lld llvm osslsigncode openssl"

have_toolchain() {
  command -v i686-w64-mingw32-g++-posix >/dev/null &&
  command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
  command -v i686-w64-mingw32-windres >/dev/null &&
  command -v x86_64-w64-mingw32-windres >/dev/null &&
  [ -x "$WINE" ] && [ -x "$WINESERVER" ] &&
  command -v cmake >/dev/null && command -v ninja >/dev/null &&
  [ -f /usr/src/googletest/CMakeLists.txt ] && command -v python3 >/dev/null &&
  command -v lighttpd >/dev/null && command -v curl >/dev/null &&
  command -v chromium >/dev/null && command -v chromedriver >/dev/null &&
  command -v clang >/dev/null && command -v lld-link >/dev/null && command -v llvm-dlltool >/dev/null &&
  command -v llvm-pdbutil >/dev/null &&
  command -v osslsigncode >/dev/null && command -v openssl >/dev/null
}

# One bad index (a mirror in mid-sync, an architecture we only read files from)
# must not block every command: retry once, then go on with the lists at hand and
# let the installs below say whether what we need still resolves.
apt_update() {
  local out
  for _ in 1 2; do
    out=$($SUDO apt-get update -q 2>&1) && return 0
  done
  log "apt-get update failed for: $(printf '%s\n' "$out" | sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' | tr '\n' ' ')— going on with the package lists at hand"
  return 0
}

# Installs the given packages; on failure names the ones that cannot be had, with
# apt's last word on them (also in APT_REASON), and fails.
apt_install() {
  local out missing="" p
  out=$($SUDO apt-get install -y -q --no-install-recommends "$@" 2>&1) && return 0
  [ "$#" -eq 1 ] && missing=" $1"
  [ "$#" -gt 1 ] && for p in "$@"; do
    $SUDO apt-get install -y -q --no-install-recommends "$p" >/dev/null 2>&1 || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  APT_REASON=$(printf '%s\n' "$out" | grep -E '^E: ' | tail -n 1)
  log "cannot install:$missing (apt: ${APT_REASON:-no reason given})"
  return 1
}

# CI and new machines start without the toolchain; skip quickly when it is there.
setup() {
  have_toolchain && return 0
  log "installing the toolchain (mingw-w64, Wine, CMake, GoogleTest, lighttpd, curl, Chromium, clang, lld, llvm, osslsigncode)"
  apt_update
  # shellcheck disable=SC2086
  apt_install $PACKAGES || exit 1
  have_toolchain || { log "toolchain still incomplete after install"; exit 1; }
}

# The i386 system DLLs that the shipped DLL's imports are checked against: Wine's
# i386 library package, fetched and unpacked under the build folder, never
# installed. That works on every machine, whatever its kernel runs and whether or
# not the i386 C library of the mirror matches the installed one. The trees read
# them from there (WDX_SYSTEM_DLLS_i686 in CMakePresets.json).
WIN32_DLL_ROOT=$BUILD/wine-i386
WIN32_SYSTEM_DLLS=$WIN32_DLL_ROOT/usr/lib/i386-linux-gnu/wine/i386-windows
fetch_i386_dlls() {
  local want have
  want=$(dpkg-query -W -f='${Version}' "libwine:$(dpkg --print-architecture)" 2>/dev/null || true)
  have=$(cat "$WIN32_DLL_ROOT/VERSION" 2>/dev/null || true)
  [ -n "$want" ] && [ "$want" = "$have" ] && [ -f "$WIN32_SYSTEM_DLLS/kernel32.dll" ] && return 0
  log "fetching Wine's i386 system DLLs (libwine:i386 $want) for the import check"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386 && apt_update
  fi
  local tmp; tmp=$(mktemp -d "$BUILD/wine-i386.XXXXXX")
  # The same version as the 64-bit Wine when the lists still have it, else theirs.
  if ( cd "$tmp" && { apt-get download -q "libwine:i386=$want" || apt-get download -q libwine:i386; } ) >"$tmp.log" 2>&1 &&
     dpkg-deb -x "$tmp"/libwine_*_i386.deb "$tmp/root"; then
    rm -rf "$WIN32_DLL_ROOT"; mv "$tmp/root" "$WIN32_DLL_ROOT"
    dpkg-deb -f "$tmp"/libwine_*_i386.deb Version > "$WIN32_DLL_ROOT/VERSION"
    [ "$(cat "$WIN32_DLL_ROOT/VERSION")" = "$want" ] || echo "$want" > "$WIN32_DLL_ROOT/VERSION.wanted"
    rm -rf "$tmp" "$tmp.log"; return 0
  fi
  log "libwine:i386 could not be fetched ($(grep -E '^E: ' "$tmp.log" | tail -n 1)): the i386 import check will fail"
  rm -rf "$tmp" "$tmp.log"; return 1
}

# wine32:i386, installed only where the kernel runs 32-bit programs, since only
# there can it run anything. Its i386 C library must equal the installed amd64 one,
# so a mirror in mid-sync can make it uninstallable: then the 64-bit suite runs alone.
setup_wine32() {
  [ -x "$WINE32" ] && return 0
  log "installing wine32:i386 for the 32-bit suite"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386 || return 1
  fi
  apt_update
  apt_install wine32:i386 >/dev/null 2>&1 || return 1
  [ -x "$WINE32" ]
}
