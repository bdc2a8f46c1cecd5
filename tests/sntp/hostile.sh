#!/bin/bash
# SPDX-License-Identifier: ISC
# varnel-sntp against the tests' own server (fakentp), which answers as a
# script says: every reply the client must refuse, forged and flooded
# replies, kisses of death, silence, and several servers that disagree.
# Each case checks the exit status, the one line on standard error, and
# standard output: empty, or exactly one record with bytes 0..3 and 12..15
# zero and the served shift as its offset, within 5 ms: measured on
# loopback, the error was -2..+90 us (host and qemu-user builds; fakentp
# stamps T2 after its read, not in the kernel), and a lost fraction, a wrong
# sign or a believed duplicate is off by far more.
# usage: hostile.sh VARNEL-SNTP FAKENTP [EMULATOR]
# (EMULATOR, such as qemu-mipsel-static, runs a cross-built VARNEL-SNTP
# and FAKENTP; FAKECLOCK in the environment, the host build's
# tests/fakeclock.c, adds a run on a kernel whose random pool is never
# seeded. HOSTILE_ONLY, a regular expression, runs only the table rows it
# matches.)
#
# The script re-runs itself without CAP_SYS_TIME, so nothing it starts can
# set this machine's clock, and in mount and network namespaces of its own,
# whose resolv.conf names the tests' own DNS server (fakedns.py, on 127.0.0.153),
# which gives names several addresses. All traffic stays on its loopback:
# 127.0.0.0/8 and ::1.
set -u
here=$(dirname "$0")
. "$here/../common.sh"
drop_time_cap "$0" "$@"
[ -n "${HOSTILE_NS:-}" ] ||
    HOSTILE_NS=1 exec unshare --mount --net -- bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
sntp=("$1") fake=("$2")
[ -z "${3:-}" ] || sntp=("$3" "$1") fake=("$3" "$2")
tmp=$(mktemp -d)
pids=()
stop_servers() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2> /dev/null; wait "$p" 2> /dev/null; done
    pids=()
}
trap 'stop_servers; kill $dns 2> /dev/null; wait $dns 2> /dev/null; rm -rf "$tmp"' EXIT
export ASAN_OPTIONS=verify_asan_link_order=0
tolerance_ns=5000000
first_port="" first_nonce=""
printf '127.0.0.1 localhost\n::1 localhost\n' > "$tmp/hosts"
printf 'nameserver 127.0.0.153\noptions timeout:1 attempts:2\n' > "$tmp/resolv.conf"
mount --bind "$tmp/hosts" /etc/hosts && mount --bind "$tmp/resolv.conf" /etc/resolv.conf ||
    { echo "FAIL: unable to mount a private /etc/hosts and /etc/resolv.conf"; exit 1; }
many=$(seq -s, -f 127.0.0.%g 2 19)
"$here/fakedns.py" 127.0.0.153 "$tmp/dns" liar.test=127.0.0.2,::1 many.test=$many \
    pool.test=127.0.0.2,127.0.0.3,127.0.0.4,127.0.0.5,127.0.0.6 &
dns=$!
for ((i = 0; i < 200; i++)); do [ -s "$tmp/dns" ] && break; sleep 0.01; done
[ -s "$tmp/dns" ] || { echo "FAIL: fakedns did not start"; exit 1; }

# start SERVER...: one fakentp per "WHERE SHIFT [OPTION...] SCRIPT"; fills
# addrs, ports and logs, in order. WHERE is 4 (127.0.0.1), 6 (::1) or a
# loopback address, with "=N" for the port of the Nth server (else a free
# one). In the options, @now+N and @now-N are Unix seconds from now.
start() {
    local server fam shift_ script i port at
    addrs=() ports=() logs=()
    for server in "$@"; do
        read -r fam shift_ script <<< "$server"
        while [[ $script =~ @now([-+][0-9]+) ]]; do
            script=${script/"${BASH_REMATCH[0]}"/$(($(date +%s) ${BASH_REMATCH[1]}))}
        done
        i=${#logs[@]} port=0
        if [[ $fam == *=* ]]; then port=${ports[${fam#*=} - 1]} fam=${fam%%=*}; fi
        case $fam in 4) at=(-4) ;; 6) at=(-6) ;; *) at=(-a "$fam") ;; esac
        : > "$tmp/port$i"
        # shellcheck disable=SC2086
        "${fake[@]}" "${at[@]}" -p "$port" -s "$shift_" -l "$tmp/log$i" $script > "$tmp/port$i" &
        pids+=($!)
        for ((port = 0; port < 200; port++)); do
            [ -s "$tmp/port$i" ] && break
            sleep 0.01
        done
        port=$(cat "$tmp/port$i")
        [ -n "$port" ] || { echo "FAIL: fakentp did not start: $server"; exit 1; }
        case $fam in 4) fam=127.0.0.1 ;; 6) fam=::1 ;; esac
        if [[ $fam == *:* ]]; then addrs+=("[$fam]:$port"); else addrs+=("$fam:$port"); fi
        ports+=("$port") logs+=("$tmp/log$i")
    done
}

