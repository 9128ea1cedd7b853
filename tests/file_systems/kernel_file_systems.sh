#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# fuse_file_systems.sh on FAT and exFAT as the kernel's own drivers (vfat, exfat) mount them, the
# way a Linux desktop mounts a camera card: in a virtual machine that boots a Debian kernel
# (scripts/install-deps.sh unpacks one) with this machine's files as its read-only root, where a
# container has no such drivers of its own.
#
# Usage: kernel_file_systems.sh KRONVIK_CLI MAKE_PICTURES
# Exits 77 (a skip, with its reason) where qemu, the kernel or busybox is missing. KRONVIK_KILL_SEED
# and KRONVIK_KILL_RUNS go through to fuse_file_systems.sh; KRONVIK_TEST_KERNEL names another
# unpacked kernel package.
set -u
cli=$(realpath "$1")
make_pictures=$(realpath "$2")
checks=$(realpath "$(dirname "$0")/fuse_file_systems.sh")

skip() {
    echo "SKIPPED: $*"
    exit 77
}
kernel_dir=${KRONVIK_TEST_KERNEL:-/var/cache/kronvik-test-kernel}
kernel=$(compgen -G "$kernel_dir/boot/vmlinuz-*" | head -n 1)
[ -n "$kernel" ] || skip "no Debian kernel in $kernel_dir (scripts/install-deps.sh fetches one)"
version=${kernel##*/vmlinuz-}
modules=$kernel_dir/lib/modules/$version/kernel
for tool in qemu-system-x86_64 busybox; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh)"
done
# The guest's first program runs before any library is there.
LC_ALL=C ldd "$(command -v busybox)" 2>&1 | grep -q 'not a dynamic' ||
    skip "busybox is not the static one (busybox-static)"
# The machine's files reach the virtual one through 9p; a path the guest cannot see as it is here
# (under its own /run or /dev) cannot be run.
case $cli:$make_pictures:$checks in /run/* | *:/run/* | /dev/* | *:/dev/*) skip "the programs lie under /run or /dev" ;; esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/root/bin" "$work/root/modules"
cp "$(command -v busybox)" "$work/root/bin/busybox"
# In the order they need each other: 9p over virtio for the root, then the file systems.
load=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet 9pnet_virtio
      netfs fscache 9p loop fat vfat exfat nls_cp437 nls_ascii nls_utf8)
for module in "${load[@]}"; do
    found=$(find "$modules" -name "$module.ko" -print -quit)
    [ -n "$found" ] || skip "the kernel $version has no module $module"
    cp "$found" "$work/root/modules/"
done

# What the guest runs once its root is this machine's: the checks, with a writable /run for their
# files, on the kernel's file systems only. Five killed passes on each: the emulated machine runs
# them at a tenth of this one's speed.
{
    echo '#!/bin/bash'
    echo 'echo'
    echo 'ln -s /proc/self/fd /dev/fd'
    echo 'export TMPDIR=/run TZ=UTC LC_ALL=C PATH=/usr/sbin:/usr/bin:/sbin:/bin'
    echo 'export XDG_STATE_HOME=/run/state KRONVIK_FILE_SYSTEMS="vfat exfat"'
    printf 'export KRONVIK_KILL_RUNS=%q\n' "${KRONVIK_KILL_RUNS:-5}"
    [ -n "${KRONVIK_KILL_SEED:-}" ] && printf 'export KRONVIK_KILL_SEED=%q\n' "$KRONVIK_KILL_SEED"
    printf 'bash %q %q %q\n' "$checks" "$cli" "$make_pictures"
} >"$work/root/job"

cat >"$work/root/init" <<EOS
#!/bin/busybox sh
b=/bin/busybox
\$b mkdir -p /proc /dev /sys /host
\$b mount -t devtmpfs dev /dev
for m in ${load[*]}; do \$b insmod /modules/\$m.ko || echo "KRONVIK-VM: insmod \$m failed"; done
if \$b mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=524288,cache=loose host /host; then
    \$b mount -t proc proc /host/proc
    \$b mount --move /dev /host/dev
    \$b mount -t sysfs sys /host/sys
    \$b mount -t tmpfs run /host/run
    \$b cp /job /host/run/job
    \$b chroot /host /bin/bash /run/job
    echo "KRONVIK-VM-STATUS \$?"
else
    echo "KRONVIK-VM: the root could not be mounted"
fi
\$b poweroff -f
EOS
chmod +x "$work/root/init"
(cd "$work/root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd.gz" ||
    skip "busybox could not pack the guest's first files"

# The processor is emulated: KVM inside a virtual machine (as this one) hangs at the kernel's
# start, and emulation works everywhere, at about a tenth of the speed.
# Well within the test's own time limit, so that a machine that hangs is reported here.
timeout 420 qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -nographic -no-reboot \
    -kernel "$kernel" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet panic=-1" \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
    </dev/null >"$work/console" 2>&1
qemu=$?
# The console, less the firmware's lines, the terminal's escapes and the kernel's own lines but for
# its errors.
tr -d '\r' <"$work/console" | sed 's/\x1bc//g; s/\x1b\[[0-9;?]*[A-Za-z]//g' |
    sed -n '/reboot: Power down/d; /^\(NOTE\|PASS\|FAIL\|SKIPPED\|KRONVIK-VM\|\[ *[0-9.]*\]\)/p; /^[0-9]* failed$/p'
status=$(sed -n 's/^KRONVIK-VM-STATUS \([0-9]*\).*/\1/p' "$work/console" | tail -n 1)
if [ -z "$status" ]; then
    echo "FAIL  the virtual machine ended (qemu status $qemu) before the checks did:"
    tr -d '\r' <"$work/console" | tail -n 20
    exit 1
fi
exit "$status"
