#!/bin/bash
# SPDX-License-Identifier: ISC
# Boots the emulated mipsel target with the static varnel and checks what it
# did to the target's real clock, case by case (see tests/boot/cases.sh).
# usage: boot_test.sh CACHE TIME-BITS FLOOR VARNEL VARNEL-RECORD STEPCHECK VARNEL-SNTP FAKENTP
#        VARNEL-NTS
#   TIME-BITS  the width of the build's time_t, 32 or 64
#   FLOOR      the build's time floor, seconds since 1970
#
# It boots three times: with the clock of today and a network card, to a
# chronyd on this machine's loopback, which serves NTS too, with the tests'
# CA as the target's bundle; with the clock in 2040; and cold, the clock at
# 1970 while the true time is 2040.
#
# Tolerances, from a dozen boots on a 2-core x86-64 host under emulation,
# some two at a time: the clock landed 80 to 755 us behind the offset (the
# time lost between varnel's reading and its setting, plus measuring), once
# 6.9 ms; it stood 1.3 to 7.1 ms into its second once varnel and the wait for
# it were done. So a step must land within 20 ms of the offset, and a
# setting under 100 ms past the whole second. A lost carry is a whole second
# off, and a broken wait lands anywhere in the second: each of the five
# successful runs then passes one time in ten.
# After a step from an NTP server, measured again (each path warmed first,
# see cases.sh): in 14 boots of the three builds, four of them two at a
# time, the clock stood -0.05 to +1.13 ms off chronyd on this machine's
# loopback, and in 8 boots of mipsel-time64 +0.22 to +2.64 ms off the 2040
# server of the cold boot; unwarmed, the first replies put it up to 5.8 ms
# off. So it must stand within 10 ms, while a lost carry, a wrong sign or a
# wrong era is seconds to years off.
set -u
here=$(dirname "$0")
. "$here/common.sh"
. "$here/sntp/servers.sh"
cache=$1 bits=$2 floor=$3
shift 3
console=$(mktemp) && trap 'rm -f "$console"; rm -rf "$console.srv"; srv_stop' EXIT
# boot QEMU-ARGS [NTP-PORT NTS-PORT]: boots the target once and appends its
# console; with the ports, with a network card and those ports of this
# machine's chronyd for the target's script.
boot() {
    local start=$SECONDS net="" append="" ca=""
    [ -z "${2:-}" ] || net=1 append="NTP_PORT=$2 NTS_PORT=$3" ca=$console.srv/certs/ca.crt
    BOOT_TIMEOUT=240 BOOT_QEMU_ARGS=$1 BOOT_NET=$net BOOT_APPEND=$append BOOT_CA=$ca \
        "$here/../target/boot.sh" \
        "$cache" "$here/boot/cases.sh" "${programs[@]}" > "$console.1" 2>&1
    echo "booted $1 and powered off with status $? in $((SECONDS - start)) s"
    tr -d '\r' < "$console.1" | grep -E '^(TARGET|CASE|RESIDUAL|CLOCK)'
    tr -d '\r' < "$console.1" | grep -qx DONE || { echo "FAIL: the target did not report every case"; exit 1; }
    cat "$console.1" >> "$console"
    rm -f "$console.1"
}
programs=("$@")
# chronyd serving this machine's own clock, without CAP_SYS_TIME and with
# -x, stopped by its PID.
srv_local "$console.srv"
bash "$here/nts/certs.sh" "$console.srv/certs" || { echo "FAIL: unable to make the certificates"; exit 1; }
port=$(srv_port) keport=$(srv_port)
while [ "$keport" == "$port" ]; do keport=$(srv_port); done
srv_chronyd_nts "" "$port" "$keport" "$console.srv/certs/good"
boot "" "$port" "$keport"
srv_stop
# Its clock in 2040, beyond what a 32-bit time_t holds.
boot "-rtc base=2040-01-01T00:00:00"
# Cold: the clock at 1970.
boot "-rtc base=1970-01-01T00:00:00"

failed=0
split="varnel: fatal: data split across packets"
beyond="varnel: fatal: clock reading beyond the range of time_t"
refused="varnel: fatal: unable to settimeofday: invalid argument"
denied="varnel: fatal: unable to settimeofday: permission denied"
beyond_rec="varnel-record: fatal: clock reading beyond the range of time_t"
# expect NAME STATUS MOVED-US ERR [WITHIN-US]: every report of that case must
# match; the clock must have moved by MOVED-US within WITHIN-US (20 ms).
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
        (( moved - $3 <= ${5:-20000} && $3 - moved <= ${5:-20000} )) || why+=" moved $moved us, not $3;"
        if [ "$2" == 0 ]; then ((frac < 100000)) || why+=" set $frac us past the second;"; fi
        if [ -n "$why" ]; then
            echo "FAIL $1:$why"
            bad=1
        fi
    done < <(tr -d '\r' < "$console" | grep "^CASE $1 ")
    [ "$n" -gt 0 ] || { echo "FAIL $1: not reported"; bad=1; }
    if [ "$bad" == 1 ]; then failed=1; else echo "ok   $1 ($n)"; fi
}
# residual NAME WITHIN-US: after the step the clock was measured again, and
# stood within WITHIN-US of the server.
residual() {
    local got
    got=$(tr -d '\r' < "$console" | sed -n "s/^RESIDUAL $1 //p")
    if [ -n "$got" ] && (( $(ns_of "$got") <= $2 * 1000 && $(ns_of "$got") >= -$2 * 1000 )); then
        echo "ok   $1 residual $got s"
    else
        echo "FAIL $1: residual '$got' s, not within $2 us"
        failed=1
    fi
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
expect floor-above 0 0 ""
# To this machine's clock, as chronyd serves it, from 2.75 to 3.75 s ahead:
# the steps above, less the part of a second the kernel drops when it reads
# the RTC; measured -2.66 to -3.53 s.
expect chronyd 0 -3250000 "" 1000000
residual chronyd 10000
# Then through NTS, whose key exchange and authenticated replies come from
# the same chronyd: the clock, that close already, stays within the same
# bound.
expect nts 0 0 "" 10000
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
# The floor step past 2038: a 64-bit time_t is above the floor and stays; a
# 32-bit one cannot read the clock, and varnel-record refuses as varnel does.
if [ "$bits" == 64 ]; then
    expect y2038-floor 0 0 ""
else
    expect y2038-floor 111 0 "$beyond_rec|$split"
fi
# Cold at 1970, the true time 2040: the floor step takes the clock to the
# build's floor (from a few seconds past 1970), whence a 64-bit time_t
# steps to 2040 and lands on the server's time. A 32-bit one cannot hold
# 2040: varnel's sum wraps, the kernel refuses it, and the clock stays at
# the floor.
expect cold-floor 0 "${floor}000000" "" 60000000
clock=$(tr -d '\r' < "$console" | sed -n 's/^CLOCK cold-floor //p')
check "cold-floor set the clock to the floor" "yes" \
    "$( ((clock >= floor && clock < floor + 10)) && echo yes)"
if [ "$bits" == 64 ]; then
    expect cold-ntp 0 "$((2208988800 - floor))000000" "" 60000000
    residual cold-ntp 10000
else
    expect cold-ntp 111 0 "$refused"
fi
exit $failed
