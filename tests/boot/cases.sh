# SPDX-License-Identifier: ISC
# Run on the emulated target (target/boot.sh): runs varnel against the real
# kernel clock and reports each case on the console as "CASE name status=..
# moved=.. frac=.. err=..", for the host to judge; "RESIDUAL name offset"
# where the clock is measured against an NTP server after a step, and
# "CLOCK name seconds" where the time it was set to is what counts.
# Booted today, it has a network card and this machine's chronyd at
# 10.0.2.2:$NTP_PORT.

# case NAME [-u ID] PRODUCER...: pipes the producer's record into varnel,
# run by stepcheck (as user ID, with -u). Paths are absolute: past 2038 the
# target's busybox, built with a 32-bit time_t, cannot look commands up.
# err is what the producer said, then varnel, joined by "|".
case_() {
    name=$1
    shift
    user=""
    if [ "$1" = -u ]; then user="-u $2"; shift 2; fi
    out=$("$@" 2> /tmp/perr | /bin/stepcheck $user /bin/varnel 2> /tmp/err)
    err=$(/bin/cat /tmp/perr /tmp/err | /bin/tr '\n' '|')
    echo "CASE $name $out err=${err%|}"
}
# warm SERVER: two measurements thrown away. The first datagrams of a boot
# leave while qemu is still translating the kernel's network code and the
# programs': the first came back after 10 to 22 ms, the next after up to
# 7 ms, their offsets up to 5 ms off; from the third on, under 1.5 ms. The
# cases measure varnel, not that.
warm() {
    /bin/varnel-sntp -n -t 5 "$1" > /dev/null
    /bin/varnel-sntp -n -t 5 "$1" > /dev/null
}
# residual NAME SERVER: the clock's offset from SERVER, measured again, the
# better of two replies.
residual() {
    echo "RESIDUAL $1 $(/bin/varnel-sntp -n -t 8 -c 2 "$2" | /bin/sed -n 's/^chosen.* offset //p')"
}
record=/bin/varnel-record
# raw SERVER: the offset from SERVER (this machine's clock) and the kernel's
# line, read one right after the other: the offset plus realraw is that
# clock less the oscillator, whatever keeps the clock meanwhile.
raw() {
    off=$(/bin/varnel-sntp -n -t 5 -c 2 "$1" | /bin/sed -n 's/^chosen offset \([^,]*\).*/\1/p')
    echo "${2:-KEEPRAW} offset=$off $(/bin/clockwatch -k)"
}
# trim SERVER: the machine's own rate taken out of its clock for the cases
# that step it once, whose bounds are for a clock that keeps time. The
# kernel's calibration at boot can leave it 4000 ppm off (seen): 18 ms
# between one such case and the next. Two raw lines 8 s apart give the
# kernel's rate that matches SERVER; the keeping cases later start again
# from the discipline as at boot.
trim() {
    a=$(raw "$1" TRIMRAW)
    /bin/sleep 8
    b=$(raw "$1" TRIMRAW)
    set -- $(printf '%s\n%s\n' "$a" "$b" |
        /bin/sed -n 's/^TRIMRAW offset=\([^ ]*\) .* realraw=\([-0-9]*\) raw=\([0-9]*\)/\1 \2 \3/p' |
        /bin/awk '{ u[NR] = $1 * 1e9 + $2; w[NR] = $3 } END {
            ppb = (u[2] - u[1]) / (w[2] - w[1]) * 1e9; t = int(ppb / 100000 + (ppb < 0 ? -0.5 : 0.5))
            printf "%d %d %d\n", ppb, 10000 + t, (ppb - t * 100000) * 65536 / 1000 }')
    /bin/adjtimex -t "$2" -f "$3" > /dev/null
    echo "TRIM ppb=$1 tick=$2 freq=$3"
}
# keep NAME SECONDS SERVER MONITOR SHORTEST [VARNEL-KEEP OPTION...]: the
# keeping pipeline against SERVER, its shortest interval SHORTEST (the
# longest 32 s), for SECONDS, clockwatch beside it; every few
# seconds, at moments apart from the keeper's polls, the offset measured
# again against MONITOR, a server of the same clock, with the least delay
# of its samples. Then the pipeline is
# ended as a supervisor ends it, with SIGTERM to varnel-keep, and what each
# said is reported.
keep() {
    name=$1 secs=$2 server=10.0.2.2:$3 monitor=10.0.2.2:$4 shortest=$5
    shift 5
    /bin/clockwatch > /tmp/watch &
    watch=$!
    t0=$(/bin/cut -d. -f1 /proc/uptime)
    echo "KEEPSTART $name uptime=$t0"
    /bin/varnel-sntp -k -v -i "$shortest" -I 32 "$server" 2> /tmp/measured | /bin/varnel-keep "$@" 2> /tmp/kept &
    keeper=$!
    pause=3
    while :; do
        /bin/sleep $pause
        pause=$((pause % 4 + 2))
        t=$(($(/bin/cut -d. -f1 /proc/uptime) - t0))
        [ $t -lt "$secs" ] || break
        echo "KEEP $name t=$t $(/bin/varnel-sntp -n -v -t 6 -c 3 "$monitor" 2>&1 | /bin/awk '
            / delay / { if (d == "" || $NF + 0 < d + 0) d = $NF }
            /^chosen offset / { o = $3; sub(/,.*/, "", o) }
            END { if (o != "") print "offset=" o " delay=" d }')"
    done
    kill $keeper
    wait $keeper
    echo "KEPT $name status=$? said=$(/bin/tr '\n' '|' < /tmp/kept)"
    kill $watch
    wait $watch
    /bin/sed "s/^/KEEPWATCH $name /" /tmp/watch
    echo "KEEPKERNEL $name $(/bin/clockwatch -k)"
    echo "KEEPCHOSEN $name $(/bin/sed -n 's/^chosen offset \([^,]*\).*/\1/p' /tmp/measured | /bin/tr '\n' ' ')"
}

