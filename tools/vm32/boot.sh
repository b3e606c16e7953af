#!/usr/bin/env bash
# Boots the emulated machine (tools/vm32/image.sh) once, runs one command in it and
# powers it off: the command's output appears here as it is written, its exit
# status is this script's.
#   boot.sh --image DIR [--share PATH]... [--local PATH]... [--env NAME=VALUE]... [--timeout S] -- COMMAND...
#   boot.sh --image DIR --write-image --job prefix    (image.sh's first boot)
# Every --share is the host folder PATH, mounted at the same PATH inside, so build
# trees and ctest's files work unchanged. A --local PATH (inside a share) is copied
# to the machine's own disk first and bound over PATH: Wine cannot load Windows
# programs from a 9p share (a DLL fails with ERROR_NOACCESS, a program faults at
# address 0 as it starts), so the folders of programs go in as copies; what is
# written there stays inside. Each boot writes to a throw-away qcow2
# overlay of the image; the image itself changes only with --write-image.
# Hardware virtualisation when /dev/kvm works, else software emulation;
# WDX_VM32_ACCEL=tcg forces software emulation. WDX_VM32_CPUS, WDX_VM32_MEM (MB) size it;
# WDX_VM32_ACCEL_FILE, if set, names a file that gets the one used (kvm or tcg).
# Exit status: the command's; 124 when the whole run exceeded --timeout (default
# 3 hours); 125 when the machine did not come up or ended before the command did.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
IMAGE="" WRITE=0 JOB=run TIMEOUT=10800
SHARES=() ENVS=() LOCALS=()
while [ "$#" -gt 0 ]; do
  case $1 in
    --image) IMAGE=$2; shift 2 ;;
    --write-image) WRITE=1; shift ;;
    --job) JOB=$2; shift 2 ;;
    --share) SHARES+=("$2"); shift 2 ;;
    --env) ENVS+=("$2"); shift 2 ;;
    --local) LOCALS+=("$2"); shift 2 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "boot.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -f "$IMAGE/disk.img" ] && [ -f "$IMAGE/vmlinuz" ] && [ -f "$IMAGE/initrd.img" ] ||
  { echo "boot.sh: no image in $IMAGE" >&2; exit 125; }

# KVM works when the image's kernel starts under it: an opened /dev/kvm can still
# refuse the host CPU's model specific registers (nested: IA32_ARCH_CAPABILITIES),
# which aborts QEMU, or leave the kernel hanging before its first line (seen on a
# nested host). The kernel's banner within ten seconds decides.
kvm_cpu() {
  [ -r /dev/kvm ] && [ -w /dev/kvm ] || return 1
  local cpu probe pid i ok
  probe=$(mktemp "${TMPDIR:-/tmp}/wdx-vm32-kvm.XXXXXX")
  for cpu in host host,-arch-capabilities; do
    : > "$probe"
    qemu-system-x86_64 -machine pc -accel kvm -cpu "$cpu" -m 256 -display none -nodefaults -no-reboot \
      -serial "file:$probe" -kernel "$IMAGE/vmlinuz" -append "console=ttyS0 panic=-1 rdinit=/none" \
      </dev/null >/dev/null 2>&1 &
    pid=$! ok=0
    for i in $(seq 1 100); do
      grep -q 'Linux version' "$probe" && { ok=1; break; }
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    [ "$ok" -eq 1 ] && { rm -f "$probe"; echo "$cpu"; return 0; }
  done
  rm -f "$probe"
  return 1
}
ACCEL=${WDX_VM32_ACCEL:-}
KVM_CPU=""
if [ "$ACCEL" != tcg ]; then KVM_CPU=$(kvm_cpu) && ACCEL=kvm || ACCEL=tcg; fi
if [ "$ACCEL" = kvm ]; then
  MACHINE=(-accel kvm -cpu "$KVM_CPU")
