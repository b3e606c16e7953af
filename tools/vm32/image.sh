#!/usr/bin/env bash
# Builds the emulated machine that runs the 32-bit suite where the host's kernel
# runs no 32-bit programs: Debian's own amd64 kernel, a small initramfs, and a
# debootstrap root with Wine (both halves) and what the suite's entries call.
#   image.sh <dir>
# Writes <dir>/disk.img (raw ext4), <dir>/vmlinuz, <dir>/initrd.img and, last,
# <dir>/READY. The Wine prefix is made by a first boot inside the machine (where
# wine32 runs) and kept in the image. Nothing i386 is installed or registered on
# the host: the i386 packages are unpacked and configured inside the root only.
# WDX_VM32_MIRROR chooses the Debian mirror (default deb.debian.org).
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DIR=$1
SUITE=bookworm
MIRROR=${WDX_VM32_MIRROR:-http://deb.debian.org/debian}
SECURITY=${WDX_VM32_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
# What the 32-bit suite's entries run inside: Wine, ctest, the web console's
# server and client, the static checks' objdump, and busybox for the initramfs.
PACKAGES="linux-image-amd64 wine wine64 wine32:i386 libwine:i386 cmake python3 lighttpd curl
          binutils-mingw-w64-i686 busybox-static kmod procps file"
# The initramfs loads only these (and what they need): disk, file system, 9p shares.
MODULES="virtio_pci virtio_blk crc32c_generic ext4 9pnet_virtio 9p"

say() { printf '== vm32: %s\n' "$*" >&2; }

WORK=$DIR.build
ROOTFS=$WORK/root
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
t0=$SECONDS
# A build that stopped after the disk was made (its first boot failed) resumes there.
if [ ! -f "$WORK/disk.done" ]; then
rm -rf "$WORK"
mkdir -p "$WORK"
say "debootstrap $SUITE from $MIRROR"
debootstrap --variant=minbase --arch=amd64 "$SUITE" "$ROOTFS" "$MIRROR" >"$WORK/debootstrap.log" 2>&1 ||
  { say "debootstrap failed: $(grep -E '^(E|W):' "$WORK/debootstrap.log" | tail -n 1)"; exit 1; }
say "debootstrap done in $((SECONDS - t0)) s"

cat > "$ROOTFS/etc/apt/sources.list" <<EOF
deb $MIRROR $SUITE main
deb $MIRROR $SUITE-updates main
deb $SECURITY $SUITE-security main
EOF
# No service starts inside the chroot (lighttpd's package would start one).
printf '#!/bin/sh\nexit 101\n' > "$ROOTFS/usr/sbin/policy-rc.d"
chmod +x "$ROOTFS/usr/sbin/policy-rc.d"
for m in proc sys dev dev/pts; do
  mkdir -p "$ROOTFS/$m"
  case $m in
    proc) mount -t proc proc "$ROOTFS/proc" ;;
    sys) mount -t sysfs sys "$ROOTFS/sys" ;;
    dev) mount --bind /dev "$ROOTFS/dev" ;;
    dev/pts) mount -t devpts devpts "$ROOTFS/dev/pts" ;;
  esac
  mounted+=("$ROOTFS/$m")
done
inroot() { chroot "$ROOTFS" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }

t1=$SECONDS
say "packages: $(echo $PACKAGES)"
inroot dpkg --add-architecture i386
inroot apt-get update -q >"$WORK/apt.log" 2>&1 || { say "apt-get update failed: $(grep -E '^(E|W):' "$WORK/apt.log" | tail -n 1)"; exit 1; }
# shellcheck disable=SC2086
inroot apt-get install -y -q --no-install-recommends $PACKAGES >>"$WORK/apt.log" 2>&1 ||
  { say "apt-get install failed: $(grep -E '^E:' "$WORK/apt.log" | tail -n 1)"; exit 1; }
