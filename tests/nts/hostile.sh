#!/bin/bash
# SPDX-License-Identifier: ISC
# varnel-nts against the tests' own NTS-KE server (fakeke.py), which
# answers as a script says: every key exchange the client must refuse,
# servers that stall, and the certificates it must not trust. Each case
# checks the exit status, the one line on standard error and an empty
# standard output. fakeke cannot make a session's keys, so no run gets
# time from it: a key exchange the client accepts is seen by the requests
# it then sends to the NTP port the reply named (each with a fresh
# identifier, one of the cookies given, not used before, and the
# authenticator last), and that run fails at NTP.
# usage: hostile.sh VARNEL-NTS [EMULATOR]
# (EMULATOR, such as qemu-mipsel-static, runs a cross-built VARNEL-NTS;
# fakeke always runs on this machine. HOSTILE_ONLY, a regular expression,
# runs only the table rows it matches.)
#
# The script re-runs itself without CAP_SYS_TIME, so nothing it starts can
# set this machine's clock, and in mount and network namespaces of its own,
# whose /etc/hosts gives localhost the address 127.0.0.1 alone, where fakeke
# listens. All traffic stays on that namespace's loopback.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../common.sh"
drop_time_cap "$0" "$@"
[ -n "${HOSTILE_NS:-}" ] ||
    HOSTILE_NS=1 exec unshare --mount --net -- bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
nts=("$(realpath "$1")")
[ -z "${2:-}" ] || nts=("$2" "${nts[0]}")
tmp=$(mktemp -d)
fakeke=""
stop_server() {
    [ -z "$fakeke" ] || { kill "$fakeke" 2> /dev/null; wait "$fakeke" 2> /dev/null; }
    fakeke=""
}
trap 'stop_server; rm -rf "$tmp"' EXIT
export ASAN_OPTIONS=verify_asan_link_order=0
printf '127.0.0.1 localhost\n' > "$tmp/hosts"
printf 'nameserver 127.0.0.153\noptions timeout:1 attempts:1\n' > "$tmp/resolv.conf"
mount --bind "$tmp/hosts" /etc/hosts && mount --bind "$tmp/resolv.conf" /etc/resolv.conf ||
    { echo "FAIL: unable to mount a private /etc/hosts and /etc/resolv.conf"; exit 1; }
bash "$here/certs.sh" "$tmp/certs" || { echo "FAIL: no certificates"; exit 1; }

# start CERT SCRIPT [FAKEKE-OPTION...]: fakeke serving CERT.pem; sets addr
# and port, its NTS-KE address and port, and ntp, the NTP address it names.
start() {
    local cert=$1 script=$2 i
    shift 2
    rm -f "$tmp/port" "$tmp/log"
    /usr/bin/python3 "$here/fakeke.py" "$@" "$tmp/certs/$cert.pem" "$tmp/log" "$tmp/port" "$script" &
    fakeke=$!
    for ((i = 0; i < 300; i++)); do [ -s "$tmp/port" ] && break; sleep 0.01; done
    read -r port ntp < "$tmp/port"
    [ -n "$port" ] || { echo "FAIL: fakeke did not start: $cert $script $*"; exit 1; }
    addr=127.0.0.1:$port
    [[ " $* " != *" -6 "* ]] || addr="[::1]:$port"
}

# run ARGS...: the client, timed, in the certificates' directory, and
# killed if it outlives every deadline of the table by far; leaves status,
# err and elapsed_ms.
pre=()
run() {
    local t0=$EPOCHREALTIME t1
    (cd "$tmp/certs" && exec timeout -s KILL 10 "${pre[@]}" "${nts[@]}" "$@") > "$tmp/out" 2> "$tmp/err"
    status=$?
    t1=$EPOCHREALTIME
    elapsed_ms=$(( (${t1/./} - ${t0/./}) / 1000 ))
    err=$(cat "$tmp/err")
}

