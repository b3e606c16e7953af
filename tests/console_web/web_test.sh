#!/usr/bin/env bash
# The web console through a real web server: lighttpd runs the sample pages
# under Wine and curl sends what browsers send.
#   web_test.sh <source root> <bin folder> [<pages folder>]
# <pages folder> serves the sample pages of another build (bin/cpplayer: the
# same pages on the C++ layer over the C interface) with the rest of <bin folder>.
# Runs under ./wdx test (WINEPREFIX, WINE, WINESERVER set; wineserver running).
set -uo pipefail
ROOT=$1
BIN=$2
PAGES=${3:-}
SERVER=$WINEPREFIX/drive_c/Quillon/KPSSRV
WORK=$(mktemp -d)
PASSED=0
FAILED=0

pass() { PASSED=$((PASSED + 1)); }
fail() { FAILED=$((FAILED + 1)); printf 'FAILED: %s\n' "$*"; }
check() {  # name, then a command that must succeed
  local name=$1; shift
  if "$@"; then pass; else fail "$name"; fi
}
has_line() { grep -qxF -- "$2" "$1"; }
lacks() { ! grep -q -- "$2" "$1"; }

free_port() {
  local port
  for port in $(seq 18080 18180); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
  return 1
}

SERVE_PID=
start_console() {  # [answers file]
  PORT=$(free_port)
  BASE=http://127.0.0.1:$PORT/quillon/cgi
  local args=(--port "$PORT")
  [ -n "${1:-}" ] && args+=(--answers "$1")
  [ -n "$PAGES" ] && args+=(--pages "$PAGES")
  "$ROOT/tools/console/serve.sh" "$BIN" "${args[@]}" >"$WORK/serve.log" 2>&1 &
  SERVE_PID=$!
  local i
  for i in $(seq 1 450); do
    grep -q '^console: ' "$WORK/serve.log" && return 0
    kill -0 "$SERVE_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the console did not start:"; cat "$WORK/serve.log"
  return 1
}
stop_console() {
  [ -n "$SERVE_PID" ] && { kill "$SERVE_PID" 2>/dev/null; wait "$SERVE_PID" 2>/dev/null; }
  SERVE_PID=
}
cleanup() { stop_console; rm -rf "$WORK"; }
trap cleanup EXIT