inroot apt-get clean
rm -rf "$ROOTFS"/var/lib/apt/lists/* "$ROOTFS/usr/sbin/policy-rc.d"
say "packages done in $((SECONDS - t1)) s"

# A small initramfs: busybox, the modules above, an /init that mounts the disk and
# hands over to the image's own init (Debian's initramfs boots four times slower
# under emulation).
KVER=$(ls "$ROOTFS/lib/modules" | sort -V | tail -n 1)
cp "$ROOTFS/boot/vmlinuz-$KVER" "$WORK/vmlinuz"
INITRD=$ROOTFS/tmp/initrd
mkdir -p "$INITRD"/{bin,dev,proc,sys,newroot,lib/modules}
cp "$ROOTFS/bin/busybox" "$INITRD/bin/busybox"
: > "$INITRD/modules.order"
for m in $MODULES; do
  { inroot modprobe -S "$KVER" --show-depends "$m" || true; } | while read -r kind path _; do
    [ "$kind" = insmod ] || continue
    base=$(basename "$path")
    grep -qx "/lib/modules/${base%.xz}" "$INITRD/modules.order" && continue
    case $base in
      *.xz) xz -dc "$ROOTFS$path" > "$INITRD/lib/modules/${base%.xz}" ;;
      *) cp "$ROOTFS$path" "$INITRD/lib/modules/$base" ;;
    esac
    echo "/lib/modules/${base%.xz}" >> "$INITRD/modules.order"
  done
done
cat > "$INITRD/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t devtmpfs dev /dev
for m in $(cat /modules.order); do insmod "$m" 2>/dev/null; done
for i in $(seq 1 100); do [ -b /dev/vda ] && break; sleep 0.05; done
mount -t ext4 -o rw /dev/vda /newroot || { echo "vm32: no root disk"; echo o > /proc/sysrq-trigger; }
umount /proc; umount /dev
exec switch_root /newroot /opt/wdx-vm32/init
EOF
chmod +x "$INITRD/init"
inroot sh -c 'cd /tmp/initrd && find . | cpio -o -H newc --quiet' | gzip -1 > "$WORK/initrd.img"
rm -rf "$INITRD"

# The image's init: mounts what a job needs and runs the job's script from the job
# share (tools/vm32/guest.sh, copied there by boot.sh), so the guest side can change
# without a new image. It always powers off.
mkdir -p "$ROOTFS/opt/wdx-vm32"
cat > "$ROOTFS/opt/wdx-vm32/init" <<'EOF'
#!/bin/bash
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm && mount -t devpts devpts /dev/pts && mount -t tmpfs shm /dev/shm
mount -t tmpfs tmp /tmp && mount -t tmpfs run /run
busybox ip link set lo up
mkdir -p /run/wdx-job
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 wdxjob /run/wdx-job; then
  bash /run/wdx-job/guest.sh > /run/wdx-job/guest.log 2>&1
fi
sync
for m in $(awk '$3 == "9p" { print $2 }' /proc/mounts | sort -r); do umount "$m" 2>/dev/null; done
mount -o remount,ro / 2>/dev/null
echo o > /proc/sysrq-trigger
sleep 10
EOF
chmod +x "$ROOTFS/opt/wdx-vm32/init"
echo wdx-vm32 > "$ROOTFS/etc/hostname"

cleanup; mounted=()
# Never delete through a mount left behind (the host's /dev was bound in).
if grep -qF " $ROOTFS/" /proc/mounts; then say "mounts left under $ROOTFS"; exit 1; fi
say "ext4 image"
# Without metadata checksums the initramfs needs no crc32c driver for them.
size=$(( $(du -sm "$ROOTFS" | cut -f1) + 2560 ))
mke2fs -q -t ext4 -O ^metadata_csum -L wdx-vm32 -d "$ROOTFS" "$WORK/disk.img" "${size}M"
rm -rf --one-file-system "$ROOTFS"
touch "$WORK/disk.done"
fi

# First boot: the Wine prefix with both halves, in the image itself.
say "first boot: the Wine prefix (several minutes under emulation)"
"$HERE/boot.sh" --image "$WORK" --write-image --job prefix
say "image done in $((SECONDS - t0)) s"
mkdir -p "$DIR"
mv "$WORK/disk.img" "$WORK/vmlinuz" "$WORK/initrd.img" "$DIR/"
mv "$WORK"/*.log "$DIR/" 2>/dev/null || true
rm -rf "$WORK"
date -u +%FT%TZ > "$DIR/READY"
