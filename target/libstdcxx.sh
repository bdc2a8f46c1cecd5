#!/bin/bash
# SPDX-License-Identifier: ISC
# Builds gcc's C++ library (libstdc++ 12, from Debian's gcc-12-source)
# against a C library that target/specs.sh prepared in LIBC, into LIBC/c++.
# Only the tests need it: GoogleTest is C++, and Debian has a C++ library for
# glibc alone. The programs use none. A finished build is reused while this
# script, the specs and the compilers are unchanged.
# usage: target/libstdcxx.sh LIBC HOST      HOST: mipsel-linux-uclibc, mipsel-linux-musl
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
libc=$(cd "$1" && pwd) host=$2
out=$libc/c++
tarball=$(ls /usr/src/gcc-12/gcc-12.*.tar.xz)

key=$( { cat "$here/libstdcxx.sh" "$libc/gcc.specs"; echo "$host"; dpkg-query -W gcc-12-source g++-mipsel-linux-gnu; } | sha256sum)
if [ -f "$out/key" ] && [ "$(cat "$out/key")" == "$key" ]; then
    exit 0
fi
echo "libstdcxx: building the C++ library for $host into $out (about three minutes)" >&2
start=$SECONDS
rm -rf "$out"
mkdir -p "$out/src" "$out/build"
top=$(basename "$tarball" .tar.xz)
top=${top%-dfsg}
# The library, and what its configure script reads from the top of gcc's tree.
tar -xf "$tarball" -C "$out/src" --strip-components=1 --wildcards --exclude="$top/libstdc++-v3/testsuite/*" \
    "$top/libstdc++-v3/*" "$top/config/*" "$top/include/*" "$top/libgcc/gthr*" "$top/libgcc/unwind-*.h" "$top/libiberty/*" \
    "$top/gcc/BASE-VER" "$top/gcc/DATESTAMP" "$top/gcc/DEV-PHASE" "$top/config.guess" "$top/config.sub" \
    "$top/install-sh" "$top/ltmain.sh" "$top/config-ml.in" "$top/mkinstalldirs" "$top/move-if-change" \
    "$top/missing" "$top/compile" "$top/depcomp" "$top/config.rpath" "$top/libtool.m4" \
    "$top/ltoptions.m4" "$top/ltsugar.m4" "$top/ltversion.m4" "$top/lt~obsolete.m4"
tar -xf "$tarball" -C "$out/src" --strip-components=1 "$top/libstdc++-v3/testsuite/Makefile.in"

cd "$out/build"
# No thread-local storage: uClibc without threads sets none up, and the
# exception globals would live there.
specs="-specs=$libc/gcc.specs -fno-pie"
CC="mipsel-linux-gnu-gcc $specs" CXX="mipsel-linux-gnu-g++ $specs" LDFLAGS="-static -no-pie" \
    AR=mipsel-linux-gnu-ar RANLIB=mipsel-linux-gnu-ranlib \
    ../src/libstdc++-v3/configure --host="$host" --build="$(../src/config.guess)" --prefix="$out" \
    --with-gxx-include-dir="$out/include" --disable-shared --enable-static --disable-multilib \
    --disable-nls --disable-libstdcxx-pch --disable-libstdcxx-filesystem-ts --enable-clocale=generic \
    --disable-tls \
    > configure.log 2>&1 || { tail -20 configure.log >&2; exit 1; }
# The thread model comes from what `g++ -v` says, which is glibc's posix.
# The tests run in one thread, and uClibc is built without threads.
# configure has already made the header from it.
sed -i 's/^thread_header = .*/thread_header = gthr-single.h/' include/Makefile
rm -f "include/$host/bits/gthr-default.h"
make -j"$(nproc)" > build.log 2>&1 || { grep -m5 -B2 'error' build.log >&2; exit 1; }
make install > install.log 2>&1 || { tail -20 install.log >&2; exit 1; }
rm -rf "$out/src" "$out/build"
echo "$key" > "$out/key"
echo "libstdcxx: built in $((SECONDS - start)) s" >&2
