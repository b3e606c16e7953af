#!/usr/bin/env bash
# Checks a release archive as an integrator gets it: unpacked outside the tree, its
# SHA256SUMS and release/check_archive.py, then the smallest console page built
# from the archive alone (header, import library, DLL) and run under Wine as a CGI
# request: its parameters, and its own printf and the library's stream in the
# order it wrote them. WINE runs Windows programs of ARCH (x86 or x64) in the
# current prefix.
#   check.sh ZIP ARCH WINE
set -euo pipefail
zip=$1 arch=$2 run=$3
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/wdx-page.XXXXXX)
python3 -m zipfile -e "$zip" "$dir"
rel=$(find "$dir" -mindepth 1 -maxdepth 1 -type d)  # the archive's one top folder
(cd "$rel" && sha256sum -c --quiet SHA256SUMS) || { echo "the archive's SHA256SUMS do not match its files" >&2; exit 1; }
python3 "$here/check_archive.py" "$rel" "$here/files.txt"
cxx=x86_64-w64-mingw32-g++-posix; [ "$arch" = x86 ] && cxx=i686-w64-mingw32-g++-posix
echo "== building and running sample/page.cpp from the archive alone ($arch) in $dir" >&2
mkdir "$dir/page"
(cd "$rel" && "$cxx" -std=c++17 -Wall -Wextra -Werror -Iinclude sample/page.cpp "$arch/WDXPatchAgent.dll.a" \
  -static -static-libgcc -static-libstdc++ -o "$dir/page/page.exe")
cp "$rel/$arch/WDXPatchAgent.dll" "$dir/page/"
rc=0
out=$(cd "$dir/page" && REQUEST_METHOD=GET QUERY_STRING='item=W%C3%BCrfel&count=7' WINELOADER=$run \
  timeout 120 "$run" page.exe </dev/null 2>&1) || rc=$?
if [ "$rc" -ne 0 ] || ! grep -q '^Content-type: text/html' <<<"$out" || ! grep -q 'Würfel' <<<"$out" ||
   ! grep -q 'Status: 3900' <<<"$out" ||
   ! grep -qE $'^<p id="library">[0-9]+(\\.[0-9]+){3}, C interface [0-9]+\\.[0-9]+</p>\r$' <<<"$out" || ! grep -qx $'<p id="order">ABCDE\r' <<<"$out" || ! grep -qx $'FG</p>\r' <<<"$out"; then
  echo "the sample page failed (exit $rc):" >&2; printf '%s\n' "$out" | head -n 20 >&2; exit 1
fi
rm -rf "$dir"