set_ini() {  # file, key, value: the settings files are rewritten whole
  printf '[INI_SERVER_SECTION]\r\nLanguage_Code=9\r\n%s=%s\r\n' "$2" "$3" > "$1"
}
# "C:\Quillon\KPSSRV\\TEMP\KPSE1.tmp" -> the file in the prefix
linux_path() {
  local p=${1#C:}
  p=${p//\\//}
  printf '%s/drive_c%s' "$WINEPREFIX" "$(tr -s / <<<"$p")"
}

# --- requests -----------------------------------------------------------------
requests() {
  local out=$WORK/out
  curl -sS "$BASE/echo.exe?a=1&b=2&a=3&x=%41%2b&first+name=5&flag" -o "$out"
  check "GET status" has_line "$out" "status 3900"
  check "GET pairs in order" diff <(grep '^pair' "$out") <(printf 'pair\ta\t1\npair\tb\t2\npair\ta\t3\npair\tx\tA+\npair\tfirst\tname=5\npair\tflag\t\n')

  # A GET form as browsers send it: a text area's TAB and CR LF, DEL, an emoji;
  # %FF is no UTF-8, so its null value ends the enumeration.
  curl -sS "$BASE/echo.exe?t=a%09b%0D%0Ac%7F&e=%F0%9F%98%80&y=2&u=%FF&z=3" -o "$out"
  check "GET form with control characters and an emoji" diff "$out" <(printf 'status 3900\npair\tt\ta\\tb\\r\\nc\x7F\npair\te\t\xF0\x9F\x98\x80\npair\ty\t2\n')

  curl -sS --data 'q=1+2&name=Gr%C3%BC%C3%9Fe&t=a%09b' "$BASE/echo.exe" -o "$out"
  check "POST url-encoded" diff <(cat "$out") <(printf 'status 3900\npair\tq\t1 2\npair\tname\tGrüße\npair\tt\ta\\tb\n')

  head -c 5242880 /dev/urandom > "$WORK/five.bin"
  local long; long=$(printf 'x%.0s' $(seq 1 300))
  curl -sS -F "title=$long" -F "Grüße=Zürich ñ" -F $'note=line1\r\nline2 "q" 100%' -F "upload=@$WORK/five.bin" "$BASE/echo.exe" -o "$out"
  check "multipart status" has_line "$out" "status 3900"
  check "300-character field cut to the buffer" has_line "$out" "$(printf 'pair\ttitle\t%s' "${long:0:259}")"
  check "non-ASCII name and value" has_line "$out" "$(printf 'pair\tGrüße\tZürich ñ')"
  check "text area as sent" has_line "$out" "$(printf 'pair\tnote\tline1\\r\\nline2 "q" 100%%')"
  local temp; temp=$(sed -n 's/^pair\tTempFileName\t//p' "$out" | head -n 1)
  check "5 MB file stored whole" cmp -s "$WORK/five.bin" "$(linux_path "${temp//\\\\/\\}")"
  check "file field names the same file" has_line "$out" "$(printf 'pair\tupload\t%s' "$temp")"

  set_ini "$SERVER/kpsscan.ini" MaxUploadSize 1
  head -c 2097152 /dev/zero > "$WORK/two.bin"
  curl -sS -F "upload=@$WORK/two.bin" "$BASE/echo.exe" -o "$out"
  check "upload over MaxUploadSize" has_line "$out" "status 3902"
  set_ini "$SERVER/kpsscan.ini" MaxUploadSize 64

  printf '[INI_SERVER_SECTION]\r\nMaxCGIPostSizeInK=1\r\n' > "$SERVER/Private/kpsserver.ini"
  curl -sS --data "big=$(head -c 2000 /dev/zero | tr '\0' y)" "$BASE/echo.exe" -o "$out"
  check "url-encoded body over MaxCGIPostSizeInK" diff "$out" <(printf 'status 3900\n')
  printf '[INI_SERVER_SECTION]\r\nMaxCGIPostSizeInK=5120\r\n' > "$SERVER/Private/kpsserver.ini"

  curl -sS -D "$WORK/headers" "$BASE/params.exe?a=%3Cb%3E&c=%26" -o "$out"
  check "header lines end in CR LF" grep -q $'^Content-type: text/html;charset=utf-8\r$' "$WORK/headers"
  check "parameter table escapes HTML" grep -q '&lt;b&gt;' "$out"
  check "no raw markup from input" lacks "$out" '"Arial"><b></font>'

  # The page written in C: statuses, values, enumerations, the interface's own
  # refusals and the four kinds of writes, in the order written (LF as CR LF
  # in text, the binary line as it is).
  curl -sS "$BASE/cpage.exe?name=Z%C3%BCrich&n=42&tag=a&x=1&TAG=b" -o "$out"
  check "C page over GET" diff <(cat "$out") <(printf 'console 3906\r\nstatus 3900\r\nname\tZürich\r\nn 42\r\n%b%b%b%b%b' \
    'pair\tname\tZürich\r\npair\tn\t42\r\npair\ttag\ta\r\npair\tx\t1\r\npair\tTAG\tb\r\npairs 5\r\n' \
    'tag\ta\r\ntag\tb\r\ncursor 5\r\nres\tLogin status\r\ntable 1\r\n' \
    'free 3900\r\nfree again 3954\r\nclosed 3900\r\nclosed again 3954\r\n' 'ansi ok\r\nbinary\n' 'end\r\n')
  curl -sS --data 'n=-7&q=1+2' "$BASE/cpage.exe" -o "$out"
  check "C page over POST, fallback when a name is missing" diff <(grep -aE $'^(name|n|pair|pairs)[ \t]' "$out" | tr -d '\r') \
    <(printf 'name\t(none)\nn -7\npair\tn\t-7\npair\tq\t1 2\npairs 2\n')

  check "library files are not served" test "$(curl -s -o /dev/null -w '%{http_code}' "$BASE/WDXPatchAgent.dll")" = 403
  check "dot segments still resolved" test \
    "$(curl -s --path-as-is -o /dev/null -w '%{http_code}' "$BASE/../cgi/%2e%2e/cgi/WDXPatchAgent.dll")" = 403
  check "benchmark programs are not pages" test "$(curl -s -o /dev/null -w '%{http_code}' "$BASE/minimal.exe")" = 404

  printf 'abc' > "$WORK/small.txt"
  curl -sS -F 'TempFileName=\\host\share\x' -F "upload=@$WORK/small.txt" -F 'tempfilename=C:\windows\win.ini' \
    "$BASE/upload.exe" -o "$out"
  check "upload page reports its upload" grep -q '</code>: 3 bytes</li>' "$out"
  check "a client's TempFileName never reaches the page" \
    bash -c "[ \$(grep -c '<li class=\"file\">' '$out') = 1 ] && ! grep -qiE 'host|win\.ini' '$out'"

  local kept; kept=$(ls "$SERVER/TEMP" | grep -c '^KPS')
  curl -sS -F "upload=@$WORK/small.txt" -F "more=@$WORK/small.txt" "$BASE/status.exe" -o /dev/null
  check "uploads a page never read are gone when it ends" test "$(ls "$SERVER/TEMP" | grep -c '^KPS')" = "$kept"
}

# Uploads that pages kept, and one whose page was killed with its client gone,
# are swept once past their bound (3 s asked, a minute at least; an hour by
# default) or dated well ahead of the clock; a young one, one a little ahead,
# names not of the library's form and a hard link stay.
old_uploads() {
  local temp=$SERVER/TEMP ours='^(KPS|Cfw)[0-9A-F]{8}[.]tmp$'
  set_ini "$SERVER/kpsscan.ini" MaxUploadAgeInSec 3
  printf 'abc' > "$WORK/small.txt"
  curl -sS -F "upload=@$WORK/small.txt" -F "more=@$WORK/small.txt" "$BASE/params.exe" -o /dev/null
  printf 'a=1&BinaryDataBlock=&\0block' > "$WORK/block.txt"
  curl -sS --data-binary "@$WORK/block.txt" "$BASE/params.exe" -o /dev/null
  local before; before=$(ls "$temp" | grep -cE "$ours")
  head -c $((32 * 1048576)) /dev/urandom > "$WORK/big.bin"
  curl -sS -F "upload=@$WORK/big.bin" "$BASE/echo.exe" -o /dev/null &
  local client=$! i
  for i in $(seq 1 200); do [ "$(ls "$temp" | grep -cE "$ours")" -gt "$before" ] && break; sleep 0.05; done
  kill "$client" 2>/dev/null; wait "$client" 2>/dev/null
  # The page may outlive its client a while on a slow machine; an upload still
  # being written is not one to sweep.
  for i in $(seq 1 600); do grep -qsa 'Web.CGI.echo\.exe' /proc/[0-9]*/cmdline || break; sleep 0.1; done
  ls "$temp" | grep -E "$ours" > "$WORK/kept"
  check "pages left their uploads" test "$(wc -l < "$WORK/kept")" -ge 3
  local odd=(KPS0000000a.tmp KPS000000000.tmp kps00000000.tmp Cfx00000000.tmp KPS00000000.tmp.bak)
  for i in "${odd[@]}"; do printf x > "$temp/$i"; touch -d '2 hours ago' "$temp/$i"; done
  mkdir -p "$temp/KPS0000DDDD.tmp"; touch -d '2 hours ago' "$temp/KPS0000DDDD.tmp"
  sleep 1
  (cd "$temp" && touch -d '2 minutes ago' $(cat "$WORK/kept"))
  printf x > "$temp/KPS0000ABCD.tmp"
  printf x > "$temp/KPS0000ABC0.tmp"; touch -d '30 seconds ago' "$temp/KPS0000ABC0.tmp"
  printf x > "$temp/KPS0000ABC1.tmp"; touch -d 'now + 10 minutes' "$temp/KPS0000ABC1.tmp"
  printf x > "$temp/KPS0000ABC2.tmp"; touch -d 'now + 2 minutes' "$temp/KPS0000ABC2.tmp"
  printf settings > "$SERVER/target.txt"; ln -f "$SERVER/target.txt" "$temp/KPS0000ABC3.tmp"
  touch -d '2 hours ago' "$temp/KPS0000ABC3.tmp"
  touch -d '2 minutes ago' "$temp/.uploads_swept"  # the minute's turn is due
  curl -sS "$BASE/echo.exe" -o /dev/null
  check "uploads past the bound are gone" bash -c "cd '$temp' && ! ls \$(cat '$WORK/kept') 2>/dev/null | grep -q ."
  check "a young upload stays, and one 30 s old (the bound's floor)" test -f "$temp/KPS0000ABCD.tmp" -a -f "$temp/KPS0000ABC0.tmp"
  check "an upload 10 minutes ahead goes, 2 minutes ahead stays" test ! -e "$temp/KPS0000ABC1.tmp" -a -f "$temp/KPS0000ABC2.tmp"
  check "a hard link is not swept" bash -c "[ -f '$temp/KPS0000ABC3.tmp' ] && [ \"\$(cat '$SERVER/target.txt')\" = settings ]"
  check "other names and folders stay" bash -c "cd '$temp' && ls ${odd[*]} >/dev/null && test -d KPS0000DDDD.tmp"
  printf x > "$temp/KPS0000ABCE.tmp"; touch -d '1 hour ago' "$temp/KPS0000ABCE.tmp"
  curl -sS "$BASE/echo.exe" -o /dev/null
  check "one sweep a minute" test -f "$temp/KPS0000ABCE.tmp"
  rm -rf "${odd[@]/#/$temp/}" "$temp"/KPS0000?[0-9A-F][0-9A-F][0-9A-F].tmp "$SERVER/target.txt"
  set_ini "$SERVER/kpsscan.ini" MaxUploadSize 64
}

# The uploads' budget: 1,280 one-byte uploads (five requests of 256) with room
# for 300 leave at most 300, the oldest going first and a planted hard link
# untouched; the next upload still works. A request larger than the whole
# budget is refused and leaves nothing.
upload_budget() {
  local temp=$SERVER/TEMP out=$WORK/out ours='^(KPS|Cfw)[0-9A-F]{8}[.]tmp$' parts=() i
  rm -f "$temp"/KPS*.tmp "$temp"/Cfw*.tmp
  printf settings > "$SERVER/target.txt"; ln -f "$SERVER/target.txt" "$temp/KPS0000BEEF.tmp"
  touch -d '10 minutes ago' "$temp/KPS0000BEEF.tmp"
  printf x > "$WORK/one.txt"
  for i in $(seq 1 256); do parts+=(-F "f$i=@$WORK/one.txt"); done
  set_ini "$SERVER/kpsscan.ini" MaxUploadFilesInTemp 300
  for i in 1 2 3 4 5; do curl -sS "${parts[@]}" "$BASE/echo.exe" -o "$out.$i"; done
  count() { ls "$temp" | grep -E "$ours" | grep -vc BEEF; }
  check "1,280 uploads, all parsed" test "$(cat "$out".[1-5] | grep -c '^pair.TempFileName')" = 1280
  check "at most 300 stay" test "$(count)" -le 300
  curl -sS -F "last=@$WORK/one.txt" "$BASE/echo.exe" -o "$out"
  check "the next upload still works" bash -c "grep -qx 'status 3900' '$out' && [ \$(ls '$temp' | grep -cE '$ours') -le 301 ]"
  check "the budget leaves a hard link alone" bash -c "[ -f '$temp/KPS0000BEEF.tmp' ] && [ \"\$(cat '$SERVER/target.txt')\" = settings ]"
  set_ini "$SERVER/kpsscan.ini" MaxUploadTotalInMB 1
  ls "$temp" > "$WORK/before"
  head -c 1100000 /dev/zero > "$WORK/over.bin"
  curl -sS -F "upload=@$WORK/over.bin" "$BASE/echo.exe" -o "$out"
  check "a request over the whole budget: 3902, nothing left" bash -c "grep -qx 'status 3902' '$out' && ls '$temp' | diff -q - '$WORK/before' >/dev/null"
  rm -f "$temp"/KPS*.tmp "$SERVER/target.txt"
  set_ini "$SERVER/kpsscan.ini" MaxUploadSize 64
}

if ! start_console; then exit 1; fi
requests
old_uploads
upload_budget
. "$ROOT/tests/console_web/login_test.sh"
. "$ROOT/tests/console_web/msvc_test.sh"
stop_console
printf '%d passed, %d failed\n' "$PASSED" "$FAILED"
[ "$FAILED" -eq 0 ]
