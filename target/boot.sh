#!/bin/bash
# SPDX-License-Identifier: ISC
# Boots an emulated 32-bit little-endian MIPS machine (qemu's Malta board)
# with Debian's kernel and a small initramfs: busybox, the given programs in
# /bin, and an /init that mounts /dev, /proc and /tmp, runs the given script
# with busybox's sh on the console, and powers off. The console goes to
# standard output. Setting the clock in there is safe: it is the emulated
# machine's own.
#
# usage: target/boot.sh CACHE SCRIPT PROGRAM...
#   CACHE   a folder that keeps the kernel and busybox between runs; they are
#           fetched with apt-get download (the mipsel architecture is added)
#   SCRIPT  what the machine runs, with PATH=/bin holding busybox's commands
# The machine is stopped after BOOT_TIMEOUT seconds (default 120).
# BOOT_QEMU_ARGS adds to qemu's arguments, BOOT_APPEND to the kernel's
# command line (a NAME=value there reaches the script as a variable).
# With BOOT_NET=1 the machine has a network card, the Malta board's own
# PCnet on qemu's user-mode network: eth0 is 10.0.2.15/24, and 10.0.2.2 is
# this machine's loopback. There is no default route, so nothing else on
# that network's far side is reached. Without it, no card at all.
# BOOT_CA, a PEM file, becomes the machine's CA bundle,
# /etc/ssl/certs/ca-certificates.crt. BOOT_ROOT, a folder, is copied into
# the machine's root: a program's libraries and files (target/chrony.sh).
set -euo pipefail
cache=$1 script=$2
shift 2
mkdir -p "$cache"

# The card's driver comes from the kernel's own package, so kernel and
# modules are always fetched together.
if [ ! -s "$cache/vmlinux" ] || [ ! -s "$cache/busybox" ] || [ ! -s "$cache/pcnet32.ko" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
        dpkg --add-architecture mipsel
        apt-get update -qq
    fi
    apt-cache show busybox-static:mipsel > /dev/null 2>&1 || apt-get update -qq
    kernel=$(apt-cache depends linux-image-4kc-malta:mipsel |
        awk '/Depends: linux-image-/ {print $2; exit}')
    debs=$(mktemp -d)
    (cd "$debs" && apt-get download -q "$kernel" busybox-static:mipsel 2> /dev/null)
    dpkg-deb --fsys-tarfile "$debs"/linux-image-*.deb | tar -xO --wildcards './boot/vmlinuz-*' > "$cache/vmlinux"
    for m in mii pcnet32; do
        dpkg-deb --fsys-tarfile "$debs"/linux-image-*.deb | tar -xO --wildcards "./lib/modules/*/$m.ko" > "$cache/$m.ko"
    done
    dpkg-deb --fsys-tarfile "$debs"/busybox-static_*.deb | tar -xO ./bin/busybox > "$cache/busybox"
    rm -rf "$debs"
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 755 "$root"
mkdir -p "$root/bin" "$root/dev" "$root/proc" "$root/tmp"
install -m 755 "$cache/busybox" "$@" "$root/bin/"
nic=none
if [ "${BOOT_NET:-}" == 1 ]; then
    nic="user,model=pcnet,ipv6=off -global pcnet.romfile="
    mkdir -p "$root/lib/modules"
    install -m 644 "$cache/mii.ko" "$cache/pcnet32.ko" "$root/lib/modules/"
fi
install -m 644 "$script" "$root/script"
if [ -n "${BOOT_CA:-}" ]; then
    install -D -m 644 "$BOOT_CA" "$root/etc/ssl/certs/ca-certificates.crt"
fi
if [ -n "${BOOT_ROOT:-}" ]; then
    cp -a "$BOOT_ROOT/." "$root/"
fi
cat > "$root/init" << 'INIT'
#!/bin/busybox sh
/bin/busybox mount -t devtmpfs dev /dev
exec < /dev/console > /dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t tmpfs tmp /tmp
if [ -e /lib/modules/pcnet32.ko ]; then
    insmod /lib/modules/mii.ko && insmod /lib/modules/pcnet32.ko &&
        ifconfig eth0 10.0.2.15 netmask 255.255.255.0 up || echo "boot: no network"
fi
sh /script
poweroff -f
INIT
chmod 755 "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$root.cpio.gz"
trap 'rm -rf "$root" "$root.cpio.gz"' EXIT

# shellcheck disable=SC2086
timeout "${BOOT_TIMEOUT:-120}" qemu-system-mipsel -M malta -m 256 -nographic -no-reboot -nic $nic -vga none \
    ${BOOT_QEMU_ARGS:-} -kernel "$cache/vmlinux" -initrd "$root.cpio.gz" \
    -append "console=ttyS0 rdinit=/init quiet ${BOOT_APPEND:-}"
