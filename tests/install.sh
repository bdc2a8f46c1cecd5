#!/bin/bash
# SPDX-License-Identifier: ISC
# cmake --install into a temporary prefix puts each file where it belongs,
# and the installed manual pages render.
# usage: install.sh BUILD-DIR NTS (NTS 1 when varnel-nts is built)
set -eu
prefix=$(mktemp -d) && trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" > /dev/null
nts=()
[ "${2:-0}" == 0 ] || nts=(bin/varnel-nts share/man/man8/varnel-nts.8)
for f in sbin/varnel sbin/varnel-keep bin/varnel-record bin/varnel-sntp share/man/man8/varnel.8 \
    share/man/man8/varnel-keep.8 share/man/man1/varnel-record.1 share/man/man8/varnel-sntp.8 \
    "${nts[@]}"; do
    [ -s "$prefix/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
test -x "$prefix/sbin/varnel"
test -x "$prefix/sbin/varnel-keep"
test -x "$prefix/bin/varnel-record"
test -x "$prefix/bin/varnel-sntp"
if command -v man > /dev/null; then
    MANWIDTH=80 man -l "$prefix/share/man/man8/varnel.8" | grep -q 'data split across packets'
    MANWIDTH=80 man -l "$prefix/share/man/man1/varnel-record.1" | grep -q 'single write'
    MANWIDTH=80 man -l "$prefix/share/man/man8/varnel-sntp.8" | grep -q 'kiss-o.-death RATE'
    MANWIDTH=80 man -l "$prefix/share/man/man8/varnel-keep.8" | grep -q 'popcorn spike'
    [ ${#nts[@]} == 0 ] ||
        MANWIDTH=80 man -l "$prefix/share/man/man8/varnel-nts.8" | grep -q 'outside its certificates'
fi
echo "ok   installed and rendered"
