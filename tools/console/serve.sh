#!/usr/bin/env bash
# The web console of a simulated server: installs the sample console pages in
# the Wine prefix (C:\Quillon\KPSSRV\Web\CGI\), writes the server's settings
# files, starts the command-handler peer and a lighttpd that runs the pages
# through Wine under /quillon/cgi/, and serves until SIGINT or SIGTERM.
#   serve.sh <bin folder> [--port N] [--answers FILE] [--own-wineserver] [--bench] [--pages FOLDER]
# <bin folder> holds the built pages, DLLs and peers; the server's state (web
# server configuration, logs) goes beside it in ../console. --pages takes the
# console's pages from another folder (the same pages built on the C++ layer
# over the C interface, bin/cpplayer).
# Expects WINEPREFIX, WINE and WINESERVER in the environment (./wdx sets them)
# and a running wineserver for the prefix. WINELOADER, when set, is the loader
# for the programs of <bin folder> (the 32-bit one for a 32-bit build). With
# --own-wineserver it also stops that wineserver, and with it every Wine process
# of the prefix, at the end. --bench also serves the benchmark's programs
# (baselines without the library, the parser's memory probe) under
# /quillon/bench/, from a folder of their own beside the console's pages.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=$(realpath "$1"); shift
RUN_WINE=${WINELOADER:-$WINE}
PORT=8080
ANSWERS=$HERE/answers.txt
OWN_WINESERVER=0
BENCH=0
PAGES=$BIN
while [ $# -gt 0 ]; do
  case "$1" in
    --bench) BENCH=1; shift ;;
    --pages) PAGES=$(realpath "$2"); shift 2 ;;
    --port) PORT=$2; shift 2 ;;
    --answers) ANSWERS=$(realpath "$2"); shift 2 ;;
    --own-wineserver) OWN_WINESERVER=1; shift ;;
    *) echo "serve.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
case "$PORT" in ''|*[!0-9]*) echo "serve.sh: --port needs a number" >&2; exit 2 ;; esac
[ -f "$ANSWERS" ] || { echo "serve.sh: no answers file $ANSWERS" >&2; exit 2; }

SERVER=$WINEPREFIX/drive_c/Quillon/KPSSRV
CGI=$SERVER/Web/CGI
BENCH_CGI=$SERVER/Web/Bench
STATE=$(dirname "$BIN")/console
DOCROOT=$STATE/htdocs

# A Windows path for a file of the Linux file system (Wine maps / to Z:).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

