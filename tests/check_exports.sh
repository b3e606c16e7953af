#!/usr/bin/env bash
# The DLL's export table is pinned: it must name exactly what the committed list
# names, so an export is only added or removed on purpose, together with the list.
#   check_exports.sh <arch> <dll> <list>            compares; prints the difference
#   check_exports.sh --update <arch> <dll> <list>   writes the list from the DLL
# (cmake --build build/x64 --target pin_exports updates both lists from the built DLLs.)
set -euo pipefail
update=0
[ "${1:-}" = --update ] && { update=1; shift; }
arch=$1 dll=$2 list=$3
[ -f "$dll" ] || { echo "no DLL at $dll"; exit 1; }
dump=$("$arch-w64-mingw32-objdump" -p "$dll")
names=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\s*\[\s*[0-9]*\] //p' | LC_ALL=C sort)
# An export without a name (ordinal only) would pass a check of names unseen.
addresses=$(printf '%s\n' "$dump" | sed -n '/^Export Address Table/,/^$/p' | grep -c 'Export RVA' || true)
if [ "$addresses" -ne "$(grep -c . <<<"$names")" ]; then
  echo "$dll: $addresses exported addresses but $(grep -c . <<<"$names") names: an export without a name"
  exit 1
fi
if [ "$update" -eq 1 ]; then
  { printf '# The export table of the %s WDXPatchAgent.dll, in name order (tests/check_exports.sh).\n' "$arch"
    printf '%s\n' "$names"; } > "$list"
  echo "$list: $(grep -c . <<<"$names") exports"
  exit 0
fi
[ -f "$list" ] || { echo "no export list $list"; exit 1; }
pinned=$(grep -v '^#' "$list" | LC_ALL=C sort)
added=$(LC_ALL=C comm -13 <(printf '%s\n' "$pinned") <(printf '%s\n' "$names"))
missing=$(LC_ALL=C comm -23 <(printf '%s\n' "$pinned") <(printf '%s\n' "$names"))
if [ -n "$added$missing" ]; then
  [ -n "$added" ] && { echo "exported, not in $list:"; printf '  + %s\n' $added; }
  [ -n "$missing" ] && { echo "in $list, not exported:"; printf '  - %s\n' $missing; }
  echo "an export changed on purpose goes into the list in the same change:"
  echo "  $0 --update $arch $dll $list"
  exit 1
fi
echo "$(grep -c . <<<"$names") exports as pinned in $(basename "$list")"
