#!/bin/bash
# SPDX-License-Identifier: ISC
# Builds wolfSSL 5.5.4 from Debian 12's source package (wolfssl
# 5.5.4-2+deb12u3, with Debian's patches and the ones here) as a lean static
# library for one target, with the features that user_settings.h names:
# OUT/lib/libwolfssl.a and OUT/include, whose wolfssl/options.h holds those
# settings and goes before any other wolfSSL header. The source is fetched
# once into build/wolfssl-src for all targets; where apt knows no source
# package of that version, a deb-src entry for Debian's archive is added
# (as root). A finished build is reused while this script, the settings,
# the patches, the source, the compiler and the C library are unchanged.
# usage: target/wolfssl/build.sh OUT host|mipsel-glibc|mipsel-uclibc|mipsel-musl [LIBC]
#   LIBC: the folder of the C library's gcc.specs for mipsel-uclibc
#   (target/uclibc/build.sh's OUT, default build/uclibc) or mipsel-musl
#   (target/musl.sh's OUT, default build/musl). Needs apt, patch, xz-utils,
#   gcc, and for the mipsel targets gcc-mipsel-linux-gnu and binutils for it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -ge 2 ] || { echo "usage: $0 OUT host|mipsel-glibc|mipsel-uclibc|mipsel-musl [LIBC]" >&2; exit 2; }
out=$(mkdir -p "$1" && cd "$1" && pwd)
target=$2
version=5.5.4-2+deb12u3
orig=wolfssl_5.5.4.orig.tar.gz
orig_sha256=b7ee150e49def77c765bc02aac92ddeb0bebefd4cb12aa263d8f95e405221fb8
debian=wolfssl_$version.debian.tar.xz
debian_sha256=79565eb855d557eb062cb88b033b6fe96e2a6e598236021b81b9840bef5ab6f4
cache=$root/build/wolfssl-src

# Position-independent code for the host, as its programs are PIE; the
# mipsel C libraries other than glibc link static non-PIE programs.
flags=(-Os -ffunction-sections -fdata-sections)
case $target in
    host) cc=gcc ar=ar flags+=(-fPIC) libc_id=$(dpkg-query -W libc6-dev) ;;
    mipsel-glibc) cc=mipsel-linux-gnu-gcc ar=mipsel-linux-gnu-ar libc_id=$(dpkg-query -W libc6-dev-mipsel-cross) ;;
    mipsel-uclibc | mipsel-musl)
        cc=mipsel-linux-gnu-gcc ar=mipsel-linux-gnu-ar
        if [ "$target" = mipsel-uclibc ]; then libc=${3:-$root/build/uclibc}; else libc=${3:-$root/build/musl}; fi
        [ -f "$libc/gcc.specs" ] || { echo "wolfssl: no $libc/gcc.specs: run target/uclibc/build.sh or target/musl.sh" >&2; exit 1; }
        libc=$(cd "$libc" && pwd)
        flags+=(-specs="$libc/gcc.specs" -fno-pie)
        # uClibc-ng is this project's own build, named by its key; musl is
        # Debian's.
        if [ "$target" = mipsel-uclibc ]; then
            libc_id=$(cat "$libc/gcc.specs" "$libc/key")
        else
            libc_id=$(cat "$libc/gcc.specs"; dpkg-query -W musl-dev:mipsel)
        fi ;;
    *) echo "wolfssl: unknown target $target" >&2; exit 2 ;;
esac
compiler=$(readlink -f "$(command -v "$cc")")
compiler_id=$(dpkg-query -W "$(dpkg -S "$compiler" | cut -d: -f1)")
# uClibc declares getrandom() only for GNU programs. These options go into
# no installed header: programs that use the library need none of them.
flags+=(-D_GNU_SOURCE -DWOLFSSL_USER_SETTINGS -Werror=implicit-function-declaration)