# run ARGS...: the client, timed; leaves status, out, err and elapsed_ms.
run() {
    local t0=$EPOCHREALTIME t1
    "${wrap[@]}" "${sntp[@]}" "$@" > "$tmp/out" 2> "$tmp/err"
    status=$?
    t1=$EPOCHREALTIME
    elapsed_ms=$(( (${t1/./} - ${t0/./}) / 1000 ))
    err=$(cat "$tmp/err")
}

# stdout_is OFFSET: "empty", "record ok" when standard output is one record
# of that offset, or what it is instead.
stdout_is() {
    local got want
    [ -s "$tmp/out" ] || { echo empty; return; }
    got=$(record_ns "$tmp/out")
    [[ $got == -* || $got == [0-9]* ]] || { echo "$got"; return; }
    want=$(ns_of "$1")
    if (( got - want <= tolerance_ns && want - got <= tolerance_ns )); then
        echo "record ok"
    else
        echo "a record of $got ns"
    fi
}

# The case table. Columns, split at " | ":
#   name | servers (";"-separated "WHERE SHIFT SCRIPT") | options (the
#   servers' addresses follow, unless the options name them: @N the Nth
#   address, @pN its port; "ignoring=SIG" first runs the client with that
#   signal ignored) |
#   status | standard error (@1, @2: the servers' addresses; a leading ~
#   makes it a regular expression) | offset ("-": no record) | more checks
# Refused replies are dropped and the client waits for a good one until its
# deadline; so cases that end in a refusal run with -t 1. A run that goes
# to its deadline may end at most 0.1 s past it plus an allowance measured
# below (about 30 ms on the host).
usage="varnel-sntp: usage: varnel-sntp [-knv] [-t seconds] [-c count] [-m seconds] [-d seconds] [-f date] [-i seconds] [-I seconds] [-p pool]... [server...]"
nogood="varnel-sntp: fatal: no good reply: @1:"
cases=$(cat <<'CASES'
good, IPv4, two replies 2 s apart | 4 +2.5 good | -c 2 -t 3 | 0 | | +2.5 | queries 2; requests; spacing
good, IPv6 | 6 -0.25 good | -c 1 | 0 | | -0.25 | queries 1
sub-microsecond fraction | 4 +0.0000007 good | | 0 | | +0.0000007 |
near the top of the record's range | 4 +2147483647.5 good | -c 1 | 0 | | +2147483647.5 |
near the bottom of the record's range: below the floor | 4 -2147483647.5 good | -c 1 -t 1 | 111 | NOGOOD below the floor | - |
far back, above the floor given | 4 -1700000000.5 good | -f 1970-01-01 | 0 | | -1700000000.5 |
short packet | 4 +2.5 short | -c 2 -t 1 | 111 | NOGOOD short packet | - |
mode 3 | 4 +2.5 mode3 | -c 2 -t 1 | 111 | NOGOOD not a server reply | - |
version 0 | 4 +2.5 version0 | -c 2 -t 1 | 111 | NOGOOD bad version | - |
version 5 | 4 +2.5 version5 | -c 2 -t 1 | 111 | NOGOOD bad version | - |
version 5 over IPv6 | 6 +2.5 version5 | -c 2 -t 1 | 111 | NOGOOD bad version | - |
bad origin | 4 +2.5 badorigin | -c 2 -t 1 | 111 | NOGOOD bad origin | - |
zero origin | 4 +2.5 zeroorigin | -c 2 -t 1 | 111 | NOGOOD bad origin | - |
zero receive timestamp | 4 +2.5 zerorecv | -c 2 -t 1 | 111 | NOGOOD zero timestamp | - |
zero transmit timestamp | 4 +2.5 zeroxmt | -c 2 -t 1 | 111 | NOGOOD zero timestamp | - |
leap indicator 3 | 4 +2.5 li3 | -c 2 -t 1 | 111 | NOGOOD unsynchronised | - |
stratum 16 | 4 +2.5 stratum16 | -c 2 -t 1 | 111 | NOGOOD bad stratum | - |
root dispersion 2 s | 4 +2.5 rootdist | -c 2 -t 1 | 111 | NOGOOD root distance too large | - |
transmit 1 s before receive | 4 +2.5 reversed | -c 2 -t 1 | 111 | NOGOOD transmit before receive | - |
server held it 1 s longer than the trip | 4 +2.5 negdelay | -c 2 -t 1 | 111 | NOGOOD negative delay | - |
reply 3.5 s late | 4 +2.5 slow | -c 1 -t 4.5 | 111 | NOGOOD delay too large | - |
kiss-o'-death RATE, always | 4 +2.5 kod-RATE | -c 2 -t 1 | 111 | NOGOOD kiss-o'-death RATE | - |
kiss-o'-death of another code | 4 +2.5 kod-INIT | -c 2 -t 1 | 111 | NOGOOD kiss-o'-death INIT | - |
kiss-o'-death, code not printable | 4 +2.5 kod-binary | -c 2 -t 1 | 111 | NOGOOD kiss-o'-death | - |
DENY ends the run early | 4 +2.5 kod-DENY | -c 4 -t 5 | 111 | NOGOOD kiss-o'-death DENY | - | queries 1; within 1000
RSTR ends the run early | 4 +2.5 kod-RSTR | -c 4 -t 5 | 111 | NOGOOD kiss-o'-death RSTR | - | queries 1; within 1000
DENY ends the use of that server only | 4 +9 kod-DENY; 6 +2.5 good | -c 1 | 0 | | +2.5 | queries 1 1
forged DENY ahead of the good reply | 4 +2.5 kod-DENY-badorigin | -c 1 | 0 | | +2.5 | queries 1
1000 forged replies ahead of the good one | 4 +2.5 flood | -c 1 | 0 | | +2.5 | queries 1
a flood under -v: a few lines, not a thousand | 4 +2.5 flood | -v | 0 | ~@1: more refusals not shown | +2.5 | lines 11
replies from another port, never accepted | 4 +2.5 wrongport | -c 2 -t 1 | 111 | varnel-sntp: fatal: no reply before the deadline | - |
a copy of a reply is not a second reply | 4 +2.5 dup | -c 2 -t 3 | 0 | | +2.5 | queries 2
of two replies, the lower delay counts | 4 +2.5 late,good | -c 2 -t 3 | 0 | | +2.5 | queries 2
refused, then good | 4 +2.5 li3,good | -c 1 | 0 | | +2.5 | queries 2; spacing
RATE ends the asking; the reply in hand stands | 4 +2.5 good,kod-RATE,good | -c 3 -t 7 | 0 | | +2.5 | queries 2; within 2500
a server that drops requests less than 2 s apart | 4 +2.5 guard | -c 2 -t 3 | 0 | | +2.5 | queries 2; spacing
a server that answers those with RATE | 4 +2.5 guardkod | -c 2 -t 3 | 0 | | +2.5 | queries 2; spacing
silence until the deadline | 4 +2.5 silent | -c 2 -t 1.5 | 111 | varnel-sntp: fatal: no reply before the deadline | - | deadline 1500
silence on IPv6 | 6 +2.5 silent | -t 0.5 | 111 | varnel-sntp: fatal: no reply before the deadline | - | deadline 500
silence: the spacing doubles | 4 +2.5 silent | -t 6.5 | 111 | varnel-sntp: fatal: no reply before the deadline | - | queries 3
the last refusal is named | 4 +2.5 silent; 6 +2.5 badorigin | -c 2 -t 1 | 111 | varnel-sntp: fatal: no good reply: @2: bad origin | - |
a falseticker is outvoted | 4 +40 good; 4 +2.5 good; 6 +2.5003 good | | 0 | | +2.50015 |
two servers that disagree | 4 +2.5 good; 4 +40 good | | 111 | varnel-sntp: fatal: servers disagree: no majority | - |
three servers that disagree | 4 +2.5 good; 4 +40 good; 4 -30 good | | 111 | varnel-sntp: fatal: servers disagree: no majority | - |
a name with two addresses votes once | 127.0.0.2 +40 good; 6=1 +40 good; 4 +2.5 good; 6 +2.5 good | liar.test:@p1 @3 @4 | 0 | | +2.5 | queries 1 1 1 1
a name of 18 addresses takes its share, no more | 127.0.0.2 +40 good; 4 +2.5 good; 6 +2.5 good | -v many.test:@p1 @2 @3 | 0 | ~: ignored: beyond its name | +2.5 |
one server in two forms is asked once | 4 +40 good; 4 +2.5 good; 6 +2.5 good | @1 [::ffff:127.0.0.1]:@p1 @2 @3 | 0 | | +2.5 | queries 1 1 1
a pool brings four voters | 127.0.0.2 +2.5 good; 127.0.0.3=1 +2.5 good; 127.0.0.4=1 +2.5 good; 127.0.0.5=1 +2.5 good; 127.0.0.6=1 +2.5 good | -n -p pool.test:@p1 | 0 | | text | asked 4; says the median of 4 servers
a name under an ignored SIGCHLD | 4 +2.5 good | ignoring=CHLD localhost:@p1 | 0 | | +2.5 |
within the cap | 4 +2.5 good | -c 1 -m 3 | 0 | | +2.5 |
beyond the cap | 4 +2.5 good | -c 1 -m 2 | 111 | ~^varnel-sntp: fatal: offset beyond the cap: \+2\.[45][09][0-9]{7}$ | - |
beyond the cap, negative | 4 -2.5 good | -c 1 -m 0.5 | 111 | ~^varnel-sntp: fatal: offset beyond the cap: -2\.[45][09][0-9]{7}$ | - |
-n: no record, the reply lines | 4 +2.5 good | -n -c 1 | 0 | | text | says @1
-n: the refusal named | 6 +2.5 li3 | -n -c 1 -t 0.5 | 111 | NOGOOD unsynchronised | text | says @1: refused: unsynchronised
-v: the refusal on standard error | 4 +2.5 badorigin,good | -v -c 1 | 0 | ~@1: refused: bad origin | +2.5 |
the test server at +12.5 ppm, anchored 160000 s back | 4 +0.5 -r 12.5 -A @now-160000 good | -c 1 | 0 | | +2.5 |
the test server at -50 ppm, anchored 10000 s back | 4 +3 -r -50 -A @now-10000 good | -c 1 | 0 | | +2.5 |
the test server's return path up to 60 ms longer | 4 +2.5 -j 0,60 -S 3 good | -n -c 3 -t 8 | 0 | | text | path -30 0
the test server's way in up to 60 ms longer | 6 +2.5 -j 60,0 -S 3 good | -n -c 3 -t 8 | 0 | | text | path 0 30
the test server loses half the requests | 4 +2.5 -L 50 -S 4 good | -c 2 -t 8 | 0 | | +2.5 | lost
CASES
)

