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
case_ forward $record 2.5
case_ back $record -0.5
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
case_ chronyd /bin/varnel-sntp -t 5 10.0.2.2:$NTP_PORT
residual chronyd 10.0.2.2:$NTP_PORT
# The whole pipeline with authenticated time, against the same chronyd's
# NTS, its certificate checked against the machine's bundle, which holds
# the tests' CA; the key exchange names the NTP port. Two replies, as the
# first after the exchange comes while qemu still translates its path.
case_ nts /bin/varnel-nts -t 8 -c 2 10.0.2.2:$NTS_PORT
# At or above the floor, the floor step leaves the clock as it is.
case_ floor-above $record -f
# Last, as it moves the clock to 2094 where the sum is taken.
case_ far $record 2147483647
echo "DONE"
