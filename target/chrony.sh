#!/bin/bash
# SPDX-License-Identifier: ISC
# Prepares Debian's chronyd (chrony:mipsel, on glibc, dynamic) for the
# emulated target, as a peer for bench/keep: OUT/root holds usr/sbin/chronyd,
# the loader, every library it loads (followed through their NEEDED
# entries) and an /etc/passwd, to be added to the machine's root with
# target/boot.sh's BOOT_ROOT; OUT/libs names the libraries, one a line.
# The packages are fetched with apt-get download, which checks them against
# the archive's signed index, and unpacked with dpkg-deb -x; the result is
# reused while this script and the packages' versions are unchanged.
# usage: target/chrony.sh OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
packages=(chrony libc6 libcap2 libgnutls30 libnettle8 libhogweed6 libseccomp2 libgmp10 libp11-kit0
    libidn2-0 libunistring2 libtasn1-6 libffi8)

if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    dpkg --add-architecture mipsel
    apt-get update -qq
fi
apt-cache show chrony:mipsel > /dev/null 2>&1 || apt-get update -qq
versions=$(for p in "${packages[@]}"; do
    echo "$p=$(apt-cache show --no-all-versions "$p:mipsel" | sed -n 's/^Version: //p')"; done)
key=$( { cat "$here/chrony.sh"; echo "$versions"; } | sha256sum)
if [ -f "$out/key" ] && [ "$(cat "$out/key")" == "$key" ]; then
    exit 0
fi
echo "chrony: fetching chrony:mipsel and its libraries into $out" >&2
rm -rf "$out/debs" "$out/unpacked" "$out/root" "$out/libs" "$out/key"
mkdir -p "$out/debs" "$out/root/usr/sbin" "$out/root/lib/mipsel-linux-gnu" "$out/root/etc"
# shellcheck disable=SC2046
(cd "$out/debs" && apt-get download -q $(sed 's/\(=\|$\)/:mipsel\1/' <<< "$versions") > download.log 2>&1) ||
    { tail -20 "$out/debs/download.log" >&2; exit 1; }
for d in "$out"/debs/*.deb; do
    dpkg-deb -x "$d" "$out/unpacked"
done
cp "$out/unpacked/usr/sbin/chronyd" "$out/root/usr/sbin/"

# Every library the program loads, and every one those load, into the
# loader's own folder.
queue=("$out/root/usr/sbin/chronyd")
declare -A seen=()
while [ ${#queue[@]} -gt 0 ]; do
    for name in $(mipsel-linux-gnu-readelf -d "${queue[0]}" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        [ -z "${seen[$name]:-}" ] || continue
        seen[$name]=1
        lib=""
        for dir in lib usr/lib; do
            [ ! -e "$out/unpacked/$dir/mipsel-linux-gnu/$name" ] || lib=$out/unpacked/$dir/mipsel-linux-gnu/$name
        done
        [ -n "$lib" ] || { echo "chrony: $name, which ${queue[0]##*/} loads, is in none of the packages" >&2; exit 1; }
        cp -L "$lib" "$out/root/lib/mipsel-linux-gnu/$name"
        echo "lib/mipsel-linux-gnu/$name" >> "$out/libs"
        queue+=("$out/root/lib/mipsel-linux-gnu/$name")
    done
    queue=("${queue[@]:1}")
done
ln -s mipsel-linux-gnu/ld.so.1 "$out/root/lib/ld.so.1"
# chronyd -u root looks its user up.
echo "root:x:0:0:root:/:/bin/sh" > "$out/root/etc/passwd"
echo "root:x:0:" > "$out/root/etc/group"
rm -rf "$out/debs" "$out/unpacked"
echo "$key" > "$out/key"
echo "chrony: chronyd and $(wc -l < "$out/libs") libraries in $out/root" >&2
