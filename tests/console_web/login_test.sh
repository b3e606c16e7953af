# Console logins through the web server; sourced by web_test.sh, which provides
# BASE, WORK, SERVER and the check helpers.

cookie() { awk -v n="$2" -F '\t' '$6 == n { print $7 }' "$1"; }
code_of() { sed -n 's:.*<p id="code">\([0-9]*\)</p>.*:\1:p' "$1"; }
status_with() {  # cookie header -> code on the status page
  curl -sS -H "Cookie: $1" -D "$WORK/status.h" "$BASE/status.exe" -o "$WORK/status.html"
  code_of "$WORK/status.html"
}

logins() {
  local jar=$WORK/jar out=$WORK/login.html
  curl -sS -c "$jar" -D "$WORK/login.h" "$BASE/login.exe" -o "$out"
  check "new login page" test "$(code_of "$out")" = 3900
  check "new login cookies in name order" diff <(sed -n 's/^Set-Cookie: \([a-z]*\)=.*;path=\(.*\)\r$/\1 \2/p' "$WORK/login.h") \
    <(printf 'key /quillon\nsession /quillon\nstamp /quillon\ntimestamp /quillon\n')
  local key session stamp timestamp
  key=$(cookie "$jar" key); session=$(cookie "$jar" session)
  stamp=$(cookie "$jar" stamp); timestamp=$(cookie "$jar" timestamp)
  check "session id and key formats" bash -c "[[ '$session' =~ ^[0-9]{1,5}$ && '$key' =~ ^[0-9]{3,15}$ ]]"
  check "key file beside the server" test -f "$SERVER/TEMP/.key_$session"

  local live="key=$key; session=$session; stamp=$stamp; timestamp=$timestamp"
  check "status with the login's cookies" test "$(status_with "$live")" = 3900
  check "the C page sees the login" test "$(curl -sS -H "Cookie: $live" "$BASE/cpage.exe" | head -n 1)" = $'console 3900\r'
  check "status refreshes the stamp" grep -q '^Set-Cookie: stamp=[0-9]*;path=/quillon' "$WORK/status.h"
  check "changed key" test "$(status_with "key=${key}9; session=$session; stamp=$stamp; timestamp=$timestamp")" = 3904
  local unused=$(( (session + 1) % 32768 ))
  while [ -e "$SERVER/TEMP/.key_$unused" ]; do unused=$(( (unused + 1) % 32768 )); done
  check "session without a key file" test "$(status_with "key=$key; session=$unused; stamp=$stamp")" = 3907

  touch "$WORK/marker"; sleep 1
  check "path in the session id" test "$(status_with 'key=1; session=..\..\..\evil; stamp=1')" = 3907
  check "no file touched for it" test -z "$(find "$WINEPREFIX/drive_c" -newer "$WORK/marker" -type f \
      ! -path '*/KPSSRV/TEMP/.key_*' ! -name .logins_purged ! -name .uploads_swept ! -path '*/windows/*' ! -path '*/users/*' -print -quit)"
  check "no cookies" test "$(status_with '')" = 3906
  curl -sS "$BASE/status.exe" -o "$WORK/nocookie.html"
  check "no Cookie header at all" test "$(code_of "$WORK/nocookie.html")" = 3906

  # Both time cookies 31 minutes back: past the 30-minute period.
  local old_stamp=$(( (stamp - 31 * 60000 + 4294967296) % 4294967296 )) old_time=$(( timestamp - 31 * 60 ))
  check "after the period" test "$(status_with "key=$key; session=$session; stamp=$old_stamp; timestamp=$old_time")" = 3905

  curl -sS -H "Cookie: $live" -D "$WORK/report.h" "$BASE/report.exe" -o "$WORK/report.csv"
  check "report content type" grep -q $'^Content-type: text/x-csv;charset=utf-8\r$' "$WORK/report.h"
  check "report download name" grep -q $'^Content-Disposition: filename="report.csv"\r$' "$WORK/report.h"
  check "report rows" grep -q '^login code,3900' "$WORK/report.csv"

  local hub="HUBC_VirtualPath=/hub/x; HUBC_Session_Data=ok-4711; session_id=77"
  check "SSO hand-over accepted" test "$(status_with "$hub")" = 3900
  check "SSO response line" grep -q $'^X-Console-SSO: ok-4711\r$' "$WORK/status.h"
  check "SSO cookie path" grep -q '^Set-Cookie: stamp=[0-9]*;path=/HubConsole/SSO_PKI' "$WORK/status.h"
  check "hand-over cookies never echoed" bash -c "! grep -qE '^Set-Cookie: (HUBC_|session_id)' '$WORK/status.h'"
  check "SSO hand-over refused" test "$(status_with "HUBC_VirtualPath=/hub/x; HUBC_Session_Data=expired")" = 3910

  # Eight browsers at once, each signing in and then checking its login three times.
  local i pids=()
  for i in 1 2 3 4 5 6 7 8; do
    ( curl -sS -c "$WORK/jar$i" "$BASE/login.exe" -o /dev/null
      c="key=$(cookie "$WORK/jar$i" key); session=$(cookie "$WORK/jar$i" session); stamp=$(cookie "$WORK/jar$i" stamp)"
      for _ in 1 2 3; do curl -sS -H "Cookie: $c" "$BASE/status.exe" | code_of /dev/stdin; done > "$WORK/codes$i" ) &
    pids+=($!)
  done
  wait "${pids[@]}"
  check "concurrent sign-ins and checks all 3900" test "$(cat "$WORK"/codes* | grep -cx 3900)" = 24
}
# What a local user can do to TEMP: links under key-file names, markers made
# folders, and what a client's fresh stamp cannot revive.
le32() { printf "$(printf '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
temp_attacks() {
  local temp=$SERVER/TEMP victim=$SERVER/Private/victim.ini
  printf '%036d' 7 > "$victim"; ln -f "$victim" "$temp/.key_30000"
  check "a hard link is no key file" test "$(status_with 'session=30000; key=1')" = 3907
  le32 30001 > "$temp/.logins_purged"  # the purge's next slice: ids from 30000
  curl -sS "$BASE/status.exe" -o /dev/null
  check "the link's target unchanged after a check and a purge turn" test "$(cat "$victim")" = "$(printf '%036d' 7)"
  rm -f "$temp/.key_30000" "$victim"

  rm -rf "$temp"/.logins_purged* "$temp"/.uploads_swept*
  mkdir "$temp/.logins_purged" "$temp/.uploads_swept"
  printf 'k%035d' 0 > "$temp/.key_5"; touch -d '2 days ago' "$temp/.key_5"
  printf x > "$temp/KPS0000BEEF.tmp"; touch -d '2 days ago' "$temp/KPS0000BEEF.tmp"
  curl -sS "$BASE/status.exe" -o /dev/null  # the block noticed
  touch -d '6 minutes ago' "$temp/.logins_purged.overdue" "$temp/.uploads_swept.overdue"
  curl -sS "$BASE/status.exe" -o /dev/null
  check "markers made folders: an idle key file still goes" test ! -e "$temp/.key_5"
  check "markers made folders: an old upload still goes" test ! -e "$temp/KPS0000BEEF.tmp"
  rm -rf "$temp"/.logins_purged* "$temp"/.uploads_swept*

  local jar=$WORK/jar40; curl -sS -c "$jar" "$BASE/login.exe" -o /dev/null
  local session; session=$(cookie "$jar" session)
  le32 $(( ($(cookie "$jar" stamp) - 40 * 60000 + 4294967296) % 4294967296 )) |
    dd of="$temp/.key_$session" bs=1 seek=32 conv=notrunc status=none
  curl -sS -D "$WORK/anon.h" "$BASE/status.exe" -o /dev/null
  local fresh; fresh=$(sed -n 's/^Set-Cookie: stamp=\([0-9]*\);.*/\1/p' "$WORK/anon.h")
  check "a record idle 40 minutes, replayed with a fresh stamp" \
    test "$(status_with "key=$(cookie "$jar" key); session=$session; stamp=$fresh")" = 3905
}
logins
temp_attacks
