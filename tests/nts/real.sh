#!/bin/bash
# SPDX-License-Identifier: ISC
# varnel-nts against real NTS servers that nobody here wrote, each serving a
# clock shifted by a known offset (tests/sntp/servers.sh): chronyd at
# +3.25 s, at -0.375 s over IPv6, and ntpsec's ntpd at -2.75 s on its
# default ports; each measured offset must match its shift within 5 ms.
# Then an attacker on the path (mitm.py) between the client and a chronyd
# that names 127.0.0.2 as its NTP server: every altered reply must be
# refused. Then the floor: with the clock below it, certificates are judged
# by the time the server tells, which must itself be past the floor.
#
# The tolerance, from 20 runs of each row that ends in a record on a 2-core
# virtual machine: the error stayed within -29..+2 us for the host build
# (0..+1 us at 1970), within -129..+20 us for the static mipsel builds
# (uClibc-ng, musl) under qemu-user, and within -519..+1743 us through the
# attacker, which relays each datagram in Python. 5 ms leaves room for such
# outliers, or half the least delay where a row's -v tells it; a wrong
# sign, a lost fraction or a misread era is off by far more. Under qemu-user no kernel receive stamp reaches the client, so
# emulated code reads T4, late by up to 30 ms when the reply comes during
# another address's key exchange: the row of two addresses takes two
# samples of each (-c 2), and the lower delay counts.
#
# The script re-runs itself without CAP_SYS_TIME and in a network namespace
# of its own, where the whole of 127.0.0.0/8 is its loopback and no server
# left over by another test can share a port. The rows at 1970 run the
# client under libfaketime, which a static build ignores: they are skipped
# under an EMULATOR; the rows with a floor ahead of the clock stand in.
#
# usage: real.sh VARNEL-NTS SHIFTRECV WORKDIR [EMULATOR]
# (REAL_RUNS in the environment: runs of each row that ends in a record,
# default 2, each error printed to measure the spread; NTS_ONLY, a regular
# expression, runs only the rows it matches.)
set -u
here=$(dirname "$0")
. "$here/../common.sh"
drop_time_cap "$0" "$@"
. "$here/../sntp/servers.sh"
# ntpsec is fetched, if need be, while the network is still there.
srv_init "$3" "$2"
[ -n "${NTS_NETNS:-}" ] ||
    NTS_NETNS=1 exec unshare --net -- bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
nts=("$1")
[ -z "${4:-}" ] || nts=("$4" "$1")
srv_init "$3" "$2"
proxy=""
stop_proxy() {
    [ -z "$proxy" ] || { kill "$proxy"; wait "$proxy" 2> /dev/null; proxy=""; }
}
trap 'stop_proxy; srv_stop' EXIT
tolerance_ns=5000000
runs=${REAL_RUNS:-2}
export ASAN_OPTIONS=verify_asan_link_order=0
c=$srv_dir/certs
bash "$here/certs.sh" "$c" || { echo "FAIL: unable to make the certificates"; exit 1; }

day=86400
start() { # NAME SHIFT CERT [NTPSERVER]: chronyd with NTS, its ports in pNAME, kNAME
    local p k
    p=$(srv_port) k=$(srv_port)
    while [ "$k" == "$p" ]; do k=$(srv_port); done
    srv_chronyd_nts "$2" "$p" "$k" "$c/$3" "${4:-}"
    printf -v "p$1" %s "$p"
    printf -v "k$1" %s "$k"
    printf -v "$1" %s "$srv_pid"
}
start a +3.25 good
start b -0.375 good
start m +1.5 good 127.0.0.2
start e "" expired
start f "" future
start d10 +$((10 * day)).5 good
start d40 +$((40 * day)) good
srv_ntpd_nts -2.75 "$c/good"
ntpd=$srv_pid
srv_guard
floor() { date -d "+$1 days" +%F; }
# 1970-01-02, as the client's clock reads it.
back=$(( $(date +%s) - day ))

# The attacker, before each run: MODE on 127.0.0.2, in front of chronyd m.
mitm() {
    rm -f "$srv_dir/mitm.port" "$srv_dir/mitm.log"
    /usr/bin/python3 "$here/mitm.py" "$1" 127.0.0.2 "$pm" 127.0.0.1 "$pm" "$srv_dir/mitm.port" \
        "$srv_dir/mitm.log" 2> "$srv_dir/mitm.err" &
    proxy=$!
    for ((j = 0; j < 200; j++)); do [ -s "$srv_dir/mitm.port" ] && return; sleep 0.01; done
    echo "FAIL: mitm.py did not start: $(cat "$srv_dir/mitm.err")"
    exit 1
}
# More checks, named in the last column.
samples() { # N: good replies told under -v
    check "$name: samples told" "$1" "$(grep -c ': stratum ' "$srv_dir/err")"
}
asked() { # N: the attacker answered at least N requests
    local n
    n=$(wc -l < "$srv_dir/mitm.log")
    check "$name: at least $1 requests answered" yes "$( ((n >= $1)) && echo yes || echo "$n")"
}