key=$( { cat "$here"/build.sh "$here"/user_settings.h "$here"/*.patch
         echo "$version $orig_sha256 $debian_sha256 $target $compiler_id"; echo "$libc_id"; } | sha256sum)
if [ -f "$out/key" ] && [ "$(cat "$out/key")" == "$key" ]; then
    exit 0
fi

# The source package, fetched once.
. "$here/../debsrc.sh"
debsrc_fetch wolfssl "$version" "$cache" "$orig" "$orig_sha256" "$debian" "$debian_sha256"

# Unpacked and patched once for all targets, as dpkg-source would with
# Debian's series (no fuzz), then this folder's patches; into a fresh folder
# that takes the place of the old one only when complete.
tree=$cache/wolfssl-5.5.4
stamp=$( { echo "$orig_sha256 $debian_sha256"; cat "$here"/*.patch; } | sha256sum)
if [ ! -f "$tree/stamp" ] || [ "$(cat "$tree/stamp")" != "$stamp" ]; then
    new=$(mktemp -d "$cache/unpack.XXXXXX")
    tar -xzf "$cache/$orig" -C "$new" --strip-components=1
    tar -xJf "$cache/$debian" -C "$new"
    sed -e 's/[[:space:]]*#.*//' -e '/^[[:space:]]*$/d' "$new/debian/patches/series" | while read -r p _; do
        patch -s -t -F0 -N -p1 --no-backup-if-mismatch -d "$new" < "$new/debian/patches/$p"
    done
    for p in "$here"/*.patch; do
        patch -s -t -F0 -N -p1 --no-backup-if-mismatch -d "$new" < "$p"
    done
    echo "$stamp" > "$new/stamp"
    rm -rf "$tree"
    mv "$new" "$tree"
fi

echo "wolfssl: building wolfSSL for $target into $out" >&2
start=$SECONDS
rm -rf "$out/obj" "$out/lib" "$out/include" "$out/key"
mkdir -p "$out/obj" "$out/lib" "$out/include/wolfssl"
# ssl.c includes its companions (x509.c, pk.c and others) itself; the rest
# of wolfSSL is either for another platform or not used here.
sources=(src/internal.c src/keys.c src/ssl.c src/tls.c src/tls13.c src/wolfio.c
    wolfcrypt/src/aes.c wolfcrypt/src/asn.c wolfcrypt/src/chacha.c wolfcrypt/src/chacha20_poly1305.c
    wolfcrypt/src/cmac.c wolfcrypt/src/coding.c wolfcrypt/src/ecc.c wolfcrypt/src/error.c
    wolfcrypt/src/hash.c wolfcrypt/src/hmac.c wolfcrypt/src/kdf.c wolfcrypt/src/logging.c
    wolfcrypt/src/memory.c wolfcrypt/src/poly1305.c wolfcrypt/src/random.c wolfcrypt/src/rsa.c
    wolfcrypt/src/sha.c wolfcrypt/src/sha256.c wolfcrypt/src/sha512.c wolfcrypt/src/sp_int.c
    wolfcrypt/src/wc_port.c wolfcrypt/src/wolfmath.c)
mkdir -p "$out/obj/src" "$out/obj/wolfcrypt/src"
printf '%s\n' "${sources[@]}" |
    xargs -P"$(nproc)" -I{} "$cc" "${flags[@]}" -I"$here" -I"$tree" -c "$tree/{}" -o "$out/obj/{}.o" \
    > "$out/build.log" 2>&1 || { tail -30 "$out/build.log" >&2; exit 1; }
(cd "$out/obj" && "$ar" rcs "$out/lib/libwolfssl.a" "${sources[@]/%/.o}")

(cd "$tree" && find wolfssl -name '*.h' -exec cp --parents {} "$out/include/" \;)
cp "$here/user_settings.h" "$out/include/user_settings.h"
{
    echo "/* The settings libwolfssl.a was built with (target/wolfssl/user_settings.h). */"
    echo "#ifndef WOLFSSL_OPTIONS_H"
    echo "#define WOLFSSL_OPTIONS_H"
    cat "$here/user_settings.h"
    echo "#endif"
} > "$out/include/wolfssl/options.h"

echo "$key" > "$out/key"
echo "wolfssl: built $target in $((SECONDS - start)) s" >&2
