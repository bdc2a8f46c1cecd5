# SPDX-License-Identifier: ISC
# What the test scripts and bench/sntp share. Sourced.

# drop_time_cap "$0" "$@": re-runs the calling script without CAP_SYS_TIME,
# so nothing it starts can set this machine's clock; fails if the drop did
# not take.
drop_time_cap() {
    if (( 0x$(awk '/^CapEff/ {print $2}' /proc/self/status) >> 25 & 1 )); then
        [ -z "${TESTS_DROPPED:-}" ] || { echo "FAIL: CAP_SYS_TIME is still held"; exit 1; }
        TESTS_DROPPED=1 exec capsh --drop=cap_sys_time -- "$@"
    fi
}

# deadline_allowance: sets allowance_ms from the caller's run(), which
# leaves elapsed_ms. The time from start to exit of a run that does nothing
# (a usage error), the slowest of five, stands for what a deadline cannot
# cover: the program's start and exit and the script's measuring. With
# 20 ms for the scheduling of a loaded 2-core machine it is the allowance
# past the deadline.
deadline_allowance() {
    local i slowest=0
    for i in 1 2 3 4 5; do
        run
        ((elapsed_ms <= slowest)) || slowest=$elapsed_ms
    done
    allowance_ms=$((slowest + 20))
    echo "allowance past the deadline: $allowance_ms ms"
}

# again TRY CHECKS: whether a table row's run, TRY of two, goes once more:
# its CHECKS have "deadline MS" and it ran past that bound. Once past may be
# this machine's stall (a poll for 946 ms was seen to return after 1424 ms);
# twice is the program's.
again() {
    [[ $2 =~ deadline\ ([0-9]+) ]] && (($1 == 1 && elapsed_ms > BASH_REMATCH[1] + 100 + allowance_ms)) ||
        return 1
    echo "note: $name: ran $elapsed_ms ms; once more"
}

failed=0
check() { # NAME WANT GOT
    if [ "$2" == "$3" ]; then
        echo "ok   $1"
    else
        printf 'FAIL %s\n  want: %q\n  got:  %q\n' "$1" "$2" "$3"
        failed=1
    fi
}

ns_of() { # DECIMAL-SECONDS: as integer nanoseconds
    local v=${1#+} sign=1 int frac=000000000
    [ "${v:0:1}" != - ] || { sign=-1; v=${v#-}; }
    int=${v%%.*}
    [ "$v" == "$int" ] || frac=${v#*.}000000000
    echo $((sign * (10#$int * 1000000000 + 10#${frac:0:9})))
}

# record_ns FILE: the offset in nanoseconds of the one record FILE holds,
# or "not a record: ..." with what it holds instead.
record_ns() {
    local size b sec ns
    size=$(wc -c < "$1")
    read -r -a b <<< "$(od -An -tu1 -v "$1" | tr '\n' ' ')"
    if [ "$size" != 16 ] || [ "${b[*]:0:4} ${b[*]:12:4}" != "0 0 0 0 0 0 0 0" ]; then
        echo "not a record: $size bytes: ${b[*]}"
        return
    fi
    sec=$((b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7]))
    ns=$((b[8] << 24 | b[9] << 16 | b[10] << 8 | b[11]))
    (( sec < 2147483648 )) || sec=$((sec - 4294967296))
    (( ns < 1000000000 )) || { echo "not a record: $ns ns"; return; }
    echo $((sec * 1000000000 + ns))
}
