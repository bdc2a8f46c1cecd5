#!/bin/bash
# SPDX-License-Identifier: ISC
# The real varnel binary, observed from outside: its diagnostics byte for
# byte, its exit status, its system calls and the values it hands the kernel.
# usage: e2e.sh VARNEL LIBFAKECLOCK SANITIZED(0|1) VARNEL-RECORD FLOOR VARNEL-KEEP
#   FLOOR  the build's time floor, seconds since 1970, as CMake set it
#
# This machine's clock must never change. The script re-runs itself without
# CAP_SYS_TIME, so a clock setting that escapes every fake fails with EPERM.
set -u
. "$(dirname "$0")/common.sh"
drop_time_cap "$0" "$@"
bin=$1 lib=$2 sanitized=$3 record=$4 floor=$5 keep=$6
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
log=$tmp/log
export ASAN_OPTIONS=verify_asan_link_order=0

# rec SECONDS NANOSECONDS: a record from two 8-digit hex fields.
rec() {
    local h="00000000$1${2}00000000" out="" i
    for ((i = 0; i < 32; i += 2)); do out+="\\x${h:i:2}"; done
    printf "$out"
}

# fake "SEC.USEC SEC.USEC" RECORD...: varnel on the fake clock; prints its
# standard error, its status, and what it handed select and settimeofday.
fake() {
    local now=$1
    shift
    rm -f "$log"
    rec "$@" > "$tmp/in"
    FAKECLOCK_NOW=$now FAKECLOCK_LOG=$log LD_PRELOAD=$lib "$bin" < "$tmp/in" 2>&1
    echo "status $?"
    cat "$log" 2>/dev/null
}

# ok SELECT-USEC SET-SEC SET-USEC: what a successful fake run prints.
ok() { printf 'status 0\nselect 1 0\ntimeout 0 %s\nsettimeofday %s %s\n' "$@"; }
refused() {
    printf 'varnel: fatal: unable to settimeofday: invalid argument\nstatus 111\n'
    printf 'select 1 0\ntimeout 0 %s\nsettimeofday %s %s\n' "$@"
}

# The wait and the sum, against scripted clock readings.
check "zero record" "$(ok 750000 1001 1)" "$(fake '1000.250000 1001.000001' 00000000 00000000)"
check "zero record on the second waits a full second, unnormalised" \
    "$(ok 1000000 1001 2)" "$(fake '1000.0 1001.000002' 00000000 00000000)"
check "+2.5 s" "$(ok 100000 1700000003 3)" "$(fake '1700000000.400000 1700000000.500003' 00000002 1dcd6500)"
check "-0.5 s" "$(ok 300000 100 1)" "$(fake '100.200000 100.500001' ffffffff 1dcd6500)"
check "one carry leaves 10^6 us or more: refused" "$(refused 205033 1001 3794967)" \
    "$(fake '1000.500000 1000.500000' 00000000 ffffffff)"
# A failed or wrapped reading stops the run before the clock is set: glibc's
# 32-bit time_t fails with EOVERFLOW after 2038, and uClibc's wraps to a time
# before 1970.
beyond=$(printf 'varnel: fatal: clock reading beyond the range of time_t\nstatus 111')
waited=$'\nselect 1 0\ntimeout 0 1000000'
check "first reading overflows" "$beyond" "$(fake 'x 1000.0' 00000002 00000000)"
check "second reading overflows" "$beyond$waited" "$(fake '1000.0 x' 00000002 00000000)"
check "first reading wrapped" "$beyond" "$(fake '-2085978496.0 1000.0' 7fffffff 00000000)"
check "second reading wrapped" "$beyond$waited" "$(fake '1000.0 -2085978496.0' 7fffffff 00000000)"
check "reading fails otherwise" "$(printf 'varnel: fatal: unable to gettimeofday: bad address\nstatus 111')" \
    "$(fake 'f' 00000000 00000000)"

