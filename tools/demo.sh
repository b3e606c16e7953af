#!/usr/bin/env bash
# The demo: a simulated installer applies the WDX add-on package to a simulated
# server inside the project's Wine prefix, then rolls it back. Called by ./wdx demo,
# which has built everything and started the prefix's wineserver.
#   tools/demo.sh <build folder> [--refused]
# DEMO_HOST and DEMO_DLL name the installer host and the DLL it loads, DEMO_WINE
# the loader that runs the host (the 32-bit one for the shipped i686 DLL).
set -euo pipefail
BUILD=$1; shift
REFUSED=0
[ "${1:-}" = "--refused" ] && REFUSED=1
BIN=$BUILD/x64/bin
DRIVE_C=$WINEPREFIX/drive_c
SERVER=$DRIVE_C/Quillon/KPSSRV
HOST=$DRIVE_C/PatchHost
STAGING=$DRIVE_C/PatchStaging
LOG=$DRIVE_C/Quillon/logserver.txt
REQUESTS=$DRIVE_C/Quillon/aosmgr.txt

DEMO_HOST=${DEMO_HOST:-$BIN/installer_host.exe}
DEMO_DLL=${DEMO_DLL:-$BIN/WDXPatchAgent.dll}
DEMO_WINE=${DEMO_WINE:-$WINE}

run() { "$WINE" "$@" </dev/null; }
file_kind() {  # the PE machine field: which bitness a program or DLL is
  case "$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$1") + 4 ))" -N2 "$1" | tr -d ' ')" in
    4c01) echo "32-bit" ;; 6486) echo "64-bit" ;; *) echo "unknown" ;;
  esac
}
section() { printf '\n=== %s\n' "$*"; }

prepare_server() {
  local service_version=$1 language=$2
  rm -rf "$DRIVE_C/Quillon" "$HOST" "$STAGING"
  "$WINE" reg delete 'HKLM\SOFTWARE\Norvale\Quillon\service\AoS' /f /reg:64 </dev/null >/dev/null 2>&1 || true
  mkdir -p "$SERVER/Web/Service" "$HOST" "$STAGING"
  cp "$BIN/kpsservice_$service_version.exe" "$SERVER/Web/Service/KpsService.exe"
  printf '[INI_SERVER_SECTION]\r\nLanguage_Code=%s\r\n' "$language" > "$SERVER/kpsscan.ini"
  run "$BIN/simserver.exe" set-local-path 'C:\Quillon\KPSSRV\'
  cp "$DEMO_HOST" "$DEMO_DLL" "$HOST/"
  printf 'WDX plug-in (demo build)\r\n' > "$STAGING/WDXPlugIn.dll"
  printf 'WDX uninstaller (demo build)\r\n' > "$STAGING/Uninstall.exe"
  printf '<html><body>WDX console page</body></html>\r\n' > "$STAGING/WDXConsole.html"
  printf '<rules version="10.6.1045"/>\r\n' > "$STAGING/wdxrules.xml"
  echo "server: C:\\Quillon\\KPSSRV\\ (service version ${service_version/_/.}, Language_Code=$language)"
  echo "installer: $(file_kind "$DEMO_HOST") installer_host.exe loading $DEMO_DLL ($(file_kind "$DEMO_DLL"))"
}

# The server's log server and add-on manager, played by peers on their real pipes.
PEER_PIDS=()
start_peers() {
  : > "$LOG"; : > "$REQUESTS"
  "$WINE" "$BIN/logserver_peer.exe" --quiet --seconds 120 --out 'C:\Quillon\logserver.txt' </dev/null 2>/dev/null &
  PEER_PIDS+=($!)
  "$WINE" "$BIN/aosmgr_peer.exe" --quiet --seconds 120 --register-entries --out 'C:\Quillon\aosmgr.txt' \
    </dev/null 2>/dev/null &
  PEER_PIDS+=($!)
  sleep 1
}
stop_peers() {
  local pid
  for pid in "${PEER_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  PEER_PIDS=()
}
trap stop_peers EXIT

install_host() {  # from to
  WINELOADER=$DEMO_WINE "$DEMO_WINE" 'C:\PatchHost\installer_host.exe' 'C:\PatchHost\WDXPatchAgent.dll' 'C:\PatchStaging' "$1" "$2" \
    </dev/null || true
}

show_addon_folder() {
  if [ -d "$DRIVE_C/Quillon/Addon/WDX" ]; then
    echo "C:\\Quillon\\Addon\\WDX:"
    (cd "$DRIVE_C/Quillon/Addon/WDX" && ls -l --time-style=+ | tail -n +2 | awk '{printf "  %-16s %6s bytes\n", $NF, $5}')
  else
    echo "C:\\Quillon\\Addon\\WDX: (absent)"
  fi
}

if [ "$REFUSED" -eq 1 ]; then
  section "Refused server: version 10.5, Language_Code=de"
  prepare_server 10_5 de
  # The entry an earlier registration of add-on package 1.0.1045 left behind.
  run "$BIN/simserver.exe" add-component KPSE_ADDON_WDX 1.0.1045
  start_peers
  install_host 10.5.1000 10.6.1045
  show_addon_folder
  section "Add-on registry area after the refusal"
  run "$BIN/simserver.exe" show-aos || true
else
  section "Simulated server"
  prepare_server 10_6 en
  start_peers
  section "Install run: item 10.5.1000 -> 10.6.1045"
  install_host 10.5.1000 10.6.1045
  show_addon_folder
  section "Requests the add-on manager received, and its answers"
  sleep 1
  cat "$REQUESTS"
  section "Add-on registry area after the install"
  run "$BIN/simserver.exe" show-aos || true
  section "Rollback run: item 10.6.1045 -> 10.5.1000"
  install_host 10.6.1045 10.5.1000
  show_addon_folder
fi

sleep 1
stop_peers
section "Trace lines received by the log server (time | pid | tid | level | file | line | text)"
sed 's/^LOG_WRITE | //' "$LOG"