else
  # SMAP off: QEMU 7.2's emulation takes a user-mode iret's stack reads for
  # supervisor accesses, and Wine resumes every context with iret.
  MACHINE=(-accel tcg,thread=multi -cpu max,-smap,-la57)
fi
echo "$ACCEL" > "${WDX_VM32_ACCEL_FILE:-/dev/null}"

JOBDIR=$(mktemp -d "${TMPDIR:-/tmp}/wdx-vm32.XXXXXX")
QEMU_PID=""
finish() {
  if [ -n "$QEMU_PID" ] && kill -0 "$QEMU_PID" 2>/dev/null; then
    kill "$QEMU_PID" 2>/dev/null || true
    sleep 1; kill -9 "$QEMU_PID" 2>/dev/null || true
  fi
  [ -n "$QEMU_PID" ] && wait "$QEMU_PID" 2>/dev/null || true
  [ -n "${TAIL_PID:-}" ] && kill "$TAIL_PID" 2>/dev/null || true
  rm -rf "$JOBDIR"
}
trap finish EXIT
trap 'exit 130' INT TERM

cp "$HERE/guest.sh" "$JOBDIR/guest.sh"
quoted() { [ "$#" -eq 0 ] || printf '%q ' "$@"; }
{
  printf 'JOB=%q\n' "$JOB"
  printf 'SHARES=(%s)\n' "$(quoted "${SHARES[@]}")"
  printf 'ENVS=(%s)\n' "$(quoted "${ENVS[@]}")"
  printf 'LOCALS=(%s)\n' "$(quoted "${LOCALS[@]}")"
  printf 'COMMAND=(%s)\n' "$(quoted "$@")"
} > "$JOBDIR/job.env"
: > "$JOBDIR/output"

if [ "$WRITE" -eq 1 ]; then
  DISK=(-drive "file=$IMAGE/disk.img,format=raw,if=virtio,cache=unsafe")
else
  qemu-img create -q -f qcow2 -b "$IMAGE/disk.img" -F raw "$JOBDIR/overlay.qcow2"
  DISK=(-drive "file=$JOBDIR/overlay.qcow2,format=qcow2,if=virtio,cache=unsafe")
fi
FS=(-virtfs "local,path=$JOBDIR,mount_tag=wdxjob,security_model=none")
i=0
for s in "${SHARES[@]}"; do
  FS+=(-virtfs "local,path=$s,mount_tag=s$i,security_model=none")
  i=$((i + 1))
done

timeout --kill-after=15 "$TIMEOUT" qemu-system-x86_64 -machine pc "${MACHINE[@]}" \
  -smp "${WDX_VM32_CPUS:-$(nproc)}" -m "${WDX_VM32_MEM:-3072}" \
  -display none -nodefaults -no-reboot -serial "file:$JOBDIR/console.log" \
  -kernel "$IMAGE/vmlinuz" -initrd "$IMAGE/initrd.img" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1" \
  "${DISK[@]}" "${FS[@]}" </dev/null >"$JOBDIR/qemu.log" 2>&1 &
QEMU_PID=$!
tail -n +1 -f --pid="$QEMU_PID" "$JOBDIR/output" &
TAIL_PID=$!
qrc=0
{ wait "$QEMU_PID"; } 2>/dev/null || qrc=$?
QEMU_PID=""
wait "$TAIL_PID" 2>/dev/null || true
TAIL_PID=""
if [ -f "$JOBDIR/rc" ]; then
  exit "$(cat "$JOBDIR/rc")"
fi
if [ "$qrc" -eq 124 ] || [ "$qrc" -eq 137 ]; then
  echo "vm32: the emulated machine ran longer than ${TIMEOUT} s and was stopped" >&2
  exit 124
fi
echo "vm32: the emulated machine ended before its command did (qemu exit $qrc); its last words:" >&2
tail -n 20 "$JOBDIR/console.log" "$JOBDIR/qemu.log" "$JOBDIR/guest.log" 2>/dev/null | sed 's/^/  /' >&2
exit 125