# The case table. Columns, split at " | ":
#   name | fakeke: certificate, script, options | client options (@: the
#   server's address, @p its port; else the address follows; -C ca.crt
#   unless another -C, or "bundle" for the system's CA bundle) |
#   standard error (KE: the line of a refused key exchange, up to its
#   reason; @n: the NTP address the reply named; @p: the server's port; \n
#   between lines) | more checks
# Every run must end with status 111 and standard output empty (no run gets
# time: see above), and a run without the check "ntp" must send no NTP
# request at all. A refusal must come at once, not at the deadline: runs
# without "deadline" end within half their -t.
# -f 2099-01-01 puts the clock below the floor, as if it were not yet set:
# then certificate dates wait for the server's time, and nothing else
# about a certificate is forgiven.
noreply="varnel-nts: fatal: no reply before the deadline"
stalled="varnel-nts: fatal: @: not ready to ask before the deadline"
cases=$(cat <<'CASES'
good reply, by address: no SNI, on to NTP | good good | -t 2.5 | NOREPLY | request; sni -; ntp 2; deadline 2500
good reply, by name: SNI | good good | -t 1 localhost:@p | NOREPLY | sni localhost; ntp 1; deadline 1000
good reply, over IPv6 | good good -6 | -t 1 | NOREPLY | sni -; ntp 1; deadline 1000
record 6 names another address | good good -n 127.0.0.2 | -t 1 | NOREPLY | ntp 1; deadline 1000
an unknown record, not critical, is ignored | good unknown | -t 1 | NOREPLY | ntp 1; deadline 1000
an NTP reply that does not verify | good good -r forged | -t 1 | varnel-nts: fatal: no good reply: @n: not authenticated | ntp 1; deadline 1000
a NAK ends the run | good good -r nak | -t 2 | varnel-nts: fatal: no good reply: @n: NTS NAK | ntp 1
a certificate from another root | other good | -t 2 | KE certificate from an unknown CA | ke 0
a certificate for another name | name good | -t 2 localhost:@p | KE certificate for another name | ke 0
a certificate for another address | name good | -t 2 | KE certificate for another name | ke 0
an expired certificate | expired good | -t 2 | KE certificate expired | ke 0
a certificate not yet valid | future good | -t 2 | KE certificate not yet valid | ke 0
the system's bundle alone | good good | bundle -t 2 | KE certificate from an unknown CA | ke 0
a CA file that is not there | good good | -C missing.crt -t 2 | varnel-nts: fatal: unable to load CA certificates from missing.crt | ke 0
a CA file without a certificate | good good | -C good.key -t 2 | varnel-nts: fatal: unable to load CA certificates from good.key | ke 0
the other root, given with -C | other good | -C ca.crt -C other-ca.crt -t 1 | NOREPLY | ntp 1; deadline 1000
clock not set: an expired certificate passes | expired good | -t 1 -f 2099-01-01 | NOREPLY | ntp 1; deadline 1000
clock not set: another root still fails | other good | -t 2 -f 2099-01-01 | KE certificate from an unknown CA | ke 0
clock not set: another name still fails | name good | -t 2 -f 2099-01-01 localhost:@p | KE certificate for another name | ke 0
TLS 1.2 only | good tls12 | -t 2 | KE no TLS 1.3 | ke 0
TLS 1.3 without ALPN | good noalpn | -t 2 | KE no ALPN ntske/1 | ke 0
silent after TCP | good silent | -t 1 | STALLED | ke 0; deadline 1000
a record header cut short | good truncated | -t 2 | KE truncated reply | ke 1
a body longer than the data | good overlong | -t 2 | KE truncated reply | ke 1
no End of Message, then close | good noeom | -t 2 | KE truncated reply | ke 1
no End of Message, held open | good noeom-open | -t 1 | STALLED | ke 1; deadline 1000
a reply a byte at a time | good trickle | -t 1 | STALLED | ke 1; deadline 1000
records without end | good flood | -t 2 | KE reply too long | ke 1
Error record, as chronyd sends it | good error | -t 2 | KE Error record, code 0 | ke 1
Warning record | good warning | -t 2 | KE Warning record, code 1 | ke 1
unknown critical record | good critical | -t 2 | KE unknown critical record, type 1000 | ke 1
no cookies | good nocookies | -t 2 | KE no cookies | ke 1
a cookie too long to send | good bigcookie | -t 2 | KE malformed record | ke 1
a server name with a line in it | good badserver | -t 2 | KE malformed record | ke 1
AEAD 17 | good aead17 | -t 2 | KE AES-SIV-CMAC-256 not agreed | ke 1
an empty Next Protocol | good noproto | -t 2 | KE NTPv4 not agreed | ke 1
a random pool never seeded (host) | good good | unseeded -t 1 | KE unable to get seeded random numbers | ke 0; deadline 1000
a failure to get random numbers is its own server's reason (host) | name good | unseeded-once -t 2 127.0.0.1:@p 127.0.0.2:@p | varnel-nts: fatal: 127.0.0.2:@p: key exchange: certificate for another name | ke 0
NewSessionTicket without end | good tickets | -t 2 | KE reply too long | ke 1
KeyUpdate without end | good keyupdates | -t 2 | KE reply too long | ke 1
warning alerts without end | good alerts | -t 2 | KE TLS failed | ke 1
an RSA-768 key | weak good | -t 2 | KE certificate refused | ke 0
clock not set: an RSA-768 key still fails | weakfuture good | -t 2 -f 2099-01-01 | KE certificate refused | ke 0
an RSA-768 intermediate | viaweak good | -t 2 | KE certificate refused | ke 0
clock not set: an RSA-768 intermediate still fails | viaweakfuture good | -t 2 -f 2099-01-01 | KE certificate refused | ke 0
keyUsage without digitalSignature | nodsig good | -t 2 | KE certificate refused | ke 0
clock not set: no digitalSignature still fails | nodsigfuture good | -t 2 -f 2099-01-01 | KE certificate refused | ke 0
an intermediate that is not a CA | vianotca good | -t 2 | KE certificate from an unknown CA | ke 0
clock not set: an intermediate that is not a CA still fails | vianotcafuture good | -t 2 -f 2099-01-01 | KE certificate from an unknown CA | ke 0
a chain deeper than its path length | deep good | -t 2 | KE certificate refused | ke 0
clock not set: a chain deeper than its path length still fails | deepfuture good | -t 2 -f 2099-01-01 | KE certificate refused | ke 0
a chain to the root through a cross-signed copy | chained good | -t 1 | NOREPLY | ntp 1; deadline 1000
clock not set: an intermediate not yet valid passes | viafuture good | -t 1 -f 2099-01-01 | NOREPLY | ntp 1; deadline 1000
an RSA key, the handshake signed with RSA-PSS | rsa good | -t 1 | NOREPLY | ntp 1; deadline 1000
an address takes no DNS name, nor a wildcard | loose good | -t 2 | KE certificate for another name | ke 0
a wildcard is a whole label, never alone | loose good | -t 2 localhost:@p | KE certificate for another name | ke 0
an address takes no CN | cnonly good | -t 2 | KE certificate for another name | ke 0
record 6 takes no port | good good -N 127.0.0.1:123 | -t 2 | KE bad NTP server name | ke 1
record 6 names no multicast group | good good -N 224.0.0.1 | -t 2 | KE NTP server 224.0.0.1: not a unicast address | ke 1
an expired root alone in a file is skipped | good good | -v -C old-ca.crt -C ca.crt -t 1 | old-ca.crt: skipped certificate 1: expired\n@n: no reply\nNOREPLY | ntp 1; deadline 1000
CASES
)

