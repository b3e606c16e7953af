# The pages built in MSVC mode against the C interface (tests/pages/msvc_page) answer
# as the class-based pages do; sourced by web_test.sh after login_test.sh, which
# provide BASE, WORK, the check helpers, cookie and code_of.

# Uploads go to new files with random names: mask them before comparing.
masked() { sed -E 's/KPS[0-9A-Fa-f]{8}/KPS________/g' "$1"; }
same_as_echo() {  # row name, expected status, expected pairs, query, curl arguments
  local name=$1 status=$2 pairs=$3 query=$4; shift 4
  curl -sS "$@" "$BASE/echo.exe$query" -o "$WORK/echo.out"
  curl -sS "$@" -D "$WORK/msvc.h" "$BASE/msvc_echo.exe$query" -o "$WORK/msvc.out"
  check "MSVC-mode page, $name: status and pairs" \
    bash -c "grep -qx 'status $status' '$WORK/msvc.out' && [ \$(grep -c '^pair' '$WORK/msvc.out') = $pairs ]"
  check "MSVC-mode page, $name: as echo.exe" diff <(masked "$WORK/echo.out") <(masked "$WORK/msvc.out")
}
status_on() {  # page, cookie header -> code; the page's meaning line stays in $WORK/<page>.meaning
  curl -sS -H "Cookie: $2" -H 'Accept-Language: de' -D "$WORK/$1.h" "$BASE/$1.exe" -o "$WORK/$1.html"
  grep -o '<p id="meaning".*</p>' "$WORK/$1.html" > "$WORK/$1.meaning"
  code_of "$WORK/$1.html"
}

msvc_pages() {
  printf 'abc' > "$WORK/small.txt"
  same_as_echo "GET with a query" 3900 6 '?a=1&b=2&a=3&x=%41%2b&first+name=5&flag'
  same_as_echo "GET form with control characters and an emoji" 3900 3 '?t=a%09b%0D%0Ac%7F&e=%F0%9F%98%80&y=2&u=%FF&z=3'
  same_as_echo "URL-encoded POST" 3900 3 '' --data 'q=1+2&name=Gr%C3%BC%C3%9Fe&t=a%09b'
  same_as_echo "multipart upload" 3900 5 '' -F "title=x" -F "Grüße=Zürich ñ" -F $'note=a\r\nb 100%' -F "upload=@$WORK/small.txt"
  same_as_echo "POST of another content type" 4001 0 '' -H 'Content-Type: text/xml' --data '<x/>'
  check "MSVC-mode page: its header as written" grep -q $'^Content-type: text/plain;charset=utf-8\r$' "$WORK/msvc.h"

  # Sign in with either kind of page and check the login with either kind.
  local login status jar=$WORK/msvc.jar c
  for login in login msvc_login; do
    curl -sS -c "$jar" -D "$WORK/$login.h" "$BASE/$login.exe" -o "$WORK/$login.html"
    check "$login: new login" test "$(code_of "$WORK/$login.html")" = 3900
    check "$login: its cookies" diff <(sed -n 's/^Set-Cookie: \([a-z]*\)=.*;path=\(.*\)\r$/\1 \2/p' "$WORK/$login.h") \
      <(printf 'key /quillon\nsession /quillon\nstamp /quillon\ntimestamp /quillon\n')
    c="session=$(cookie "$jar" session); stamp=$(cookie "$jar" stamp); timestamp=$(cookie "$jar" timestamp)"
    for status in status msvc_status; do
      check "$login, then $status" test "$(status_on $status "key=$(cookie "$jar" key); $c")" = 3900
      check "$status refreshes the stamp" grep -q '^Set-Cookie: stamp=[0-9]*;path=/quillon' "$WORK/$status.h"
      check "$login, then $status with a changed key" test "$(status_on $status "key=$(cookie "$jar" key)9; $c")" = 3904
    done
    check "$login: the same meaning on both status pages" diff "$WORK/status.meaning" "$WORK/msvc_status.meaning"
  done
  check "msvc_status: a long German text in UTF-8" grep -q 'class="invalid">.*[äöüÄÖÜß]' "$WORK/msvc_status.meaning"
  check "msvc_status: no cookies" test "$(status_on msvc_status '')" = 3906
}
msvc_pages
