# Sourced by ./wdx (ROOT set) and by the scripts under tools/wdx/: the build folder,
# the Wine settings, the release's time stamp and the shared helpers.
BUILD=${WDX_BUILD_DIR:-$ROOT/build}
case "$BUILD" in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
# Absolute, for CMakePresets.json ($env{WDX_BUILD_DIR}) and the emulated machine.
export WDX_BUILD_DIR=$BUILD
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
# No crash debugger: it ends a crashed program with exit code 0, which ctest counts as passed.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64
export WINE=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINELOADER=$WINE
# Debian's wine32 (i386): 32-bit Windows programs in the same 64-bit prefix.
WINE32=/usr/lib/wine/wine
VERSION=$(head -n 1 "$ROOT/VERSION")

SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

log() { printf '== %s\n' "$*" >&2; }

# The time of the last commit that changed what goes into a release: the shipped
# DLLs' link time stamp (cmake/WdxReproducible.cmake), for every tree configured
# from here, copies of the sources without .git included (the presets hold the
# release build's options, so they count). A caller's value wins.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct -- \
    VERSION LICENSE CMakeLists.txt CMakePresets.json cmake src include release samples)
  [ -n "$SOURCE_DATE_EPOCH" ] && export SOURCE_DATE_EPOCH || unset SOURCE_DATE_EPOCH
fi