# More checks, named in the table's last column.
ke() { # N: key exchanges the server got a request in
    check "$name: key exchanges" "$1" "$(awk '$1 == "ke" && $5 != "-"' "$tmp/log" | wc -l)"
}
request() { # TLS 1.3, ntske/1, and the 16 bytes: NTPv4, AES-SIV-CMAC-256, End of Message
    check "$name: request" "TLSv1.3 ntske/1 80010002000000040002000f80000000" \
        "$(awk '$1 == "ke" {print $3, $4, $5}' "$tmp/log")"
}
sni() { # NAME: the server name sent, - for none
    check "$name: server name" "$1" "$(awk '$1 == "ke" {print $2}' "$tmp/log")"
}
ntp() { # N: NTP requests that came, all well formed
    check "$name: NTP requests" "$1 good" \
        "$(grep -c '^ntp ok' "$tmp/log") $(grep '^ntp bad' "$tmp/log" || echo good)"
    checked_ntp=1
}
deadline() { # MS: ran to the deadline, and at most 0.1 s and the allowance past it
    local max=$(($1 + 100 + allowance_ms))
    check "$name: ran $1 to $max ms" yes \
        "$( ((elapsed_ms >= $1 && elapsed_ms <= max)) && echo yes || echo "no, $elapsed_ms ms")"
    checked_time=1
}

