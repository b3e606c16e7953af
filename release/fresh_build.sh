#!/usr/bin/env bash
# A build tree from scratch: the sources at SRC built into WORK/PRESET with that
# configure preset of SRC/CMakePresets.json (x86: the shipped i686 DLL; x64-dll: the
# x86_64 one), the options of ./wdx build, the given targets only. The link time
# stamp comes from SOURCE_DATE_EPOCH (cmake/WdxReproducible.cmake).
#   fresh_build.sh SRC WORK PRESET TARGET...
set -euo pipefail
src=$1 work=$2 preset=$3; shift 3
work=$(mkdir -p "$work" && cd "$work" && pwd)  # the presets want it absolute
rm -rf "${work:?}/$preset"
(cd "$src" && WDX_BUILD_DIR=$work cmake --preset "$preset" >/dev/null &&
  WDX_BUILD_DIR=$work cmake --build --preset "$preset" --target "$@" -j "$(nproc)" >/dev/null)
