#!/bin/bash
# Runs inside the emulated machine (the image's init calls it from the job share,
# /run/wdx-job, that tools/vm32/boot.sh fills): mounts the shared host folders at
# their own paths, brings Wine up in the image's prefix and runs the job's command.
# Its output goes to /run/wdx-job/output (shown on the host as it comes), its exit
# status to /run/wdx-job/rc.
set -uo pipefail
J=/run/wdx-job
# shellcheck disable=SC1091
. "$J/job.env"
OUT=$J/output
export HOME=/root TMPDIR=/tmp LANG=C.UTF-8
export WINEPREFIX=/opt/wdx-vm32/wineprefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=/usr/lib/wine/wine

# A bare devtmpfs has no /dev/fd or /dev/std* (udev makes them on a full system);
# the suite's scripts read through them (process substitution, sed /dev/stdin).
[ -e /dev/fd ] || ln -s /proc/self/fd /dev/fd
for n in 0:stdin 1:stdout 2:stderr; do
  [ -e "/dev/${n#*:}" ] || ln -s "/proc/self/fd/${n%%:*}" "/dev/${n#*:}"
done

i=0
for s in "${SHARES[@]}"; do
  mkdir -p "$s"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=mmap "s$i" "$s" ||
    { echo "vm32: cannot mount $s" >> "$OUT"; echo 125 > "$J/rc"; exit 0; }
  i=$((i + 1))
done
# Folders of Windows programs: copies on the machine's own disk, at their own paths.
for p in "${LOCALS[@]}"; do
  mkdir -p "/var/wdx-local$p"
  cp -a "$p/." "/var/wdx-local$p/" && mount --bind "/var/wdx-local$p" "$p" ||
    { echo "vm32: cannot copy $p" >> "$OUT"; echo 125 > "$J/rc"; exit 0; }
done
for e in "${ENVS[@]}"; do export "${e?}"; done

case $JOB in
  prefix)
    # Both halves: wine32 is here, so wineboot fills syswow64 too. The two i386 glib
    # helpers could not run in the chroot that configured their packages.
    /usr/lib/i386-linux-gnu/glib-2.0/gio-querymodules /usr/lib/i386-linux-gnu/gio/modules >/dev/null 2>&1
    glib-compile-schemas /usr/share/glib-2.0/schemas >/dev/null 2>&1
    mkdir -p "$WINEPREFIX"
    echo "vm32: wineboot --init ($(date -u +%T))" >> "$OUT"
    "$WINE" wineboot --init </dev/null >>"$J/wineboot.log" 2>&1
    "$WINESERVER" -w
    echo "vm32: prefix made ($(date -u +%T))" >> "$OUT"
    rc=0
    [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || { echo "vm32: the prefix has no 32-bit half" >> "$OUT"; rc=1; }
    echo "$rc" > "$J/rc" ;;
  run)
    # A persistent wineserver, and Wine's background services started with their
    # streams detached so they hold no test's output open.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
    "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
    rc=0
    "${COMMAND[@]}" </dev/null >> "$OUT" 2>&1 || rc=$?
    "$WINESERVER" -k >/dev/null 2>&1
    echo "$rc" > "$J/rc" ;;
  *) echo "vm32: unknown job $JOB" >> "$OUT"; echo 2 > "$J/rc" ;;
esac
