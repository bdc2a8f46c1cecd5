# SPDX-License-Identifier: ISC
# Real NTP servers on this machine's loopback, each serving a clock shifted
# by a known offset: chronyd on a port of our choice, ntpsec's ntpd on port
# 123 in a network namespace of its own. Sourced by tests/sntp/real.sh and
# bench/sntp.
#
#   srv_init DIR SHIFTRECV   work in DIR (ntpsec is unpacked there once)
#   srv_local DIR            work in DIR, for servers of this machine's own
#                            clock alone: an empty SHIFT
#   srv_chronyd SHIFT PORT   chronyd on 127.0.0.1 and ::1, port PORT
#   srv_chronyd_ns SHIFT     chronyd on port 123 in a namespace of its own
#   srv_ntpd SHIFT           ntpd on port 123 in a namespace of its own
#   srv_chronyd_nts SHIFT PORT KEPORT CERT [NTPSERVER]
#                            chronyd serving NTS too, with CERT.crt and
#                            CERT.key, its key exchange on KEPORT; it names
#                            NTPSERVER as the NTP server, if given
#   srv_ntpd_nts SHIFT CERT  ntpd serving NTS too, key exchange on port 4460
#   srv_fakentp NAME FAKENTP [OPTION...]
#                            the tests' own server (tests/sntp/fakentp.c) on
#                            127.0.0.1, which the emulated machine reaches
#                            as 10.0.2.2, answering every request; OPTIONs
#                            such as -s SHIFT, -r PPM -A SECONDS, -j and -L.
#                            Sets srv_fport too; it logs each request to
#                            $srv_dir/NAME.requests
#   srv_in PID CMD...        CMD in the network namespace of server PID
#   srv_stop                 stops every server started, by its PID
#
# A start sets srv_pid and returns once the server answers as stratum 1,
# and its key exchange port takes connections, if it serves NTS.
#
# No server may touch this machine's clock: each runs with CAP_SYS_TIME
# dropped (ntpd calls ntp_adjtime at start even with the discipline off),
# and srv_init fails loudly if a daemon that could set the clock runs
# already. libfaketime shifts what a server reads of the clock; shiftrecv
# shifts the kernel's receive timestamps the same way.

srv_faketime=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
srv_pids=()

srv_die() {
    echo "servers: $*" >&2
    srv_stop
    exit 1
}

srv_init() { # DIR SHIFTRECV
    srv_dir=$1 srv_shiftrecv=$2
    mkdir -p "$srv_dir"
    [ -r "$srv_faketime" ] || srv_die "no $srv_faketime: install libfaketime (./check --deps)"
    [ -r "$srv_shiftrecv" ] || srv_die "no $srv_shiftrecv"
    srv_ntpd_bin=$srv_dir/ntpsec/usr/sbin/ntpd
    if [ ! -x "$srv_ntpd_bin" ]; then
        # ntpsec conflicts with chrony as a package: unpack it, never install.
        (cd "$srv_dir" && rm -f ntpsec_*.deb && apt-get download ntpsec > /dev/null 2>&1 &&
            dpkg-deb -x ntpsec_*.deb ntpsec) || srv_die "unable to fetch and unpack ntpsec"
    fi
    srv_guard
}

srv_local() { # DIR
    srv_dir=$1
    mkdir -p "$srv_dir"
    srv_guard
}

# A daemon that holds CAP_SYS_TIME would set this machine's clock: a system
# chronyd or ntpd started by a package install, say. Daemons of other tests
# run without it and are left alone.
srv_guard() {
    local pid caps c
    for pid in $(pgrep -x chronyd; pgrep -x ntpd); do
        # A zombie runs nothing.
        ! grep -q '^State:.*zombie' "/proc/$pid/status" 2> /dev/null || continue
        caps=$(awk '/^Cap(Prm|Eff|Bnd)/ {print $2}' "/proc/$pid/status" 2> /dev/null) || continue
        for c in $caps; do
            if (( 0x$c >> 25 & 1 )); then
                ps -o pid,user,args -p "$pid" >&2
                srv_die "A CLOCK-SETTING NTP DAEMON RUNS ON THIS MACHINE (pid $pid): stop it first"
            fi
        done
    done
}

