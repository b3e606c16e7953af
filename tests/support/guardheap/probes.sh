#!/usr/bin/env bash
# Each probe must stop the checked program (nonzero exit) with its line on stderr.
#   probes.sh <wine> <guardheap_probes.exe>
set -uo pipefail
WINE_RUN=$1
EXE=$2
OUT=$(mktemp)
trap 'rm -f "$OUT"' EXIT
failed=0
while IFS='|' read -r probe expect; do
  # Into a file, not a pipe: a Wine service started by the probe may keep it open.
  timeout 60 "$WINE_RUN" "$EXE" "$probe" </dev/null >"$OUT" 2>&1; rc=$?
  out=$(cat "$OUT")
  if [ "$probe" = clean ]; then ok=$([ "$rc" -eq 0 ] && echo 1 || echo 0)
  else ok=$([ "$rc" -ne 0 ] && grep -qE -- "$expect" <<<"$out" && echo 1 || echo 0); fi
  if [ "$ok" = 1 ]; then
    printf 'stopped  %-16s exit %-10s %s\n' "$probe" "$rc" "$(grep -E -m1 -- "$expect" <<<"$out")"
  else
    failed=1; printf 'FAILED   %-16s exit %s, wanted /%s/; output:\n%s\n' "$probe" "$rc" "$expect" "$out"
  fi
done <<'PROBES'
clean|^$
write-past|guard heap: write at .*, 0 bytes past the end of block .* \(13 bytes from operator new\[\]\)
read-past|guard heap: read at .*, 0 bytes past the end of block .* \(32 bytes from malloc\)
read-after-free|guard heap: read at .*, in the freed block .* \(16 bytes from operator new\[\]\)
double-free|guard heap: block .* \(4 bytes from operator new\) freed twice, again by operator delete
wrong-free|guard heap: block .* \(4 bytes from malloc\) freed by the wrong function, operator delete
vector-index|__n < this->size\(\)
signed-overflow|checked build: illegal instruction at
stack-overrun|checked build: stack buffer overrun \(a stack canary was overwritten\)
PROBES
exit "$failed"
