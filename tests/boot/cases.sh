# Run on the emulated target (target/boot.sh): runs varnel against the real
# kernel clock and reports each case on the console as "CASE name status=..
# moved=.. frac=.. err=..", for the host to judge.

# case NAME [-u ID] PRODUCER...: pipes the producer's record into varnel,
# run by stepcheck (as user ID, with -u).
case_() {
    name=$1
    shift
    user=""
    if [ "$1" = -u ]; then user="-u $2"; shift 2; fi
    out=$("$@" | stepcheck $user /bin/varnel 2> /tmp/err)
    echo "CASE $name $out err=$(cat /tmp/err)"
}

echo "TARGET $(uname -m) $(uname -r)"
# Booted with its clock past January 2038, where a 32-bit time_t cannot hold
# a reading: varnel must refuse rather than set the clock from a reading it
# did not get. (Absolute paths: the shell's own lookups fail there too.)
if grep -q 'rtc_date.*: 20[4-9]' /proc/driver/rtc; then
    out=$(/bin/varnel-record 100 | /bin/stepcheck /bin/varnel 2> /tmp/err)
    echo "CASE y2038 $out err=$(cat /tmp/err)"
    echo "DONE"
    exit
fi
case_ zero varnel-record 0
case_ forward varnel-record 2.5
case_ back varnel-record -0.5
case_ zero varnel-record 0
case_ nanoseconds printf '\0\0\0\0\0\0\0\0\377\377\377\377\0\0\0\0'
case_ wrap varnel-record 2147483647
case_ unprivileged -u 65534 varnel-record 0
case_ empty true
case_ short printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
case_ zero varnel-record 0
echo "DONE"