rec 00000000 00000000 > "$tmp/in"
printf 'rest' >> "$tmp/in"
check "more than 16 bytes: the rest stays unread" "$(printf 'status 0\nrest')" \
    "$( { FAKECLOCK_NOW=1.0 FAKECLOCK_LOG=$log LD_PRELOAD=$lib "$bin"; echo "status $?"; cat; } < "$tmp/in")"

# Records that do not arrive whole in one read.
split=$(printf 'varnel: fatal: data split across packets\nstatus 111')
check "empty input" "$split" "$("$bin" < /dev/null 2>&1; echo "status $?")"
check "15 bytes" "$split" "$(head -c 15 /dev/zero | "$bin" 2>&1; echo "status $?")"
# The second half is written only once varnel has ended, so its one read
# can only ever see the first.
mkfifo "$tmp/ended"
check "16 bytes in two writes" "$split" \
    "$( { head -c 8 /dev/zero; read -r < "$tmp/ended"; head -c 8 /dev/zero 2> /dev/null; } |
        { "$bin" 2>&1; echo "status $?"; echo > "$tmp/ended"; })"
check "standard input closed" "$split" "$("$bin" <&- 2>&1; echo "status $?")"
check "standard error closed" "status 111" "$("$bin" < /dev/null 2>&-; echo "status $?")"

# The real kernel and libc, with no fake: privilege dropped, nanoseconds
# out of range.
check "no privilege" "$(printf 'varnel: fatal: unable to settimeofday: permission denied\nstatus 111')" \
    "$(rec 00000000 00000000 | "$bin" 2>&1; echo "status $?")"
check "real libc refuses 10^6 us or more" \
    "$(printf 'varnel: fatal: unable to settimeofday: invalid argument\nstatus 111')" \
    "$(rec 00000000 ffffffff | "$bin" 2>&1; echo "status $?")"

# varnel-record: the record it writes, what varnel makes of it, and its
# refusals, which write nothing at all to standard output.
check "varnel-record -0.25" " 00 00 00 00 ff ff ff ff 2c b4 17 80 00 00 00 00" \
    "$("$record" -0.25 | od -An -tx1)"
check "the manual's printf record is varnel-record 2.5" "$("$record" 2.5 | od -An -tx1)" \
    "$(printf '\0\0\0\0\0\0\0\2\35\315\145\0\0\0\0\0' | od -An -tx1)"
rm -f "$log"
check "varnel-record -0.25 | varnel" "$(printf 'select 1 0\ntimeout 0 50000\nsettimeofday 100 250000')" \
    "$("$record" -0.25 | FAKECLOCK_NOW='100.200000 100.500000' FAKECLOCK_LOG=$log LD_PRELOAD=$lib "$bin"
        cat "$log")"
refusal() { # WANT-LINE ARGS...
    local want=$1
    shift
    check "varnel-record refuses: $*" "$(printf 'out 0\n%s\nstatus 100' "$want")" \
        "$("$record" "$@" > "$tmp/out" 2> "$tmp/err"; s=$?
            echo "out $(wc -c < "$tmp/out")"; cat "$tmp/err"; echo "status $s")"
}
usage="varnel-record: usage: varnel-record [+|-]seconds[.fraction] | varnel-record -f [YYYY-MM-DD]"
refusal "$usage"
refusal "$usage" 1 2
refusal "$usage" -f 2026-12-08 1
refusal "varnel-record: fatal: not a date from 1970-01-01 to 2106-02-07: 2026-02-30" -f 2026-02-30
refusal "varnel-record: fatal: not a decimal offset: -F" -F

