#!/bin/bash
# SPDX-License-Identifier: ISC
# Writes OUT/gcc.specs, which points Debian's mipsel-linux-gnu-gcc at a C
# library other than glibc: only gcc's own headers and the library's, only
# the library's archives, and its start files around gcc's static ones.
# Debian's cross gcc searches glibc's folders before any --sysroot, so the
# specs replace its search paths instead of adding to them. Programs are
# linked statically.
# usage: target/specs.sh INCLUDE LIB OUT
set -euo pipefail
inc=$1 lib=$2 out=$3
cc=mipsel-linux-gnu-gcc
mkdir -p "$out/empty"
# g++ asks for libstdc++ and libm by itself. The programs use no C++ library
# and these C libraries come with none, so an empty archive answers the
# request, and any use of the C++ runtime is a link error.
rm -f "$out/empty/libstdc++.a"
mipsel-linux-gnu-ar rc "$out/empty/libstdc++.a"
cat > "$out/gcc.specs" <<SPECS
%rename cpp_unique_options old_cpp_unique_options

*cpp_unique_options:
-nostdinc -idirafter $($cc -print-file-name=include) -idirafter $inc %(old_cpp_unique_options)

*link_libgcc:
-L$lib -L$out/empty -L$(dirname "$($cc -print-libgcc-file-name)")

*libgcc:
-lgcc

*startfile:
$lib/crt1.o $lib/crti.o $($cc -print-file-name=crtbeginT.o)

*endfile:
$($cc -print-file-name=crtend.o) $lib/crtn.o

%rename link old_link

*link:
%(old_link) -nostdlib

*lib:
--start-group -lc -lgcc --end-group
SPECS
