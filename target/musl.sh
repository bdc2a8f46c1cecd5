#!/bin/bash
# SPDX-License-Identifier: ISC
# Prepares Debian's musl 1.2 for mipsel (package musl-dev:mipsel; 64-bit
# time_t on 32-bit MIPS) for cmake/mipsel-musl.cmake: the gcc specs for it
# in OUT (target/specs.sh).
# usage: target/musl.sh OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lib=/usr/lib/mipsel-linux-musl
[ -f "$lib/libc.a" ] || { echo "musl: no $lib/libc.a: install musl-dev:mipsel" >&2; exit 1; }
"$here/specs.sh" /usr/include/mipsel-linux-musl "$lib" "$1"
