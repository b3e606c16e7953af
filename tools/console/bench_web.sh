#!/usr/bin/env bash
# Web-console costs through lighttpd, against baseline CGI programs built the
# same way, on the same server and machine:
#   (6) a 64 MB multipart upload parsed into its temporary file vs a program
#       that copies standard input to a file in 4096-byte reads (medians of 3);
#   (7) the status page with a valid login vs a program that writes a header
#       and one line (50 requests each, interleaved, medians); for the split,
#       the same minimal page with the library loaded (loadonly) and a page
#       that only parses the request (echo); and the page's floor on this
#       machine, measured in the same run: loadonly plus one bare exchange
#       (the benchmark's (1) baseline) per command the page sends;
#       And the status page built on the header-only C++ layer over the C
#       interface against the class-based one, interleaved in the same loop;
#   (8) peak private bytes of a page that parses a 5 MB URL-encoded body of
#       one-byte items (about 2.6 million pairs).
#   bench_web.sh <bin folder> [--memory-only]
# WINELOADER, when set, runs the programs of <bin folder> (a 32-bit build).
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=$(realpath "$1")
MEMORY_ONLY=0
[ "${2:-}" = --memory-only ] && MEMORY_ONLY=1
SERVER=$WINEPREFIX/drive_c/Quillon/KPSSRV
WORK=$(mktemp -d)
PORT=18600
while (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do PORT=$((PORT + 1)); done
"$HERE/serve.sh" "$BIN" --port "$PORT" --bench >"$WORK/serve.log" 2>&1 &
SERVE_PID=$!
trap 'kill $SERVE_PID 2>/dev/null; wait $SERVE_PID 2>/dev/null; rm -rf "$WORK"' EXIT
for _ in $(seq 1 300); do grep -q '^console: ' "$WORK/serve.log" && break; sleep 0.1; done
BASE=http://127.0.0.1:$PORT/quillon/cgi
BENCH=http://127.0.0.1:$PORT/quillon/bench

seconds() { curl -sS -o /dev/null -w '%{time_total}\n' "$@"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# 5 MB of "a&a&...": the largest URL-encoded body the default limit admits.
head -c $((5 * 1048576)) /dev/zero | tr '\0' '&' | sed 's/&&/a\&/g' > "$WORK/items.txt"
curl -sS --data-binary "@$WORK/items.txt" "$BENCH/parsemem.exe" -o "$WORK/mem"
printf '(8) 5 MB url-encoded body of one-byte items: status %s, %s pairs, peak private bytes %.1f MB (target <= 64 MB in the 32-bit build)\n' \
  "$(sed -n 's/^status //p' "$WORK/mem")" "$(sed -n 's/^pairs //p' "$WORK/mem")" \
  "$(awk '/^peak /{ print $2 / 1048576 }' "$WORK/mem")"
[ "$MEMORY_ONLY" = 1 ] && exit 0

head -c $((64 * 1048576)) /dev/urandom > "$WORK/upload.bin"
: > "$WORK/parse"; : > "$WORK/copy"
for _ in 1 2 3; do
  seconds -F "upload=@$WORK/upload.bin" "$BASE/echo.exe" >> "$WORK/parse"
  seconds -F "upload=@$WORK/upload.bin" "$BENCH/copystdin.exe" >> "$WORK/copy"
  rm -f "$SERVER"/TEMP/KPSE*.tmp "$SERVER"/TEMP/CPY*.tmp
done
p=$(median < "$WORK/parse"); c=$(median < "$WORK/copy")
printf '(6) 64 MB upload: library %.3f s, stdin copy %.3f s, ratio %sx (target <= 1.25x)\n' "$p" "$c" "$(ratio "$p" "$c")"

curl -sS -c "$WORK/jar" "$BASE/login.exe" -o /dev/null
# The commands one status page sends, as the command handler logged them.
COMMANDS=$(dirname "$BIN")/console/commands.txt
before=$(wc -l < "$COMMANDS")
curl -sS -b "$WORK/jar" "$BASE/status.exe" -o /dev/null
commands=$(( $(wc -l < "$COMMANDS") - before ))
for p in status statuscpp minimal loadonly echo; do : > "$WORK/$p"; done
for i in $(seq 1 50); do
  # The two status pages one after the other, in turns first: their ratio is
  # taken per pair, so the machine's load drifting between pairs cancels out.
  if [ $((i % 2)) = 0 ]; then
    seconds -b "$WORK/jar" "$BASE/status.exe" >> "$WORK/status"
    seconds -b "$WORK/jar" "$BASE/statuscpp.exe" >> "$WORK/statuscpp"
  else
    seconds -b "$WORK/jar" "$BASE/statuscpp.exe" >> "$WORK/statuscpp"
    seconds -b "$WORK/jar" "$BASE/status.exe" >> "$WORK/status"
  fi
  seconds "$BENCH/minimal.exe" >> "$WORK/minimal"
  seconds "$BENCH/loadonly.exe" >> "$WORK/loadonly"
  seconds "$BASE/echo.exe" >> "$WORK/echo"
done
ms() { awk -v v="$(median < "$WORK/$1")" 'BEGIN { printf "%.1f", v * 1000 }'; }
s=$(median < "$WORK/status"); m=$(median < "$WORK/minimal")
printf '(7) status page with a valid login: %s ms, minimal page %s ms, ratio %sx (target <= 1.3x)\n' \
  "$(ms status)" "$(ms minimal)" "$(ratio "$s" "$m")"
printf '    the status page on the C++ layer over the C interface %s ms; median ratio per pair %sx to the class-based page (target <= 1.05x)\n' \
  "$(ms statuscpp)" "$(paste "$WORK/statuscpp" "$WORK/status" | awk '{ printf "%.4f\n", $1 / $2 }' | median | awk '{ printf "%.2f", $1 }')"
printf '    the minimal page with the library loaded %s ms; a page that only parses the request %s ms\n' \
  "$(ms loadonly)" "$(ms echo)"
bare_us=$("${WINELOADER:-$WINE}" "$BIN/benchmark.exe" --bare-exchange </dev/null | tr -d '\r')
floor=$(awk -v l="$(median < "$WORK/loadonly")" -v n="$commands" -v b="$bare_us" 'BEGIN { print l + n * b / 1e6 }')
printf '    floor: loadonly %s ms + %s commands x bare exchange %.2f ms = %.1f ms; the status page %sx the floor (target <= 1.1x)\n' \
  "$(ms loadonly)" "$commands" "$(awk -v b="$bare_us" 'BEGIN { print b / 1000 }')" \
  "$(awk -v f="$floor" 'BEGIN { print f * 1000 }')" "$(ratio "$s" "$floor")"
