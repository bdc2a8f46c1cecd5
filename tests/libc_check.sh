#!/bin/bash
# SPDX-License-Identifier: ISC
# The programs of a build against a C library of the target's own: static,
# with nothing of glibc in them, and varnel within its size budget on a small
# device (text + data + bss of the stripped binary).
# usage: libc_check.sh BUDGET VARNEL OTHER-PROGRAM...
set -u
budget=$1
shift
failed=0
fail() { echo "FAIL $*"; failed=1; }
for p in "$@"; do
    name=$(basename "$p")
    readelf -l "$p" | grep -q INTERP && fail "$name asks for a dynamic loader"
    readelf -d "$p" | grep -q NEEDED && fail "$name needs shared libraries"
    hits=$(strings -a "$p" | grep -E 'GNU C Library|GLIBC_[0-9]|ld-linux|libc\.so\.6' | head -3)
    [ -z "$hits" ] || fail "$name carries glibc: $hits"
done
stripped=$(mktemp) && trap 'rm -f "$stripped"' EXIT
mipsel-linux-gnu-strip -o "$stripped" "$1"
size=$(size "$stripped" | awk 'NR == 2 {print $4}')
echo "varnel: $size bytes of text + data + bss, stripped (budget $budget)"
((size <= budget)) || fail "varnel is $size bytes, over the budget of $budget"
[ $failed == 1 ] || echo "ok   static, no trace of glibc"
exit $failed
