#!/usr/bin/env bash
# The DLL must import system DLLs only and export exactly the installer callbacks
# (plus the console classes once they exist).
set -euo pipefail
arch=$1
dll=$2
[ -f "$dll" ] || { echo "no DLL at $dll"; exit 1; }
dump=$("$arch-w64-mingw32-objdump" -p "$dll")
expect_format=$([ "$arch" = i686 ] && echo pei-i386 || echo pei-x86-64)
grep -q "file format $expect_format" <<<"$dump" || { echo "$dll is not $expect_format"; exit 1; }
imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
allowed='^(kernel32|user32|advapi32|shell32|shlwapi|version|ole32|oleaut32|msvcrt|api-ms-win-.*)\.dll$'
bad=$(printf '%s\n' "$imports" | grep -v -E "$allowed" || true)
if [ -n "$bad" ]; then
  echo "unexpected imports:"; printf '  %s\n' $bad; exit 1
fi
# Console programs load the DLL for every request: the system DLLs that only the
# patch flow calls are delay-loaded, never imported at load time.
late=$(printf '%s\n' "$imports" | grep -E '^(user32|shell32|shlwapi|oleaut32|ole32)\.dll$' || true)
if [ -n "$late" ]; then
  echo "imported at load time, should be delay-loaded:"; printf '  %s\n' $late; exit 1
fi
for late_dll in OLEAUT32.dll USER32.dll SHELL32.dll SHLWAPI.dll; do
  grep -qa "$late_dll" "$dll" || { echo "no delay-load entry for $late_dll"; exit 1; }
done
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[\s*[0-9]*\] //p')
for name in StartAction StartItem CheckFileEx EndItem IsRollbackEx EndAction; do
  grep -qx "$name" <<<"$exports" || { echo "missing export $name"; exit 1; }
done
echo "imports: $(echo $imports)"
