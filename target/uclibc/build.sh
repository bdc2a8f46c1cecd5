#!/bin/bash
# SPDX-License-Identifier: ISC
# Builds uClibc-ng 1.0.35 from Debian's uclibc-source for the target (32-bit
# little-endian MIPS, o32, static, 32-bit time_t) into OUT/sysroot, with the
# gcc specs for it in OUT (target/specs.sh), for cmake/mipsel-uclibc.cmake. A finished build is reused while this script,
# the configuration, the patches, the kernel headers and the compiler are
# unchanged.
# usage: target/uclibc/build.sh OUT        (needs uclibc-source,
#        linux-libc-dev-mipsel-cross and gcc-mipsel-linux-gnu)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
tarball=/usr/src/uClibc-ng-1.0.35.tar.xz

key=$( { cat "$here"/build.sh "$here"/config "$here"/*.patch "$here"/../specs.sh; dpkg-query -W linux-libc-dev-mipsel-cross gcc-mipsel-linux-gnu; } | sha256sum)
if [ -f "$out/key" ] && [ "$(cat "$out/key")" == "$key" ]; then
    exit 0
fi
echo "uclibc: building uClibc-ng into $out (about two minutes)" >&2
start=$SECONDS
rm -rf "$out/src" "$out/sysroot" "$out/kernel" "$out/key"

# The kernel headers alone: glibc's headers share their folder, and must not
# be seen.
mkdir -p "$out/kernel/include"
dpkg -L linux-libc-dev-mipsel-cross | sed -n 's#^/usr/mipsel-linux-gnu/include/##p' | while read -r f; do
    if [ -f "/usr/mipsel-linux-gnu/include/$f" ]; then
        mkdir -p "$out/kernel/include/$(dirname "$f")"
        cp "/usr/mipsel-linux-gnu/include/$f" "$out/kernel/include/$f"
    fi
done

mkdir -p "$out/src"
tar -xf "$tarball" -C "$out/src" --strip-components=1
for p in "$here"/*.patch; do
    patch -s -d "$out/src" -p1 < "$p"
done
{ cat "$here/config"; echo "KERNEL_HEADERS=\"$out/kernel/include\""; echo "CROSS_COMPILER_PREFIX=\"mipsel-linux-gnu-\""; } > "$out/src/fragment"
make -s -C "$out/src" ARCH=mips KCONFIG_ALLCONFIG=fragment allnoconfig > "$out/config.log" 2>&1
# allnoconfig drops what it cannot satisfy without a word: check that what
# the programs rely on is in.
for opt in ARCH_USE_MMU CONFIG_MIPS_O32_ABI ARCH_LITTLE_ENDIAN UCLIBC_HAS_REALTIME UCLIBC_LINUX_SPECIFIC \
    UCLIBC_HAS_IPV4 UCLIBC_HAS_IPV6 UCLIBC_HAS_RESOLVER_SUPPORT UCLIBC_HAS_FPU; do
    grep -qx "$opt=y" "$out/src/.config" || { echo "uclibc: $opt is not set" >&2; exit 1; }
done
grep -q '^HAVE_SHARED=y' "$out/src/.config" && { echo "uclibc: shared libraries are on" >&2; exit 1; }
make -C "$out/src" -j"$(nproc)" > "$out/build.log" 2>&1 || { tail -30 "$out/build.log" >&2; exit 1; }
make -C "$out/src" install PREFIX="$out/sysroot" > "$out/install.log" 2>&1 || { tail -30 "$out/install.log" >&2; exit 1; }
# uClibc's headers include <linux/...> and <asm/...>.
cp -r "$out/kernel/include/." "$out/sysroot/usr/include/"
"$here/../specs.sh" "$out/sysroot/usr/include" "$out/sysroot/usr/lib" "$out"

echo "$key" > "$out/key"
echo "uclibc: built in $((SECONDS - start)) s" >&2
