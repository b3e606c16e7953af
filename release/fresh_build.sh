#!/usr/bin/env bash
# A build tree from scratch: the sources at SRC built into WORK/ARCH, the given
# targets only, with the options of ./wdx build that reach the binaries.
#   fresh_build.sh SRC WORK ARCH TARGET...
set -euo pipefail
src=$1 work=$2 arch=$3; shift 3
rm -rf "${work:?}/$arch"
cmake --no-warn-unused-cli -S "$src" -B "$work/$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw.toolchain.cmake" \
  -DWDX_ARCH="$arch" -DWDX_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$work/$arch" --target "$@" -- -j"$(nproc)" >/dev/null
