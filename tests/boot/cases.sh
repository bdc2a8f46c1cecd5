# Run on the emulated target (target/boot.sh): runs varnel against the real
# kernel clock and reports each case on the console as "CASE name status=..
# moved=.. frac=.. err=..", for the host to judge.

# case NAME [-u ID] PRODUCER...: pipes the producer's record into varnel,
# run by stepcheck (as user ID, with -u). Paths are absolute: past 2038 the
# target's busybox, built with a 32-bit time_t, cannot look commands up.
case_() {
    name=$1
    shift
    user=""
    if [ "$1" = -u ]; then user="-u $2"; shift 2; fi
    out=$("$@" | /bin/stepcheck $user /bin/varnel 2> /tmp/err)
    echo "CASE $name $out err=$(/bin/cat /tmp/err)"
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
    case_ y2038-far $record 2147483647
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
# Last, as it moves the clock to 2094 where the sum is taken.
case_ far $record 2147483647
echo "DONE"
