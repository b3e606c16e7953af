#!/usr/bin/env bash
# Writes the integrators' README.txt to standard output: release/README.txt with
# the version, the console header's ABI note and the DLL's exports filled in.
#   readme.sh SRC DLL     (SRC: the source tree; DLL: the i686 WDXPatchAgent.dll)
set -euo pipefail
src=$1 dll=$2
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
sed -n '/^\/\/ ABI:/,/^\/\/$/p' "$src/include/libCGIConsoleCommon/plm_Console.h" | sed -e 's|^// \{0,1\}||' -e '/^$/d' > "$tmp/abi"
i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\s*\[\s*[0-9]*\] //p' | i686-w64-mingw32-c++filt -n | LC_ALL=C sort -u | sed 's/^/  /' > "$tmp/exports"
awk -v version="$(head -n 1 "$src/VERSION")" -v abi="$tmp/abi" -v exports="$tmp/exports" '
  /^@ABI@$/ { while ((getline line < abi) > 0) print line; next }
  /^@EXPORTS@$/ { while ((getline line < exports) > 0) print line; next }
  { gsub(/@VERSION@/, version); print }' "$src/release/README.txt"
