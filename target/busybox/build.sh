#!/bin/bash
# SPDX-License-Identifier: ISC
# Builds busybox's ntpd for the target, the small keeper of the clock that
# firmware images carry and Debian's busybox leaves out: from Debian 12's
# source package (busybox 1:1.35.0-4+deb12u1, with Debian's patches), with
# the ntpd applet alone (config: no server, no ntp.conf, no keys), static
# against the project's uClibc-ng. Writes OUT/ntpd, which runs ntpd under
# that name, and OUT/size, its text+data+bss. The source is fetched once
# into build/busybox-src; where apt knows no source package of that
# version, a deb-src entry for Debian's archive is added (as root), as
# target/wolfssl/build.sh does. A finished build is reused while this
# script, the configuration, the source, the compiler and the C library are
# unchanged.
# usage: target/busybox/build.sh OUT [UCLIBC]
#   UCLIBC: target/uclibc/build.sh's OUT (default build/uclibc)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 OUT [UCLIBC]" >&2; exit 2; }
out=$(mkdir -p "$1" && cd "$1" && pwd)
libc=${2:-$root/build/uclibc}
[ -f "$libc/gcc.specs" ] || { echo "busybox: no $libc/gcc.specs: run target/uclibc/build.sh" >&2; exit 1; }
libc=$(cd "$libc" && pwd)
version=1:1.35.0-4+deb12u1
orig=busybox_1.35.0.orig.tar.bz2
orig_sha256=faeeb244c35a348a334f4a59e44626ee870fb07b6884d68c10ae8bc19f83a694
debian=busybox_1.35.0-4+deb12u1.debian.tar.xz
debian_sha256=1cacbe095ef4880ea7879933c8e3c5075d1527cd6fbcb626a9b41e5daefd1a46
cache=$root/build/busybox-src

key=$( { cat "$here"/build.sh "$here"/config; echo "$version $orig_sha256 $debian_sha256"
         dpkg-query -W gcc-mipsel-linux-gnu; cat "$libc/gcc.specs" "$libc/key"; } | sha256sum)
if [ -f "$out/key" ] && [ "$(cat "$out/key")" == "$key" ]; then
    exit 0
fi

# The source package, fetched once.
. "$here/../debsrc.sh"
debsrc_fetch busybox "$version" "$cache" "$orig" "$orig_sha256" "$debian" "$debian_sha256"

echo "busybox: building busybox's ntpd into $out" >&2
start=$SECONDS
rm -rf "$out/src" "$out/ntpd" "$out/size" "$out/key"
src=$out/src
mkdir -p "$src"
tar -xjf "$cache/$orig" -C "$src" --strip-components=1
tar -xJf "$cache/$debian" -C "$src"
sed -e 's/[[:space:]]*#.*//' -e '/^[[:space:]]*$/d' "$src/debian/patches/series" | while read -r p _; do
    patch -s -t -F0 -N -p1 --no-backup-if-mismatch -d "$src" < "$src/debian/patches/$p"
done

# Nothing, then what config names: busybox's kconfig lets allnoconfig
# override a fragment, so the lines go into .config and oldconfig settles
# the rest at their defaults.
make -s -C "$src" allnoconfig > "$out/config.log" 2>&1
{ cat "$here/config"; echo "CONFIG_EXTRA_CFLAGS=\"-specs=$libc/gcc.specs -fno-pie\""; } | while read -r line; do
    name=$(sed -E 's/^# (CONFIG_[A-Z0-9_]+) is not set$/\1/; s/^(CONFIG_[A-Z0-9_]+)=.*/\1/' <<< "$line")
    sed -i -E "/^(# )?$name[= ]/d" "$src/.config"
    echo "$line" >> "$src/.config"
done
make -C "$src" oldconfig < <(yes '') >> "$out/config.log" 2>&1
for opt in CONFIG_NTPD=y CONFIG_STATIC=y; do
    grep -qx "$opt" "$src/.config" || { echo "busybox: $opt is not set" >&2; exit 1; }
done
make -C "$src" -j2 > "$out/build.log" 2>&1 || { tail -30 "$out/build.log" >&2; exit 1; }
grep -qx '#define NUM_APPLETS 1' "$src/include/applet_tables.h" ||
    { echo "busybox: more applets than ntpd are built" >&2; exit 1; }
cp "$src/busybox" "$out/ntpd"
mipsel-linux-gnu-size "$out/ntpd" | awk 'NR == 2 {print $4}' > "$out/size"

echo "$key" > "$out/key"
echo "busybox: built ntpd in $((SECONDS - start)) s, $(cat "$out/size") bytes" >&2
