#!/usr/bin/env bash
# Web-console costs through lighttpd, against baseline CGI programs built the
# same way, on the same server and machine:
#   (6) a 64 MB multipart upload parsed into its temporary file vs a program
#       that copies standard input to a file in 4096-byte reads (medians of 3);
#   (7) the status page with a valid login vs a program that writes a header
#       and one line (50 requests each, interleaved, medians); for the split,
#       the same minimal page with the library loaded (loadonly) and a page
#       that only parses the request (echo).
#   bench_web.sh <bin folder>
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=$(realpath "$1")
SERVER=$WINEPREFIX/drive_c/Quillon/KPSSRV
WORK=$(mktemp -d)
PORT=18600
while (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do PORT=$((PORT + 1)); done
"$HERE/serve.sh" "$BIN" --port "$PORT" >"$WORK/serve.log" 2>&1 &
SERVE_PID=$!
trap 'kill $SERVE_PID 2>/dev/null; wait $SERVE_PID 2>/dev/null; rm -rf "$WORK"' EXIT
for _ in $(seq 1 300); do grep -q '^console: ' "$WORK/serve.log" && break; sleep 0.1; done
BASE=http://127.0.0.1:$PORT/quillon/cgi

seconds() { curl -sS -o /dev/null -w '%{time_total}\n' "$@"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

head -c $((64 * 1048576)) /dev/urandom > "$WORK/upload.bin"
: > "$WORK/parse"; : > "$WORK/copy"
for _ in 1 2 3; do
  seconds -F "upload=@$WORK/upload.bin" "$BASE/echo.exe" >> "$WORK/parse"
  seconds -F "upload=@$WORK/upload.bin" "$BASE/copystdin.exe" >> "$WORK/copy"
  rm -f "$SERVER"/TEMP/KPSE*.tmp "$SERVER"/TEMP/CPY*.tmp
done
p=$(median < "$WORK/parse"); c=$(median < "$WORK/copy")
printf '(6) 64 MB upload: library %.3f s, stdin copy %.3f s, ratio %sx (target <= 1.25x)\n' "$p" "$c" "$(ratio "$p" "$c")"

curl -sS -c "$WORK/jar" "$BASE/login.exe" -o /dev/null
for p in status minimal loadonly echo; do : > "$WORK/$p"; done
for _ in $(seq 1 50); do
  seconds -b "$WORK/jar" "$BASE/status.exe" >> "$WORK/status"
  seconds "$BASE/minimal.exe" >> "$WORK/minimal"
  seconds "$BASE/loadonly.exe" >> "$WORK/loadonly"
  seconds "$BASE/echo.exe" >> "$WORK/echo"
done
ms() { awk -v v="$(median < "$WORK/$1")" 'BEGIN { printf "%.1f", v * 1000 }'; }
s=$(median < "$WORK/status"); m=$(median < "$WORK/minimal")
printf '(7) status page with a valid login: %s ms, minimal page %s ms, ratio %sx (target <= 1.3x)\n' \
  "$(ms status)" "$(ms minimal)" "$(ratio "$s" "$m")"
printf '    the minimal page with the library loaded %s ms; a page that only parses the request %s ms\n' \
  "$(ms loadonly)" "$(ms echo)"