deadline_allowance

while IFS='|' read -r name server options want_err more; do
    name=$(echo $name) want_err=$(echo $want_err)
    [[ $name =~ ${HOSTILE_ONLY:-.} ]] || continue
    # The host build's tests/fakeclock.c stands in for a kernel whose pool
    # is never seeded; a static build under an emulator takes no preload.
    pre=()
    if [[ $options =~ unseeded(-once)? ]]; then
        [ -n "${FAKECLOCK:-}" ] || continue
        once=${BASH_REMATCH[1]#-}
        pre=(env LD_PRELOAD="$FAKECLOCK" FAKECLOCK_UNSEEDED=${once:-1}) options=${options/${BASH_REMATCH[0]}/}
    fi
    [[ $options == *-C* || $options == *bundle* ]] || options="-C ca.crt $options"
    options=${options/bundle/}
    [[ $options == *@* ]] || options+=" @"
    template=$options
    for try in 1 2; do
        # shellcheck disable=SC2086
        start $server
        options=${template//@p/$port} options=${options//@/$addr}
        # shellcheck disable=SC2086
        run $options
        stop_server
        again "$try" "$more" || break
    done
    want_err=${want_err/#KE /varnel-nts: fatal: @: key exchange: }
    want_err=${want_err/NOREPLY/$noreply} want_err=${want_err/STALLED/$stalled}
    want_err=${want_err//@n/$ntp} want_err=${want_err//@p/$port} want_err=${want_err//@/$addr}
    printf -v want_err %b "$want_err"
    check "$name" "$(printf 'status 111\n%s\nout 0' "$want_err")" \
        "$(printf 'status %s\n%s\nout %s' "$status" "$err" "$(wc -c < "$tmp/out")")"
    checked_ntp="" checked_time=""
    IFS=';' read -r -a checks <<< "$more"
    for c in "${checks[@]}"; do
        # shellcheck disable=SC2086
        [ -z "${c// /}" ] || eval $c
    done
    [ -n "$checked_ntp" ] || check "$name: no NTP request" 0 "$(grep -c '^ntp' "$tmp/log")"
    t=${options#*-t } t=$(ns_of "${t%% *}")
    [ -n "$checked_time" ] || check "$name: ended within half the deadline" yes \
        "$( ((elapsed_ms * 2000000 <= t)) && echo yes || echo "no, $elapsed_ms ms")"
done <<< "$cases"

# One server cannot push another out: X names B's key-exchange address and
# port as its NTP server, and B's name (the tests' DNS answers it 0.5 s
# late) resolves only once X's exchange is done. B is still a server of its
# own, judged on the address named, and is asked for its exchange (which
# its certificate, not made for that name, then fails).
/usr/bin/python3 "$here/../sntp/fakedns.py" 127.0.0.153 "$tmp/dns" slow.test=127.0.0.1/0.5 &
dns=$!
start good good
b_port=$port b_pid=$fakeke
mv "$tmp/log" "$tmp/log.b"
start good good -n 127.0.0.1 -P "$b_port"
run -v -t 2 -C ca.crt "$addr" "slow.test:$b_port"
stop_server
kill $b_pid $dns 2> /dev/null
wait $b_pid $dns 2> /dev/null
check "a server's records cannot push another out of the vote" "asked 0" \
    "$([ -s "$tmp/log.b" ] && echo asked || echo ignored) $(grep -c 'named twice' "$tmp/err")"

exit $failed
