# SPDX-License-Identifier: ISC
# What bench/sntp and bench/nts share. Sourced; the caller sets $work, a
# folder of its own for scratch files, and defines one CMD..., which runs
# CMD where its server can be reached.

pick() { # FILE PERCENT: that percentile, nearest rank
    local n
    n=$(wc -l < "$1")
    sort -n "$1" | sed -n "$(( (n * $2 + 99) / 100 ))p"
}
us() { awk -v v="$1" 'BEGIN {printf "%.1f", v / 1000}'; }
ms() { awk -v v="$1" 'BEGIN {printf "%.0f", v / 1000}'; }
# Single runs for the counts, under valgrind or strace. A chronyd that drops
# root leaves valgrind unable to remove its gdb pipes from /tmp, so it makes
# none.
export VALGRIND_OPTS=--vgdb=no
instructions() {
    one valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 > /dev/null |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
allocs() {
    one valgrind --tool=memcheck "$@" 2>&1 > /dev/null |
        sed -n 's/.*total heap usage: \([0-9,]*\) allocs.*/\1/p' | tr -d ,
}
syscalls() {
    one strace -f -c -o "$work/strace" "$@" > /dev/null 2>&1 || true
    awk '$NF == "total" {print $4}' "$work/strace"
}
size_of() { # FILE STRIP: text+data+bss of a stripped copy
    [ -f "$1" ] || { echo "-"; return; }
    "$2" -o "$work/stripped" "$1" && size "$work/stripped" | awk 'NR == 2 {print $4}'
}
