#!/bin/bash
# Boots the emulated mipsel target with the static varnel and checks what it
# did to the target's real clock, case by case (see tests/boot/cases.sh).
# usage: boot_test.sh CACHE TIME-BITS VARNEL VARNEL-RECORD STEPCHECK VARNEL-SNTP FAKENTP
#   TIME-BITS  the width of the build's time_t, 32 or 64
#
# It boots twice: with the clock of today, and with the clock in 2040.
#
# Tolerances, from a dozen boots on a 2-core x86-64 host under emulation,
# some two at a time: the clock landed 80 to 755 us behind the offset (the
# time lost between varnel's reading and its setting, plus measuring), once
# 6.9 ms; it stood 1.3 to 7.1 ms into its second once varnel and the wait for
# it were done. So a step must land within 20 ms of the offset, and a
# setting under 100 ms past the whole second. A lost carry is a whole second
# off, and a broken wait lands anywhere in the second: each of the five
# successful runs then passes one time in ten.
set -u
here=$(dirname "$0")
cache=$1 bits=$2
shift 2
console=$(mktemp) && trap 'rm -f "$console"' EXIT
# boot [QEMU-ARGS]: boots the target once and appends its console.
boot() {
    local start=$SECONDS
    BOOT_TIMEOUT=240 BOOT_QEMU_ARGS=${1:-} "$here/../target/boot.sh" "$cache" "$here/boot/cases.sh" \
        "${programs[@]}" > "$console.1" 2>&1
    echo "booted ${1:-} and powered off with status $? in $((SECONDS - start)) s"
    tr -d '\r' < "$console.1" | grep -E '^(TARGET|CASE)'
    tr -d '\r' < "$console.1" | grep -qx DONE || { echo "FAIL: the target did not report every case"; exit 1; }
    cat "$console.1" >> "$console"
    rm -f "$console.1"
}
programs=("$@")
boot
# Its clock in 2040, beyond what a 32-bit time_t holds.
boot "-rtc base=2040-01-01T00:00:00"

failed=0
split="varnel: fatal: data split across packets"
beyond="varnel: fatal: clock reading beyond the range of time_t"
refused="varnel: fatal: unable to settimeofday: invalid argument"
denied="varnel: fatal: unable to settimeofday: permission denied"
# expect NAME STATUS MOVED-US ERR: every report of that case must match.
expect() {
    local n=0 bad=0 line status moved frac err
    while read -r line; do
        n=$((n + 1))
        status=$(sed -n 's/.* status=\([0-9]*\) .*/\1/p' <<< "$line")
        moved=$(sed -n 's/.* moved=\(-*[0-9]*\) .*/\1/p' <<< "$line")
        frac=$(sed -n 's/.* frac=\([0-9]*\) .*/\1/p' <<< "$line")
        err=${line#* err=}
        local why=""
        [ "$status" == "$2" ] || why+=" status $status, not $2;"
        [ "$err" == "$4" ] || why+=" said '$err';"
        (( moved - $3 <= 20000 && $3 - moved <= 20000 )) || why+=" moved $moved us, not $3;"
        if [ "$2" == 0 ]; then ((frac < 100000)) || why+=" set $frac us past the second;"; fi
        if [ -n "$why" ]; then
            echo "FAIL $1:$why"
            bad=1
        fi
    done < <(tr -d '\r' < "$console" | grep "^CASE $1 ")
    [ "$n" -gt 0 ] || { echo "FAIL $1: not reported"; bad=1; }
    if [ "$bad" == 1 ]; then failed=1; else echo "ok   $1 ($n)"; fi
}
expect zero 0 0 ""
expect forward 0 2500000 ""
expect back 0 -500000 ""
expect nanoseconds 111 0 "$refused"
# The largest offset: a 32-bit sum wraps to before 1970, which the kernel
# refuses; a 64-bit one is a valid time in 2094.
if [ "$bits" == 64 ]; then
    expect far 0 2147483647000000 ""
else
    expect far 111 0 "$refused"
fi
expect unprivileged 111 0 "$denied"
expect empty 111 0 "$split"
expect short 111 0 "$split"
expect pipeline 0 1750000 ""
# Past 2038: a 32-bit time_t refuses whatever the offset, even the one whose
# sum with a wrapped reading would be a valid time (1971). A 64-bit one steps
# as ever, and the largest offset stands: the kernel takes 2108.
if [ "$bits" == 64 ]; then
    expect y2038-zero 0 0 ""
    expect y2038-forward 0 2500000 ""
    expect y2038-back 0 -500000 ""
    expect y2038-far 0 2147483647000000 ""
else
    for c in zero forward back far; do expect y2038-$c 111 0 "$beyond"; done
fi
exit $failed