# More checks, named in the table's last column.
queries() { # COUNT...: requests each server got
    local i got="" want=""
    for ((i = 1; i <= $#; i++)); do
        want+="${!i} "
        got+="$(wc -l < "${logs[i - 1]}") "
    done
    check "$name: requests per server" "$want" "$got"
}
within() { # MS: ended this soon
    check "$name: ended within $1 ms" yes "$( ((elapsed_ms <= $1)) && echo yes || echo "no, $elapsed_ms ms")"
}
deadline() { # MS: ran to the deadline, and at most 0.1 s and the allowance past it
    local max=$(($1 + 100 + allowance_ms))
    check "$name: ran $1 to $max ms" yes \
        "$( ((elapsed_ms >= $1 && elapsed_ms <= max)) && echo yes || echo "no, $elapsed_ms ms")"
}
spacing() { # no two requests to a server less than 2 s apart, as it saw them
    local t gaps="" i
    mapfile -t t < <(awk '{print $1}' "${logs[0]}")
    for ((i = 1; i < ${#t[@]}; i++)); do gaps+=" $(( (t[i] - t[i - 1]) / 1000000 ))"; done
    check "$name: spacing at least 1990 ms" "" "$(tr ' ' '\n' <<< "$gaps" | awk '$1 != "" && $1 < 1990')"
}
lines() { # MAX: standard error has at most this many lines
    check "$name: at most $1 lines" yes "$( (($(wc -l < "$tmp/err") <= $1)) && echo yes || wc -l < "$tmp/err")"
}
asked() { # N: this many of the servers got requests
    local log n=0
    for log in "${logs[@]}"; do [ ! -s "$log" ] || n=$((n + 1)); done
    check "$name: servers asked" "$1" "$n"
}
requests() { # 48 bytes, version 4, mode 3, one source port, fresh nonzero nonces
    local now t len mode nonce port bad="" n=0 near=0
    local -A seen=() ports=()
    now=$(( $(date +%s) + 2208988800 & 0xffffffff ))
    while read -r t len mode nonce port _; do
        n=$((n + 1))
        (( len == 48 && (0x$mode & 63) == 0x23 )) || bad+=" length $len, first byte $mode;"
        [[ -z ${seen[$nonce]:-} && $nonce != 0000000000000000 ]] || bad+=" nonce $nonce again;"
        seen[$nonce]=1 ports[$port]=1
        # Kept here: the read that ends the loop empties the variables.
        first_port=$port first_nonce=$nonce
        (( 0x${nonce:0:8} < now - 86400 || 0x${nonce:0:8} > now + 86400 )) || near=$((near + 1))
    done < "${logs[0]}"
    (( ${#ports[@]} == 1 )) || bad+=" ${#ports[@]} source ports;"
    (( near < n )) || bad+=" every transmit timestamp reads the clock;"
    check "$name: requests well formed" "" "$bad"
}
path() { # LOW HIGH: each reply LOW to HIGH ms off the shift, give or take
    # half the allowance (a stall on one side of a loaded machine's loopback
    # moves it by half too: 18 ms moved one by 9), and one off by more than a
    # tenth of that: a delay the test server adds on one side moves it by half
    local v slack=$(( (1 + allowance_ms / 2) * 1000000 )) bad="" far="" low high
    low=$(( $1 * 1000000 - slack )) high=$(( $2 * 1000000 + slack ))
    for v in $(sed -n 's/.* offset \([-+0-9.]*\) delay.*/\1/p' "$tmp/out"); do
        v=$(( $(ns_of "$v") - 2500000000 ))
        (( v >= low && v <= high )) || bad+=" $v"
        (( v * 10 < $1 * 1000000 || v * 10 > $2 * 1000000 )) && far=yes
    done
    check "$name: every reply $1 to $2 ms off, one by more than a tenth" "yes" "${far:-no}${bad:+, not:$bad}"
}
lost() { # the test server's log has requests lost and requests answered
    check "$name: requests lost and answered" "yes yes" \
        "$(grep -q 'lost$' "${logs[0]}" && echo yes) $(grep -q 'good$' "${logs[0]}" && echo yes)"
}
says() { # TEXT: standard output has a line with it (@1: the first address)
    local text=$*
    text=${text//@1/${addrs[0]}}
    check "$name: standard output says '$text'" yes "$(grep -qF -- "$text" "$tmp/out" && echo yes || cat "$tmp/out")"
}

deadline_allowance

wrap=()
while IFS='|' read -r name servers options want_status want_err offset more; do
    name=$(echo $name) want_status=$(echo $want_status)
    [[ $name =~ ${HOSTILE_ONLY:-.} ]] || continue
    IFS=';' read -r -a specs <<< "$servers"
    template=$options
    for try in 1 2; do
        start "${specs[@]}"
        options=$template wrap=()
        if [[ $options == " ignoring="* ]]; then
            read -r w options <<< "$options"
            wrap=(env --ignore-signal="${w#ignoring=}")
        fi
        if [[ $options == *@* ]]; then
            for ((i = ${#addrs[@]}; i >= 1; i--)); do
                options=${options//@p$i/${ports[i - 1]}}
                options=${options//@$i/${addrs[i - 1]}}
            done
            # shellcheck disable=SC2086
            run $options
        else
            # shellcheck disable=SC2086
            run $options "${addrs[@]}"
        fi
        wrap=()
        stop_servers
        again "$try" "$more" || break
    done
    want_err=$(echo $want_err)
    want_err=${want_err/NOGOOD/$nogood}
    want_err=${want_err//@1/${addrs[0]}}
    want_err=${want_err//@2/${addrs[1]:-}}
    if [ "${want_err:0:1}" == "~" ]; then
        [[ $err =~ ${want_err:1} ]] && err=$want_err
    fi
    offset=$(echo $offset)
    case $offset in
    -) want_out=empty got_out=$(stdout_is 0) ;;
    text) # -n: lines of text, no record
        want_out=text got_out="not text: $(od -An -c "$tmp/out" | head -3)"
        [ -s "$tmp/out" ] && [ -z "$(tr -d '[:print:]\n' < "$tmp/out")" ] && got_out=text ;;
    *) want_out="record ok" got_out=$(stdout_is "$offset") ;;
    esac
    check "$name" "$(printf 'status %s\n%s\n%s' "$want_status" "$want_err" "$want_out")" \
        "$(printf 'status %s\n%s\n%s' "$status" "$err" "$got_out")"
    IFS=';' read -r -a more <<< "$more"
    for m in "${more[@]}"; do
        # shellcheck disable=SC2086
        [ -z "${m// /}" ] || eval $m
    done
done <<< "$cases"

# A fresh source port and a fresh nonce per run.
start "4 +2.5 good"
run -c 1 "${addrs[0]}"
stop_servers
check "a fresh source port per run" yes \
    "$([ "$(awk '{print $5}' "${logs[0]}")" != "$first_port" ] && echo yes || echo "no, $first_port again")"
check "a fresh nonce per run" yes \
    "$([ "$(awk '{print $4}' "${logs[0]}")" != "$first_nonce" ] && echo yes || echo "no, $first_nonce again")"

# A reader that stops reading cannot hold the run past its deadline: the
# pipe is filled to the brim first (64 KiB), then the client writes its
# lines (-v, standard error) or its result (-n, standard output) into it.
start "4 +2.5 flood"
t0=$EPOCHREALTIME
{ head -c 65536 /dev/zero >&2; timeout 5 "${sntp[@]}" -v -t 1 "${addrs[0]}" > "$tmp/out"; } 2> >(sleep 6 > /dev/null)
status=$? t1=$EPOCHREALTIME elapsed_ms=$(( (${t1/./} - ${t0/./}) / 1000 ))
name="-v, standard error stalled"
check "$name: status, standard output" "0 record ok" "$status $(stdout_is +2.5)"
within 1000
t0=$EPOCHREALTIME
{ head -c 65536 /dev/zero; timeout 5 "${sntp[@]}" -n -t 1 "${addrs[0]}" 2> "$tmp/err"; } > >(sleep 6 > /dev/null)
t1=$EPOCHREALTIME elapsed_ms=$(( (${t1/./} - ${t0/./}) / 1000 ))
stop_servers
name="-n, standard output stalled"
check "$name: line" "varnel-sntp: fatal: unable to write: timed out" "$(cat "$tmp/err")"
deadline 1000

# A failed write of a -v line must not turn a passing ICMP error into a
# reason to give up the server: standard error is a pipe whose reader is
# gone, the first request finds no server (connection refused), and the
# second, 2 s later, finds one.
start "4 +2.5 good"
stop_servers
exec 4> >(exit 0)
sleep 0.2
"${sntp[@]}" -v -t 4 "${addrs[0]}" > "$tmp/out" 2>&4 &
client=$!
exec 4>&-
sleep 0.5
"${fake[@]}" -4 -p "${ports[0]}" -s +2.5 good > /dev/null &
pids+=($!)
wait $client
status=$?
stop_servers
check "-v into a closed pipe, a refused connection, then a server" "0 record ok" "$status $(stdout_is +2.5)"

# Randomness the kernel has not seeded is never used: with getrandom
# answering EAGAIN for good, the client waits for it until the deadline and
# sends nothing.
if [ -n "${FAKECLOCK:-}" ]; then
    start "4 +2.5 good"
    wrap=(env FAKECLOCK_UNSEEDED=1 LD_PRELOAD="$FAKECLOCK")
    run -t 1 "${addrs[0]}"
    wrap=()
    stop_servers
    name="an unseeded random pool"
    check "$name" "$(printf 'status 111\nvarnel-sntp: fatal: unable to get seeded random numbers: timed out\nempty')" \
        "$(printf 'status %s\n%s\n%s' "$status" "$err" "$(stdout_is 0)")"
    queries 0
    deadline 1000
fi

# The record in one write of 16 bytes.
start "4 +2.5 good"
strace -o "$tmp/trace" -e trace=write "${sntp[@]}" -c 1 "${addrs[0]}" > /dev/null 2> /dev/null
stop_servers
check "the record in one write" "write(1, 16)=16" \
    "$(sed -nE 's/^write\(1, .*, ([0-9]+)\) += ([0-9]+).*/write(1, \1)=\2/p' "$tmp/trace")"

# Never a record to a terminal: script(1) gives the run a terminal as
# standard output (and standard error, so the line shows there).
start "4 +2.5 good"
script -qec "$(printf '%q ' "${sntp[@]}" -c 1 "${addrs[0]}")" /dev/null > "$tmp/tty" 2>&1
status=$?
stop_servers
check "standard output a terminal" \
    "$(printf 'status 100\nvarnel-sntp: fatal: standard output is a terminal: pipe it into varnel, or use -n')" \
    "$(printf 'status %s\n%s' "$status" "$(tr -d '\r' < "$tmp/tty")")"

# Usage errors: status 100, nothing on standard output, and one line: the
# usage, or a fatal line that names the bad argument (the first column;
# empty where only the usage will do).
while IFS='|' read -r bad args; do
    bad=$(echo $bad) args=${args# }
    # shellcheck disable=SC2086
    run $args
    line=$err
    [[ $err == "$usage" || ( -n $bad && $err == "varnel-sntp: fatal: "*"$bad"* && $err != *$'\n'* ) ]] && line=ok
    check "usage: ${args:-no arguments}" "$(printf 'status 100\nout 0\nok')" \
        "$(printf 'status %s\nout %s\n%s' "$status" "$(wc -c < "$tmp/out")" "$line")"
done <<'USAGE'
 |
 | -c 2
q | -q 127.0.0.1
 | -t
0 | -c 0 127.0.0.1
9 | -c 9 127.0.0.1
x | -c x 127.0.0.1
0.05 | -t 0.05 127.0.0.1
61 | -t 61 127.0.0.1
3601 | -d 3601 127.0.0.1
2026-02-30 | -f 2026-02-30 127.0.0.1
127.1 | 127.1
 | -p
1e1 | -t 1e1 127.0.0.1
abc | -m abc 127.0.0.1
65536 | 127.0.0.1:65536
[::1 | [::1
127.0.0.1:x | 127.0.0.1:x
USAGE

# A name whose resolver never answers: the deadline holds all the same. In
# network and mount namespaces of its own, resolv.conf names 127.0.0.1,
# where a fakentp on port 53 takes the queries and says nothing.
printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:5\n' > "$tmp/resolv.conf"
got=$(TMP=$tmp SNTP="${sntp[*]}" FAKE="${fake[*]}" unshare --net --mount -- bash -c '
    ip link set lo up && mount --bind "$TMP/resolv.conf" /etc/resolv.conf || exit 1
    $FAKE -4 -p 53 silent > /dev/null &
    f=$!
    sleep 0.3
    t0=$EPOCHREALTIME
    $SNTP -t 1 ntp.invalid.example > "$TMP/out" 2> "$TMP/err"
    s=$? t1=$EPOCHREALTIME
    # Killed while its resolver waits, under an ignored SIGALRM: the pipe
    # it writes into must close with it, not when the resolver gives up.
    t2=$EPOCHREALTIME
    { env --ignore-signal=ALRM $SNTP -t 5 ntp.invalid.example 2> /dev/null & p=$!
      sleep 0.5; kill -9 $p; } | timeout 4 cat > /dev/null
    t3=$EPOCHREALTIME
    kill $f
    wait $f
    echo "$s $(( (${t1/./} - ${t0/./}) / 1000 )) $(( (${t3/./} - ${t2/./}) / 1000 ))"')
read -r status elapsed_ms killed_ms <<< "$got"
name="resolver silent"
check "$name: status, standard output, line" \
    "$(printf '111 0\nvarnel-sntp: fatal: unable to resolve ntp.invalid.example: timed out')" \
    "$(printf '%s %s\n%s' "$status" "$(wc -c < "$tmp/out")" "$(cat "$tmp/err")")"
deadline 1000
check "killed while resolving: the pipe closed at once" yes \
    "$( ((killed_ms < 1500)) && echo yes || echo "no, after $killed_ms ms")"

exit $failed