echo "TARGET $(/bin/uname -m) $(/bin/uname -r)"
# Booted with its clock past January 2038, where a 32-bit time_t cannot hold
# a reading: a build with one must refuse and leave the clock alone, a build
# with a 64-bit time_t must step it as ever. The largest offset goes last:
# where it is taken, the clock is then in 2108.
if /bin/grep -q 'rtc_date.*: 20[4-9]' /proc/driver/rtc; then
    case_ y2038-zero $record 0
    case_ y2038-forward $record 2.5
    case_ y2038-back $record -0.5
    case_ y2038-floor $record -f
    case_ y2038-far $record 2147483647
    echo "DONE"
    exit
fi
# A cold boot in 2040: the clock reads 1970, the true time is 2040, which
# the tests' own server serves on a clock that the steps here do not move.
# The boot sequence raises the clock to the floor, then measures; from the
# floor, 2040 is within the record's reach.
if /bin/grep -q 'rtc_date.*: 1970' /proc/driver/rtc; then
    /bin/ifconfig lo 127.0.0.1 up
    /bin/fakentp -4 -p 11123 -T 2208988800 good > /dev/null &
    server=$!
    /bin/sleep 1
    case_ cold-floor $record -f
    echo "CLOCK cold-floor $(/bin/date +%s)"
    # From 1970 no reply is in reach, so the warming waits for the floor.
    warm 127.0.0.1:11123
    case_ cold-ntp /bin/varnel-sntp -t 5 127.0.0.1:11123
    residual cold-ntp 127.0.0.1:11123
    kill $server
    echo "DONE"
    exit
fi
case_ zero $record 0
# clockwatch beside two steps sees both and nothing else; and -R puts back
# the kernel's discipline as the boot left it.
echo "KERNEL-BOOT $(/bin/clockwatch -k)"
/bin/clockwatch > /tmp/watch &
watch=$!
case_ forward $record 2.5
case_ back $record -0.5
kill $watch
wait $watch
echo "WATCHED $(/bin/tr '\n' ' ' < /tmp/watch)"
/bin/adjtimex -t 10100 -f 655360 -o 5000 -p 4 > /dev/null
echo "KERNEL-RESET $(/bin/clockwatch -R)"
case_ zero $record 0
case_ nanoseconds printf '\0\0\0\0\0\0\0\0\377\377\377\377\0\0\0\0'
case_ unprivileged -u 65534 $record 0
case_ empty true
case_ short printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
case_ zero $record 0
# The whole pipeline: the tests' own NTP server, here in the machine, serves
# its clock 1.75 s ahead; varnel-sntp measures that and varnel steps by it.
/bin/ifconfig lo 127.0.0.1 up
/bin/fakentp -4 -p 11123 -s 1.75 good > /dev/null &
server=$!
/bin/sleep 1
case_ pipeline /bin/varnel-sntp -t 5 -c 2 127.0.0.1:11123
kill $server
# The same against a real server: chronyd, serving this machine's clock on
# its loopback, through qemu's user-mode network. By now the clock here is
# some 3 s ahead.
warm 10.0.2.2:$NTP_PORT
trim 10.0.2.2:$NTP_PORT
case_ chronyd /bin/varnel-sntp -t 5 10.0.2.2:$NTP_PORT
residual chronyd 10.0.2.2:$NTP_PORT
# The whole pipeline with authenticated time, against the same chronyd's
# NTS, its certificate checked against the machine's bundle, which holds
# the tests' CA; the key exchange names the NTP port. Two replies, as the
# first after the exchange comes while qemu still translates its path.
case_ nts /bin/varnel-nts -t 8 -c 2 10.0.2.2:$NTS_PORT
# Keeping the clock against servers on this machine whose clocks run at a
# rate: +200 ppm (KEEP_A, and KEEP_M serving the same clock to measure by);
# with the whole set, -3000 ppm (KEEP_B, KEEP_BM), and +200 ppm again with
# delays and losses on the way (KEEP_J). Between runs the kernel's
# discipline is put back as a boot leaves it.
/bin/clockwatch -R > /dev/null
if [ "$KEEP" = full ]; then
    raw 10.0.2.2:$NTP_PORT
    keep rate200 100 $KEEP_A $KEEP_M 8 -F /tmp/drift
    # A restart within the boot, from the drift file just written: its
    # first interval, 32 s, drifts hardly at all.
    /bin/clockwatch -R > /dev/null
    keep drift 40 $KEEP_A $KEEP_M 32 -F /tmp/drift
    /bin/clockwatch -R > /dev/null
    keep rate-3000 140 $KEEP_B $KEEP_BM 8
    /bin/clockwatch -R > /dev/null
    keep jitter 100 $KEEP_J $KEEP_M 8
    raw 10.0.2.2:$NTP_PORT
elif [ "$KEEP" = short ]; then
    keep rate200 90 $KEEP_A $KEEP_M 8
fi
/bin/clockwatch -R > /dev/null
# At or above the floor, the floor step leaves the clock as it is.
case_ floor-above $record -f
# Last, as it moves the clock to 2094 where the sum is taken.
case_ far $record 2147483647
echo "DONE"