install_pages() {
  mkdir -p "$CGI" "$SERVER/TEMP" "$SERVER/Private" "$DOCROOT/quillon" "$STATE/uploads"
  local page
  # Only the console's pages: a program in this folder is a page anyone can run.
  rm -f "$CGI"/*.exe
  for page in echo params upload login status report; do
    [ -f "$PAGES/$page.exe" ] && cp "$PAGES/$page.exe" "$CGI/"
  done
  [ -f "$BIN/cpage.exe" ] && cp "$BIN/cpage.exe" "$CGI/"  # the page written in C
  for page in msvc_echo msvc_login msvc_status; do  # the pages built in MSVC mode
    [ -f "$BIN/$page.exe" ] && cp "$BIN/$page.exe" "$CGI/"
  done
  cp "$BIN/WDXPatchAgent.dll" "$CGI/"
  for dll in CGIResUTF8.dll SSO_PKIHelper.dll; do
    [ -f "$BIN/$dll" ] && cp "$BIN/$dll" "$CGI/"
  done
  rm -rf "$BENCH_CGI"
  if [ "$BENCH" = 1 ]; then
    mkdir -p "$BENCH_CGI"
    for page in minimal copystdin parsemem loadonly; do
      [ -f "$BIN/$page.exe" ] && cp "$BIN/$page.exe" "$BENCH_CGI/"
    done
    cp "$BIN/WDXPatchAgent.dll" "$BENCH_CGI/"
    # The status page on the C++ layer, beside the class-based one (same
    # folder, resources and cookies), for the benchmark's comparison.
    [ -f "$BIN/cpplayer/status.exe" ] && cp "$BIN/cpplayer/status.exe" "$CGI/statuscpp.exe"
  fi
  cp "$HERE/index.html" "$DOCROOT/quillon/index.html"
  [ -f "$HERE/console.css" ] && cp "$HERE/console.css" "$DOCROOT/quillon/"
  printf '[INI_SERVER_SECTION]\r\nLanguage_Code=9\r\nMaxUploadSize=64\r\n' > "$SERVER/kpsscan.ini"
  printf '[INI_SERVER_SECTION]\r\nMaxCGIPostSizeInK=5120\r\n' > "$SERVER/Private/kpsserver.ini"
  "$RUN_WINE" "$BIN/simserver.exe" set-local-path 'C:\Quillon\KPSSRV\' </dev/null >/dev/null
}

write_config() {
  # lighttpd passes no environment of its own to CGI programs: the wrapper
  # carries the prefix and runs each page by its Windows path, so that the
  # page finds its server folder above it.
  cat > "$STATE/cgi-wrapper.sh" <<WRAP
#!/bin/sh
export WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' WINESERVER='$WINESERVER' WINELOADER='$RUN_WINE'
page=\$(basename "\$1")
case "\$1" in */Web/Bench/*) folder=Bench ;; *) folder=CGI ;; esac
exec '$RUN_WINE' "C:\\\\Quillon\\\\KPSSRV\\\\Web\\\\\$folder\\\\\$page"
WRAP
  chmod +x "$STATE/cgi-wrapper.sh"
  cat > "$STATE/lighttpd.conf" <<CONF
server.modules = ("mod_access", "mod_alias", "mod_cgi", "mod_accesslog")
server.bind = "127.0.0.1"
server.port = $PORT
server.document-root = "$DOCROOT"
server.pid-file = "$STATE/lighttpd.pid"
server.errorlog = "$STATE/error.log"
accesslog.filename = "$STATE/access.log"
server.upload-dirs = ("$STATE/uploads")
server.max-request-size = 262144
# The pages must see every request target a browser sends: a GET form's text
# area arrives as %0D%0A and %09, other fields may hold any control character
# or bytes that are not UTF-8, and the library decodes and checks those itself.
# The other request checks (path normalisation, dot segments, strict headers)
# stay as they are.
server.http-parseopts = (
  "url-ctrls-reject" => "disable",
  "url-invalid-utf8-reject" => "disable",
)
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html;charset=utf-8", ".css" => "text/css", ".png" => "image/png")
alias.url = ("/quillon/cgi/" => "$CGI/")
\$HTTP["url"] =~ "^/quillon/cgi/" {
  url.access-deny = (".dll", ".ini", ".key")
  cgi.assign = (".exe" => "$STATE/cgi-wrapper.sh")
}
CONF
  [ "$BENCH" = 1 ] && cat >> "$STATE/lighttpd.conf" <<CONF
alias.url += ("/quillon/bench/" => "$BENCH_CGI/")
\$HTTP["url"] =~ "^/quillon/bench/" {
  url.access-deny = (".dll", ".ini", ".key")
  cgi.assign = (".exe" => "$STATE/cgi-wrapper.sh")
}
CONF
  return 0
}

PIDS=()
stop_all() {
  trap - INT TERM EXIT
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ "$OWN_WINESERVER" = 1 ] && { "$WINESERVER" -k >/dev/null 2>&1 || true; }
  echo "console stopped"
}

start_services() {
  "$RUN_WINE" "$BIN/cmdhandler_peer.exe" --quiet --answers "$(winpath "$ANSWERS")" --out "$(winpath "$STATE/commands.txt")" \
    </dev/null >"$STATE/cmdhandler.log" 2>&1 &
  PIDS+=($!)
  lighttpd -D -f "$STATE/lighttpd.conf" </dev/null >>"$STATE/error.log" 2>&1 &
  PIDS+=($!)
}

wait_until_ready() {
  local i
  for i in $(seq 1 300); do
    if curl -fsS -o /dev/null "http://127.0.0.1:$PORT/quillon/index.html" 2>/dev/null &&
       grep -q "serving" "$STATE/cmdhandler.log" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  echo "serve.sh: the console did not come up; see $STATE/error.log and $STATE/cmdhandler.log" >&2
  return 1
}

mkdir -p "$STATE"
: > "$STATE/error.log"
install_pages
write_config
trap stop_all INT TERM EXIT
start_services
wait_until_ready
echo "console: http://127.0.0.1:$PORT/quillon/index.html"
# Serve until a signal arrives or a service ends.
wait -n "${PIDS[@]}" || true
