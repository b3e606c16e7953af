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
#       one-byte items (about 2.6 million pairs);
#   (12) a page storing a one-byte upload with the uploads' budget full vs
#       with TEMP empty (30 requests each, interleaved in runs of 5, medians);
#   (10) the status page with a valid login among 10 and among 30,000 live
#       key files (30 requests each, interleaved in runs of 5, medians);
#   (11) a minute of status checks among the 30,000 with the purge's pass due
#       as it starts: the pass goes in slices over the requests, so the
#       slowest of them against their median.
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
  rm -f "$SERVER"/TEMP/KPS*.tmp "$SERVER"/TEMP/CPY*.tmp
done
p=$(median < "$WORK/parse"); c=$(median < "$WORK/copy")
printf '(6) 64 MB upload: library %.3f s, stdin copy %.3f s, ratio %sx (target <= 1.25x)\n' "$p" "$c" "$(ratio "$p" "$c")"

# A page storing a one-byte upload with the uploads' budget full (the default
# 1,000 files, ten minutes old, so the sweep keeps them: each request deletes
# the oldest and adds its own) vs with TEMP empty (emptied before each).
fill_temp() {
  python3 - "$SERVER/TEMP" <<'PY'
import os, sys, time
then = time.time() - 600
for i in range(1000):
    path = os.path.join(sys.argv[1], "KPS%08X.tmp" % (0xB0000000 + i))
    with open(path, "wb") as f:
        f.write(b"x")
    os.utime(path, (then + i / 10, then + i / 10))
PY
}
printf x > "$WORK/one.txt"
: > "$WORK/empty"; : > "$WORK/full"
for _ in 1 2 3 4 5 6; do
  touch "$SERVER/TEMP/.uploads_swept"
  for _ in 1 2 3 4 5; do
    rm -f "$SERVER"/TEMP/KPS*.tmp
    seconds -F "upload=@$WORK/one.txt" "$BASE/echo.exe" >> "$WORK/empty"
  done
  rm -f "$SERVER"/TEMP/KPS*.tmp
  fill_temp
  for _ in 1 2 3 4 5; do seconds -F "upload=@$WORK/one.txt" "$BASE/echo.exe" >> "$WORK/full"; done
  full=$(find "$SERVER/TEMP" -maxdepth 1 -name 'KPS*.tmp' | wc -l)
done
rm -f "$SERVER"/TEMP/KPS*.tmp
e=$(median < "$WORK/empty"); f=$(median < "$WORK/full")
printf '(12) a page storing one upload with the uploads'"'"' budget full (%d files after) %.1f ms, with TEMP empty %.1f ms, ratio %sx (target <= 1.2x)\n' \
  "$full" "$(awk -v v="$f" 'BEGIN { print v * 1000 }')" "$(awk -v v="$e" 'BEGIN { print v * 1000 }')" "$(ratio "$f" "$e")"

# Key files of earlier runs would make the figures drift with them.
find "$SERVER/TEMP" -maxdepth 1 -name '.key_*' -delete
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

# Live key files beside the login: 36-byte records (the key, zero-padded to 32
# bytes, and the tick of the last use, little-endian) with the login's own tick,
# so that none is idle and a purge must read every one. The extra ones move
# between TEMP and a folder aside (renames, a fraction of a second), so that
# the two cases interleave. The purge's marker is set a few minutes ahead with
# no pass under way, which the library reads as "not due", so no request of
# the runs takes a slice of the pass; the pass is timed apart after them.
cookie() { awk -v n="$1" -F '\t' '$6 == n { print $7 }' "$WORK/jar"; }
keys() {  # plant <count> | in | out
  python3 - "$SERVER/TEMP" "$SERVER/keys_aside" "$(cookie session)" "$(cookie stamp)" "$@" <<'PY'
import os, sys
temp, aside, own, tick, what = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
if what == "plant":
    os.makedirs(aside, exist_ok=True)
    total, sid = int(sys.argv[6]), 0
    have = sum(1 for n in os.listdir(temp) if n.startswith(".key_"))
    while have < total and sid < 32768:
        name = ".key_%d" % sid
        if sid != own and not os.path.exists(os.path.join(temp, name)):
            # The first ten stay in TEMP; the rest wait aside.
            folder = temp if have < 10 else aside
            with open(os.path.join(folder, name), "wb") as f:
                f.write(str(1000003 * sid % 999999937).encode().ljust(32, b"\0") + tick.to_bytes(4, "little"))
            have += 1
        sid += 1
else:
    src, dst = (aside, temp) if what == "in" else (temp, aside)
    names = os.listdir(aside) if what == "in" else open(os.path.join(aside, "..", "keys_aside.txt")).read().split()
    if what == "in":
        open(os.path.join(aside, "..", "keys_aside.txt"), "w").write("\n".join(names))
    for n in names:
        os.rename(os.path.join(src, n), os.path.join(dst, n))
    # The renames' metadata reaches the disk now, not during the requests.
    os.sync()
PY
}
ms_of() { awk -v v="$(median < "$WORK/$1")" 'BEGIN { printf "%.1f", v * 1000 }'; }
marker() { printf '\0\0\0\0' > "$SERVER/TEMP/.logins_purged"; touch -d "$1" "$SERVER/TEMP/.logins_purged"; }
marker 'now + 4 minutes'
keys plant 30000
: > "$WORK/few"; : > "$WORK/many"
for _ in 1 2 3 4 5 6; do
  for _ in 1 2 3 4 5; do seconds -b "$WORK/jar" "$BASE/status.exe" >> "$WORK/few"; done
  keys in
  for _ in 1 2 3 4 5; do seconds -b "$WORK/jar" "$BASE/status.exe" >> "$WORK/many"; done
  count=$(find "$SERVER/TEMP" -maxdepth 1 -name '.key_*' | wc -l)
  keys out
done
keys in
printf '(10) status page among 10 key files %s ms, among %d key files %s ms, ratio %sx (target <= 1.2x)\n' \
  "$(ms_of few)" "$count" "$(ms_of many)" "$(ratio "$(median < "$WORK/many")" "$(median < "$WORK/few")")"
marker '2 minutes ago'
: > "$WORK/minute"
end=$((SECONDS + 60))
while [ "$SECONDS" -lt "$end" ]; do seconds -b "$WORK/jar" "$BASE/status.exe" >> "$WORK/minute"; done
slowest=$(sort -g "$WORK/minute" | tail -n 1)
printf '(11) a minute of status checks among %d key files, the purge pass due: %d requests, median %s ms, slowest %.1f ms, ratio %sx (target <= 2x)\n' \
  "$count" "$(wc -l < "$WORK/minute")" "$(ms_of minute)" "$(awk -v v="$slowest" 'BEGIN { print v * 1000 }')" \
  "$(ratio "$slowest" "$(median < "$WORK/minute")")"
find "$SERVER/TEMP" -maxdepth 1 -name '.key_*' -delete
rm -rf "$SERVER/keys_aside" "$SERVER/keys_aside.txt"