# srv_probe HOST PORT: prints "LI STRATUM" of the server's reply, if any.
srv_probe() {
    /usr/bin/python3 - "$1" "$2" <<'PY' 2> /dev/null
import os, socket, sys
host, port = sys.argv[1], int(sys.argv[2])
s = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.3)
s.connect((host, port))
s.send(b"\x23" + bytes(39) + os.urandom(8))
r = s.recv(512)
print(r[0] >> 6, r[1])
PY
}

# srv_wait PID PORT: until the server answers with LI 0 and stratum 1;
# ntpd first answers LI 3, stratum 0 ("INIT") for most of a second.
srv_wait() {
    local i
    for ((i = 0; i < 100; i++)); do
        kill -0 "$1" 2> /dev/null || srv_die "server $1 died; its log is in $srv_dir"
        [ "$(srv_in "$1" srv_probe 127.0.0.1 "$2")" != "0 1" ] || return 0
        sleep 0.1
    done
    srv_die "server $1 did not become ready in 10 s"
}

# srv_wait_tcp PID PORT: until the server takes connections on 127.0.0.1.
srv_wait_tcp() {
    local i
    for ((i = 0; i < 100; i++)); do
        kill -0 "$1" 2> /dev/null || srv_die "server $1 died; its log is in $srv_dir"
        srv_in "$1" bash -c 'exec 3<> "/dev/tcp/127.0.0.1/$0"' "$2" 2> /dev/null && return 0
        sleep 0.1
    done
    srv_die "server $1 took no connection on port $2 in 10 s"
}

srv_in() { # PID CMD...
    local pid=$1
    shift
    if [ "$(readlink "/proc/$pid/ns/net")" == "$(readlink /proc/self/ns/net)" ]; then
        "$@"
    elif [ "$(type -t "$1")" == function ]; then
        nsenter --net="/proc/$pid/ns/net" bash -c "$(declare -f "$1"); \"\$@\"" - "$@"
    else
        nsenter --net="/proc/$pid/ns/net" "$@"
    fi
}

# srv_chrony_conf NAME PORT: a private configuration, never the system's.
srv_chrony_conf() {
    cat > "$srv_dir/$1.conf" <<EOF
port $2
bindaddress 127.0.0.1
bindaddress ::1
allow 127.0.0.1
allow ::1
local stratum 1
cmdport 0
pidfile $srv_dir/$1.pid
driftfile $srv_dir/$1.drift
EOF
}

# srv_run NAME SHIFT NETNS CMD...: CMD under the capability drop and the
# shift, in a fresh network namespace if NETNS is "ns"; as one process, so
# its PID is the server's. An empty SHIFT serves this machine's own clock,
# with nothing preloaded.
srv_run() {
    local name=$1 shift_=$2 ns=$3
    shift 3
    local env=()
    [ -z "$shift_" ] || env=(env LD_PRELOAD="$srv_shiftrecv:$srv_faketime" FAKETIME="$shift_"
        FAKETIME_DONT_FAKE_MONOTONIC=1 FAKETIME_NO_CACHE=1)
    if [ "$ns" == ns ]; then
        unshare --net -- capsh --drop=cap_sys_time -- \
            -c 'ip link set lo up && exec "$0" "$@"' "${env[@]}" "$@" > "$srv_dir/$name.log" 2>&1 &
    else
        capsh --drop=cap_sys_time -- -c 'exec "$0" "$@"' "${env[@]}" "$@" > "$srv_dir/$name.log" 2>&1 &
    fi
    srv_pid=$!
    srv_pids+=("$srv_pid")
}