# name | server's PID | how: "-", "mitm MODE" or "1970" | arguments |
# result: the offset, or the fatal line's text | more checks
# Refused replies leave the client waiting until its deadline: those rows
# run with -t 2.
nogood="fatal: no good reply:"
while IFS='|' read -r name pid how args want more; do
    name=$(echo $name) pid=$(echo $pid) how=$(echo $how) want=$(echo $want)
    [[ $name =~ ${NTS_ONLY:-.} ]] || continue
    wrap=()
    if [ "$how" == 1970 ]; then
        if [ -n "${4:-}" ]; then echo "skip $name: libfaketime cannot reach a static build"; continue; fi
        # shiftrecv moves the kernel's receive stamps back with the clock.
        wrap=(env LD_PRELOAD="$srv_shiftrecv:$srv_faketime" FAKETIME="-$back"
            FAKETIME_DONT_FAKE_MONOTONIC=1)
    fi
    n=$runs
    [[ $want == fatal:* ]] && n=1
    errors=""
    for ((i = 0; i < n; i++)); do
        [[ $how != mitm* ]] || mitm "${how#mitm }"
        # shellcheck disable=SC2086
        srv_in "$pid" "${wrap[@]}" "${nts[@]}" -C "$c/ca.crt" $args > "$srv_dir/out" 2> "$srv_dir/err"
        status=$?
        stop_proxy
        got=$(record_ns "$srv_dir/out") err=$(cat "$srv_dir/err")
        if [[ $want == fatal:* ]]; then
            check "$name" "$(printf 'status 111\nvarnel-nts: %s\n0 bytes' "$want")" \
                "$(printf 'status %s\n%s\n%s bytes' "$status" "$err" "$(wc -c < "$srv_dir/out")")"
            break
        fi
        want_ns=$(ns_of "$want")
        [ "$how" != 1970 ] || want_ns=$((want_ns + back * 1000000000))
        tol=$tolerance_ns
        if [[ $args == *-v* ]]; then
            # An offset is known to half its sample's delay, and -v tells
            # the delays: where the least is long, the tolerance is half of
            # it. A loaded machine's emulator once read T4 14 ms late.
            d=$(sed -n 's/.* delay \([0-9.]*\)$/\1/p' "$srv_dir/err" | sort -n | head -1)
            [ -z "$d" ] || d=$(( $(ns_of "$d") / 2 + 1000000 ))
            (( ${d:-0} > tol )) && tol=$d
            err=""
        fi
        if [[ $status == 0 && -z $err && $got =~ ^-?[0-9]+$ ]] &&
            (( got - want_ns <= tol && want_ns - got <= tol )); then
            errors+=" $(( (got - want_ns) / 1000 ))"
        else
            check "$name" "status 0, within $((tol / 1000)) us of $want s" "status $status, $got, $err"
            errors=""
            break
        fi
    done
    [ -z "$errors" ] || echo "ok   $name (error, us:$errors)"
    IFS=';' read -r -a more <<< "$more"
    for m in "${more[@]}"; do
        # shellcheck disable=SC2086
        [ -z "${m// /}" ] || eval $m
    done
done <<CASES
chronyd, IPv4 | $a | - | 127.0.0.1:$ka | +3.25
chronyd, by name | $a | - | localhost:$ka | +3.25
chronyd, IPv6, negative | $b | - | [::1]:$kb | -0.375
ntpd, ports by default | $ntpd | - | 127.0.0.1 | -2.75
ntpd, IPv6 | $ntpd | - | [::1] | -2.75
ntpd over both families at once | $ntpd | - | -c 2 [::1] 127.0.0.1 | -2.75
through the attacker, untouched | $m | mitm pass | 127.0.0.1:$km | +1.5
timestamps shifted | $m | mitm shift=-1000 | -t 2 127.0.0.1:$km | $nogood 127.0.0.2:$pm: not authenticated
extension fields stripped | $m | mitm strip | -t 2 127.0.0.1:$km | $nogood 127.0.0.2:$pm: not authenticated
authenticator cut off | $m | mitm unauth | -t 2 127.0.0.1:$km | $nogood 127.0.0.2:$pm: not authenticated
forged NAK | $m | mitm nak | -t 2 127.0.0.1:$km | $nogood 127.0.0.2:$pm: not authenticated
cookie altered: a real NAK | $m | mitm cookie | -t 2 127.0.0.1:$km | $nogood 127.0.0.2:$pm: NTS NAK
forged NAK ahead of the reply | $m | mitm nakfirst | -c 1 127.0.0.1:$km | +1.5
the first reply again is not a second | $m | mitm replay | -v -c 2 -t 4 127.0.0.1:$km | +1.5 | samples 1; asked 2
floor ahead, the server past it | $d10 | - | -f $(floor 5) 127.0.0.1:$kd10 | +$((10 * day)).5
floor ahead of the server | $d10 | - | -t 2 -f $(floor 20) 127.0.0.1:$kd10 | $nogood 127.0.0.1:$pd10: below the floor
floor ahead, the server past its certificate | $d40 | - | -t 2 -f $(floor 35) 127.0.0.1:$kd40 | $nogood 127.0.0.1:$pd40: outside its certificates' validity
at 1970 | $a | 1970 | 127.0.0.1:$ka | +3.25
at 1970, an expired certificate | $e | 1970 | -t 2 127.0.0.1:$ke | $nogood 127.0.0.1:$pe: outside its certificates' validity
at 1970, a certificate not yet valid | $f | 1970 | -t 2 127.0.0.1:$kf | $nogood 127.0.0.1:$pf: outside its certificates' validity
CASES

exit $failed
