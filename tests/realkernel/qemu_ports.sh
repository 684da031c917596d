#!/usr/bin/env bash
# Real port instructions on a real kernel: boots a Debian kernel under QEMU
# with an initramfs of busybox and the static vykuu, runs `vykuu version`
# and a two-block `vykuu read` as root on the ports 0x4E/0x4F, then
# `vykuu version` as an ordinary user, which the kernel must refuse.
# QEMU writes every byte the guest sends to 0x4E (0x4F) into a file and
# answers every read of 0x4F with one fixed byte; realkernel_traffic
# compares those writes, port by port, with the simulator's for the same
# commands and the same read-back byte.
#
#   qemu_ports.sh <static vykuu> <realkernel_traffic> <kernel dir> <work dir>
#
# The kernel dir holds boot/vmlinuz-* (scripts/setup.sh extracts it there
# from the linux-image package). Exit 77 (a skip) only when QEMU cannot
# start at all. VYK_QEMU_ACCEL chooses the accelerator: tcg by default,
# since KVM hangs inside the virtual machines this runs on.
set -euo pipefail
vykuu=$1 traffic=$2 kernel_dir=$3 work=$4
readback=00
accel=${VYK_QEMU_ACCEL:-tcg}

qemu=$(command -v qemu-system-x86_64 || true)
if [ -z "$qemu" ]; then
  echo "SKIP: qemu-system-x86_64 is not installed (scripts/setup.sh installs qemu-system-x86)"
  exit 77
fi
kernel=$(ls "$kernel_dir"/boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$kernel" ]; then
  echo "FAIL: no kernel in $kernel_dir/boot (scripts/setup.sh fetches linux-image-amd64 there)"
  exit 1
fi
busybox=$(command -v busybox || true)
if [ -z "$busybox" ] || readelf -l "$busybox" 2>/dev/null | grep -q 'program interpreter'; then
  echo "FAIL: no static busybox (scripts/setup.sh installs busybox-static)"
  exit 1
fi

rm -rf "$work"
mkdir -p "$work/root/bin" "$work/root/etc"
cp "$busybox" "$work/root/bin/busybox"
ln -s busybox "$work/root/bin/sh"
strip -o "$work/root/bin/vykuu" "$vykuu"
echo 'root:x:0:0::/:/bin/sh' >"$work/root/etc/passwd"
echo 'user:x:1000:1000::/tmp:/bin/sh' >>"$work/root/etc/passwd"
printf 'root:x:0:\nuser:x:1000:\n' >"$work/root/etc/group"
# Markers go to the ports 0xE9/0xEA, whose bytes QEMU puts into the same
# files as those of 0x4E/0x4F: they mark where each run's writes begin.
cat >"$work/root/init" <<'INIT'
#!/bin/busybox sh
export PATH=/bin
busybox mkdir -p /proc /sys /dev /tmp /run
busybox mount -t proc proc /proc
busybox mount -t sysfs sys /sys
busybox mount -t devtmpfs dev /dev
busybox mount -t tmpfs tmp /tmp
busybox mount -t tmpfs run /run
mark() {
  for c in "$@"; do
    busybox printf "$c" | busybox dd of=/dev/port bs=1 seek=233 count=1 2>/dev/null
    busybox printf "$c" | busybox dd of=/dev/port bs=1 seek=234 count=1 2>/dev/null
  done
}
cd /tmp
mark '<' V '>'
/bin/vykuu --no-progress version
echo "vyk: version exit $?"
mark '<' R '>'
/bin/vykuu --no-progress read --port 1 --start 00C000 --end 00C200 -o /tmp/read.bin
echo "vyk: read exit $?"
echo "vyk: read.bin $(busybox md5sum /tmp/read.bin)"
mark '<' N '>'
busybox su -s /bin/sh user -c '/bin/vykuu --no-progress version'
echo "vyk: user exit $?"
mark '<' E '>'
busybox poweroff -f
INIT
chmod +x "$work/root/init"
(cd "$work/root" && find . | cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd.gz"

start=$(date +%s%N)
set +e
timeout 180 "$qemu" -accel "$accel" -m 256 -nographic -no-reboot -kernel "$kernel" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1" \
  -chardev file,id=c4e,path="$work/p4e.log",mux=on \
  -device isa-debugcon,iobase=0x4e,chardev=c4e -device isa-debugcon,iobase=0xe9,chardev=c4e \
  -chardev file,id=c4f,path="$work/p4f.log",mux=on \
  -device isa-debugcon,iobase=0x4f,chardev=c4f,readback=0x$readback -device isa-debugcon,iobase=0xea,chardev=c4f \
  </dev/null >"$work/console.log" 2>"$work/qemu.err"
rc=$?
set -e
ms=$((($(date +%s%N) - start) / 1000000))
tr -d '\r' <"$work/console.log" | grep -a -E '^(vyk:|no access|PORT|\[.*\] )' || true
if [ "$rc" -ne 0 ] && ! grep -a -q 'vyk:' "$work/console.log"; then
  if [ ! -s "$work/console.log" ] || ! grep -a -q -i 'linux\|booting' "$work/console.log"; then
    echo "SKIP: QEMU could not start (exit $rc): $(head -c 400 "$work/qemu.err")"
    exit 77
  fi
  echo "FAIL: the guest did not finish (QEMU exit $rc); console in $work/console.log"
  exit 1
fi
echo "QEMU boot to power-off: $((ms / 1000)).$(printf %03d $((ms % 1000))) s (accelerator $accel)"

failed=0
expect() {
  if tr -d '\r' <"$work/console.log" | grep -a -q -F -- "$1"; then
    echo "ok   $2"
  else
    echo "FAIL $2 (console has no \"$1\")"
    failed=1
  fi
}
expect "vyk: version exit 0" "vykuu version as root exits 0"
expect "vyk: read exit 0" "vykuu read as root exits 0"
expect "vyk: user exit 4" "vykuu version as an ordinary user exits 4 (no port access)"
expect "ioperm refused: Operation not permitted" "the ordinary user is told the kernel refused the ports"

"$traffic" "$readback" "$work" || failed=1
want=$(md5sum <"$work/read.bin" | cut -d' ' -f1)
expect "vyk: read.bin $want" "the file the guest read holds what the simulated read gave"
exit $failed