# varnel-record -f against scripted clock readings: the record that raises
# the clock to the floor (the build's, or the date given), the zero record
# at or above it, and refusals that write nothing.
# floor_run READING [DATE]: the record as offset nanoseconds (or "nothing"),
# then standard error and the status.
floor_run() {
    FAKECLOCK_NOW=$1 LD_PRELOAD=$lib "$record" -f ${2:+"$2"} > "$tmp/out" 2> "$tmp/err"
    local s=$?
    if [ -s "$tmp/out" ]; then record_ns "$tmp/out"; else echo "nothing"; fi
    cat "$tmp/err"
    echo "status $s"
}
beyond_rec="varnel-record: fatal: clock reading beyond the range of time_t"
while IFS='|' read -r name now date want; do
    check "varnel-record -f: $(echo $name)" "$(printf '%b' "${want# }")" "$(floor_run $now $date)"
done <<ROWS
below the build's floor    | 5.250000          |            | $(((floor - 5) * 1000000000 - 250000000))\nstatus 0
a microsecond below        | 1796687999.999999 | 2026-12-08 | 1000\nstatus 0
on the date                | 1796688000.000000 | 2026-12-08 | 0\nstatus 0
beyond the record          | 0.0               | 2106-02-07 | nothing\nvarnel-record: fatal: clock more than 2147483647 s below the floor\nstatus 111
a reading that fails, 2038 | x                 | 2026-12-08 | nothing\n$beyond_rec\nstatus 111
a wrapped reading, uClibc  | -2085978496.0     | 2026-12-08 | nothing\n$beyond_rec\nstatus 111
a reading that fails       | f                 |            | nothing\nvarnel-record: fatal: unable to gettimeofday: bad address\nstatus 111
ROWS
# Piped into varnel, which reads the clock twice: the clock lands on the
# floor plus the time spent in between. The floor is a whole second, so
# from the first reading varnel waits a full one.
rm -f "$log"
check "varnel-record -f 1970-01-02 | varnel" "$(printf 'select 1 0\ntimeout 0 1000000\nsettimeofday 86400 250000')" \
    "$(FAKECLOCK_NOW='100.250000 100.500000' FAKECLOCK_LOG=$log LD_PRELOAD=$lib \
        bash -c '"$1" -f 1970-01-02 | "$2"; cat "$3"' - "$record" "$bin" "$log")"

# Never a record to a terminal, in either form: script(1) gives the run a
# terminal as standard output and error, so all it wrote shows there.
tty="varnel-record: fatal: standard output is a terminal: pipe it into varnel"
for args in 2.5 "-f 1970-01-01"; do
    script -qec "$(printf '%q ' "$record")$args" /dev/null > "$tmp/tty" 2>&1
    s=$?
    check "varnel-record $args to a terminal" "$(printf '%s\nstatus 100' "$tty")" \
        "$(printf '%s\nstatus %s' "$(tr -d '\r' < "$tmp/tty")" "$s")"
done
refusal "varnel-record: fatal: empty offset" ""
refusal "varnel-record: fatal: not a decimal offset: 1.5s" 1.5s
refusal "varnel-record: fatal: more than nine fractional digits: 0.1234567891" 0.1234567891
refusal "varnel-record: fatal: seconds outside the signed 32-bit range: -2147483648.5" -2147483648.5

# varnel-keep on the fake clock and kernel, fed by a script whose output is
# its input: "r SECONDS NANOSECONDS" a record (as rec), "p SECONDS" a pause,
# so that each record is one read. Prints standard error, the status, and
# what reached the kernel: settimeofday, and "adjtimex MODES TICK FREQ
# OFFSET STATUS CONSTANT MAXERROR ESTERROR".
r() { rec "$@"; }
p() { sleep "$1"; }
export -f r p rec
keep_run() { # ARGS... -- SCRIPT
    local args=()
    while [ "$1" != -- ]; do args+=("$1"); shift; done
    rm -f "$log"
    bash -c "$2" | FAKECLOCK_NOW=1000.500000 FAKECLOCK_LOG=$log LD_PRELOAD=$lib "$keep" "${args[@]}" 2>&1
    echo "status $?"
    grep -E '^(settimeofday|adjtimex)' "$log" 2> /dev/null
}
kf="varnel-keep: fatal:" kw="varnel-keep: warning:"
set_first='settimeofday 1003 0\nadjtimex 603f 10000 0 0 81 0 1 0'
printf '+450.000\n' > "$tmp/drift450" && printf 'fast\n' > "$tmp/corrupt" && printf -- '-50001\n' > "$tmp/far"
while IFS='|' read -r name args script want; do
    check "varnel-keep: $(echo $name)" "$(printf '%b' "${want# }")" "$(keep_run $args -- "$script")"
done <<ROWS
usage                      | -F                   | :                            | varnel-keep: usage: varnel-keep [-F file] [-s seconds]\nstatus 100
a threshold past 0.5 s     | -s 0.5000001         | :                            | $kf bad threshold, not above 0 and up to 0.5 seconds: 0.5000001\nstatus 100
empty input                |                      | :                            | $kf end of input\nstatus 111
15 bytes                   |                      | head -c 15 /dev/zero         | $kf data split across packets\nstatus 111
nanoseconds of 10^9        |                      | r 00000000 3b9aca00          | $kf unable to settimeofday: invalid argument\nstatus 111
the first record steps     |                      | r 00000002 1dcd6500          | $kf end of input\nstatus 111\n$set_first
a drift file missing       | -F $tmp/none         | r 00000002 1dcd6500          | $kw drift file ignored: $tmp/none: file does not exist\n$kf end of input\nstatus 111\n$set_first
a drift file not a number  | -F $tmp/corrupt      | :                            | $kw drift file ignored: $tmp/corrupt: not a frequency in ppm\n$kf end of input\nstatus 111
a drift file past 5 %      | -F $tmp/far          | :                            | $kw drift file ignored: $tmp/far: beyond 50000 ppm\n$kf end of input\nstatus 111
a drift file: the tick too | -F $tmp/drift450     | r 00000002 1dcd6500          | $kf end of input\nstatus 111\nadjtimex 4002 10005 -3276800 0 40 0 0 0\nsettimeofday 1003 0\nadjtimex 603f 10005 -3276800 0 81 0 1 0
beyond -s: stepped         | -s 0.1               | r 00000000 00000000; p 0.2; r 00000000 0bebc200 | $kw stepped the clock by +0.200000 s\n$kf end of input\nstatus 111\nsettimeofday 1000 500000\nadjtimex 603f 10000 0 0 81 0 1 0\nsettimeofday 1000 700000\nadjtimex 603f 10000 0 0 81 0 1 0
ROWS
check "varnel-keep: no privilege" "$(printf '%s unable to settimeofday: permission denied\nstatus 111' "$kf")" \
    "$(rec 00000000 00000000 | "$keep" 2>&1; echo "status $?")"
# It learns the rate of records 30 us apart every 0.3 s, +100 ppm or a
# little less as the pauses run long (to 0.33 s on a loaded machine),
# holds a spike 50 ms off, and at SIGTERM, its input still open, writes the
# drift file and ends quietly. The records wait until it has started: it
# takes each as of when it reads it, and under a sanitizer on a loaded
# machine it read the first 0.12 s late.
rm -f "$log" "$tmp/sent"
FAKECLOCK_NOW=1000.500000 FAKECLOCK_LOG=$log LD_PRELOAD=$lib "$keep" -F "$tmp/learnt" > "$tmp/out" 2>&1 \
    < <(sleep 0.6; for k in 0 1 2 3 4 5; do rec 00000000 "$(printf %08x $((k * 30000 + (k == 4) * 50000000)))"
        echo "$EPOCHREALTIME" >> "$tmp/sent"; sleep 0.3; done; sleep 3) &
pid=$!
sleep 3
kill -TERM $pid
wait $pid
check "varnel-keep: SIGTERM ends it quietly" "$kw drift file ignored: $tmp/learnt: file does not exist
status 0" "$(cat "$tmp/out"; echo "status $?")"
learnt=$(ns_of "$(cat "$tmp/learnt" 2> /dev/null)")
# The rate sent: 150 us over the time from the first record to the last.
sent=$(awk 'NR == 1 { a = $1 } END { printf "%d", 150e-6 / ($1 - a) * 1e15 }' "$tmp/sent")
check "varnel-keep: the drift file learnt the rate sent, within 1 %" yes \
    "$( (((learnt - sent) * 100 <= sent && (sent - learnt) * 100 <= sent)) && echo yes ||
        echo "$(cat "$tmp/learnt") ppm, sent $((sent / 1000000)) ppb")"
check "varnel-keep: the spike was held" 5 "$(grep -c '^adjtimex 603f' "$log")"

if [ "$sanitized" != 1 ]; then
    check "varnel-record writes once" "write(1, \"\\0\\0\\0\\0\\0\\0\\0\\2\\35\\315e\\0\\0\\0\\0\\0\", 16)=16" \
        "$(strace -e trace=write -o "$tmp/trace" "$record" 2.5 > /dev/null; grep -v '^+++' "$tmp/trace" | sed -E 's/ += /=/')"

    check "only libc is needed" "NEEDED libc.so.6" \
        "$(readelf -d "$bin" | awk '/NEEDED/ {gsub(/[][]/, "", $5); print "NEEDED", $5}')"

    # What a run asks of the kernel after start-up (the first read of
    # descriptor 0): the clock setting is injected, never performed.
    # trace RECORD...: prints the calls with the timeout and the set time
    # replaced by names; leaves the values in $tmp/values.
    trace() {
        rec "$@" | strace -o "$tmp/trace" -e inject=clock_settime:retval=0 \
            -e inject=settimeofday:retval=0 "$bin" 2>/dev/null
        sed -n '/^read(0,/,$p' "$tmp/trace" | sed -E \
            -e 's/^(pselect6\(1, NULL, NULL, NULL, )\{tv_sec=([0-9]+), tv_nsec=([0-9]+)\}/\1WAIT/' \
            -e 's/^(clock_settime\(CLOCK_REALTIME, )\{tv_sec=([0-9]+), tv_nsec=([0-9]+)\}/\1SET/' \
            -e 's/ += /=/; s/  +/ /g'
        sed -nE -e 's/^pselect6.*tv_sec=([0-9]+), tv_nsec=([0-9]+).*/\1 \2/p' \
            -e 's/^clock_settime.*tv_sec=([0-9]+), tv_nsec=([0-9]+).*/\1 \2/p' "$tmp/trace" > "$tmp/values"
    }
    start=$(date +%s)
    check "system calls of a run" "$(cat <<'CALLS'
read(0, "\0\0\0\0\0\0\0\2\35\315e\0\0\0\0\0", 16)=16
pselect6(1, NULL, NULL, NULL, WAIT, NULL)=0 (Timeout)
clock_settime(CLOCK_REALTIME, SET)=0 (INJECTED)
exit_group(0)=?
+++ exited with 0 +++
CALLS
)" "$(trace 00000002 1dcd6500)"
    # The wait is at most a second; the clock handed over is now + 2.5 s,
    # which lands just past a whole second.
    { read -r wait_s wait_ns && read -r set_s set_ns; } < "$tmp/values"
    wait_ns=$((wait_s * 1000000000 + wait_ns))
    check "wait within (0, 1 s] in whole microseconds" "yes" \
        "$( ((wait_ns > 0 && wait_ns <= 1000000000 && wait_ns % 1000 == 0)) && echo yes)"
    check "set to now + 2.5 s" "yes" \
        "$( ((set_s >= start + 2 && set_s <= start + 5)) && echo yes)"
    check "set lands just past the whole second" "yes" "$( ((set_ns < 50000000)) && echo yes)"

    check "a refused setting writes one line in one write" "$(cat <<'CALLS'
clock_settime(CLOCK_REALTIME, SET)=-1 EPERM (Operation not permitted)
write(2, "varnel: fatal: unable to settimeofday: permission denied\n", 57)=57
exit_group(111)=?
+++ exited with 111 +++
CALLS
)" "$(rec 00000000 00000000 | strace -s 100 -o "$tmp/trace" "$bin" 2>/dev/null
        sed -n '/^clock_settime/,$p' "$tmp/trace" | sed -E \
            -e 's/\{tv_sec=[0-9]+, tv_nsec=[0-9]+\}/SET/; s/ += /=/; s/  +/ /g')"
fi

exit $failed
