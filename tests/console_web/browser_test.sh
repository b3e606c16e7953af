#!/usr/bin/env bash
# A real browser signs in: headless Chromium, driven over WebDriver by
# chromedriver, follows "Sign in" from the console index, goes on to the status
# page, reads the login code there and saves a screenshot of the page.
#   browser_test.sh <source root> <bin folder> [screenshot file]
set -uo pipefail
ROOT=$1
BIN=$2
SHOT=${3:-$(dirname "$BIN")/console/status-page.png}
WORK=$(mktemp -d)
DRIVER_PID=
SERVE_PID=

cleanup() {
  [ -n "${SESSION:-}" ] && curl -s -X DELETE "$WD/session/$SESSION" >/dev/null 2>&1
  for pid in $DRIVER_PID $SERVE_PID; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

free_port() {
  local port
  for port in $(seq "$1" $(($1 + 100))); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
  return 1
}
wait_for() {  # seconds, command
  local n=$(($1 * 10)); shift
  while [ $n -gt 0 ]; do "$@" && return 0; sleep 0.1; n=$((n - 1)); done
  return 1
}

PORT=$(free_port 18200)
"$ROOT/tools/console/serve.sh" "$BIN" --port "$PORT" >"$WORK/serve.log" 2>&1 &
SERVE_PID=$!
wait_for 45 grep -q '^console: ' "$WORK/serve.log" || { cat "$WORK/serve.log"; exit 1; }

DPORT=$(free_port 18400)
WD=http://127.0.0.1:$DPORT
chromedriver --port="$DPORT" >"$WORK/driver.log" 2>&1 &
DRIVER_PID=$!
wait_for 20 curl -sf "$WD/status" -o /dev/null || { echo "chromedriver did not start"; cat "$WORK/driver.log"; exit 1; }

# WebDriver call: method, path, [JSON body]; prints the response.
wd() { curl -sS -X "$1" "$WD$2" -H 'Content-Type: application/json' ${3:+-d "$3"}; }
value_of() { sed -n 's/.*"value":[[:space:]]*"\([^"]*\)".*/\1/p'; }
element() { wd POST "/session/$SESSION/element" "{\"using\":\"css selector\",\"value\":\"$1\"}" |
            sed -n 's/.*"element-6066-11e4-a52e-4f735466cecf":[[:space:]]*"\([^"]*\)".*/\1/p'; }
click() { local e; e=$(element "$1"); [ -n "$e" ] && wd POST "/session/$SESSION/element/$e/click" '{}' >/dev/null; }
text_of() { local e; e=$(element "$1"); [ -n "$e" ] && wd GET "/session/$SESSION/element/$e/text" | value_of; }

caps='{"capabilities":{"alwaysMatch":{"browserName":"chrome","goog:chromeOptions":{"binary":"/usr/bin/chromium",
"args":["--headless=new","--no-sandbox","--disable-gpu","--disable-dev-shm-usage","--window-size=1000,760"]}}}}'
SESSION=$(wd POST /session "$caps" | sed -n 's/.*"sessionId":[[:space:]]*"\([^"]*\)".*/\1/p')
[ -n "$SESSION" ] || { echo "no browser session"; cat "$WORK/driver.log"; exit 1; }

failed=0
expect() { if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: got '$2', want '$3'"; failed=$((failed + 1)); fi; }

wd POST "/session/$SESSION/url" "{\"url\":\"http://127.0.0.1:$PORT/quillon/index.html\"}" >/dev/null
click '#signin'
expect "code after signing in" "$(text_of '#code')" 3900
click '#status-link'
expect "status page reached" "$(wd GET "/session/$SESSION/url" | value_of)" "http://127.0.0.1:$PORT/quillon/cgi/status.exe"
expect "code on the status page" "$(text_of '#code')" 3900
wd GET "/session/$SESSION/screenshot" | value_of | base64 -d > "$SHOT" 2>/dev/null
expect "screenshot saved" "$(head -c 4 "$SHOT" | tail -c 3)" PNG
wd DELETE "/session/$SESSION/cookie" >/dev/null
wd POST "/session/$SESSION/refresh" '{}' >/dev/null
expect "code without cookies" "$(text_of '#code')" 3906
# A GET form with a text area (CR LF, TAB) and an emoji reaches the page whole.
wd POST "/session/$SESSION/url" "{\"url\":\"http://127.0.0.1:$PORT/quillon/index.html\"}" >/dev/null
wd POST "/session/$SESSION/execute/sync" '{"script":"document.getElementById(\"get-note\").value=\"line one\\nline two\\ttab\"; document.getElementById(\"get-mood\").value=\"\\uD83D\\uDE00 ok\"; document.getElementById(\"get-send\").click();","args":[]}' >/dev/null
cells='var r={}; document.querySelectorAll(\"tr\").forEach(function(t){var c=t.querySelectorAll(\"td\"); if(c.length==2) r[c[0].textContent]=c[1].textContent;}); return encodeURIComponent(r.note+\"|\"+r.mood);'
got=
for _ in $(seq 1 50); do
  got=$(wd POST "/session/$SESSION/execute/sync" "{\"script\":\"$cells\",\"args\":[]}" | value_of)
  [ "${got#line}" != "$got" ] && break
  sleep 0.1
done
expect "GET form with a text area and an emoji" "$got" 'line%20one%0Aline%20two%09tab%7C%F0%9F%98%80%20ok'
echo "screenshot: $SHOT"
printf '%d passed, %d failed\n' $((6 - failed)) "$failed"
[ "$failed" -eq 0 ]