srv_chronyd() { # SHIFT PORT
    local name=chronyd$((${#srv_pids[@]} + 1))
    srv_chrony_conf "$name" "$2"
    srv_run "$name" "$1" host chronyd -x -d -U -u root -f "$srv_dir/$name.conf"
    srv_wait "$srv_pid" "$2"
}

srv_chronyd_nts() { # SHIFT PORT KEPORT CERT [NTPSERVER]
    local name=chronyd$((${#srv_pids[@]} + 1))
    srv_chrony_conf "$name" "$2"
    rm -rf "$srv_dir/$name.nts"
    # The key exchange in the server's own process, which its PID stops;
    # and as root, for the key: as _chrony it could not read it, and would
    # fail every handshake and keep running.
    cat >> "$srv_dir/$name.conf" <<EOF
ntsport $3
ntsservercert $4.crt
ntsserverkey $4.key
ntsdumpdir $srv_dir/$name.nts
ntsprocesses 0
${5:+ntsntpserver $5}
EOF
    srv_run "$name" "$1" host chronyd -x -d -U -u root -f "$srv_dir/$name.conf"
    srv_wait "$srv_pid" "$2"
    srv_wait_tcp "$srv_pid" "$3"
}

srv_chronyd_ns() { # SHIFT
    local name=chronyd$((${#srv_pids[@]} + 1))
    srv_chrony_conf "$name" 123
    srv_run "$name" "$1" ns chronyd -x -d -U -u root -f "$srv_dir/$name.conf"
    srv_wait "$srv_pid" 123
}

srv_ntpd() { # SHIFT [CERT]: with CERT, NTS too
    local name=ntpd$((${#srv_pids[@]} + 1))
    # Loopback only, no clock discipline, an orphan stratum 1 at once, and
    # no rate limiting of loopback (its default silently drops quick
    # queries).
    cat > "$srv_dir/$name.conf" <<EOF
disable ntp
disable kernel
tos orphan 1 orphanwait 0
interface ignore all
interface listen 127.0.0.1
interface listen ::1
restrict default kod limited nomodify noquery
restrict 127.0.0.1
restrict ::1
EOF
    [ -z "${2:-}" ] || printf 'nts enable\nnts cert %s.crt\nnts key %s.key\nnts cookie %s\n' \
        "$2" "$2" "$srv_dir/$name.cookies" >> "$srv_dir/$name.conf"
    srv_run "$name" "$1" ns "$srv_ntpd_bin" -n -c "$srv_dir/$name.conf" -p "$srv_dir/$name.pid" \
        -l "$srv_dir/$name.ntplog" -f "$srv_dir/$name.drift"
    srv_wait "$srv_pid" 123
    [ -z "${2:-}" ] || srv_wait_tcp "$srv_pid" 4460
}

srv_ntpd_nts() { srv_ntpd "$@"; } # SHIFT CERT

srv_fakentp() { # NAME FAKENTP [OPTION...]
    local name=$1 bin=$2 i
    shift 2
    : > "$srv_dir/$name.port"
    capsh --drop=cap_sys_time -- -c 'exec "$0" "$@"' "$bin" -4 -p 0 -l "$srv_dir/$name.requests" "$@" good \
        > "$srv_dir/$name.port" 2> "$srv_dir/$name.log" &
    srv_pid=$!
    srv_pids+=("$srv_pid")
    for ((i = 0; i < 100; i++)); do
        srv_fport=$(cat "$srv_dir/$name.port")
        [ -z "$srv_fport" ] || return 0
        kill -0 "$srv_pid" 2> /dev/null || srv_die "fakentp $name died: $(cat "$srv_dir/$name.log")"
        sleep 0.05
    done
    srv_die "fakentp $name did not start in 5 s"
}

srv_stop() {
    local pid
    for pid in "${srv_pids[@]}"; do
        kill "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
    done
    srv_pids=()
}

# srv_port: a port nothing listens on now, UDP or TCP. chronyd sets
# SO_REUSEPORT, so a server left over on a port would not make a start
# fail: it would answer some of the requests instead.
srv_port() {
    local p
    while :; do
        p=$((20000 + RANDOM % 30000))
        [ -n "$(ss -Hltun "sport = :$p")" ] || { echo "$p"; return; }
    done
}
