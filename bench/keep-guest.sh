# SPDX-License-Identifier: ISC
# The emulated machine's side of bench/keep, which appends the runs of one
# boot to it: "rate PORT" first, then "run NAME PORT REF SECONDS COMMAND"
# for each keeper. What it measures goes to the console, one line each,
# for the host to sum up:
#   RATE PPB                    the machine's own clock against this one's
#   OFFSET NAME SECONDS OFFSET  the clock against the reference, that long
#                               after the keeper started
#   MEMORY NAME KB              the keeper's peak memory (VmHWM), summed
#                               over its processes, the shell excluded
#   KERNEL NAME ...             the kernel's discipline as the keeper left it
#   LOADED NAME FILE...         the libraries its processes load
#   WATCHED NAME ...            what clockwatch saw while it ran
#   LOG NAME LINE               its last words

# Centiseconds since boot.
now() {
    read -r up _ < /proc/uptime
    echo "${up%.*}${up#*.}"
}

# offset SERVER: the clock's offset from SERVER, the better of two replies,
# in seconds.
offset() {
    /bin/varnel-sntp -n -c 2 -t 6 "$1" | /bin/sed -n 's/^chosen offset //p'
}

# rate PORT: with the discipline as at boot, the machine's own rate against
# a server of this machine's clock, from two offsets 60 s apart, after one
# thrown away: the first datagrams of a boot wait for ARP and for qemu.
rate() {
    /bin/clockwatch -R > /dev/null
    offset "10.0.2.2:$1" > /dev/null
    o1=$(offset "10.0.2.2:$1") t1=$(now)
    sleep 60
    o2=$(offset "10.0.2.2:$1") t2=$(now)
    # The offset grows as the clock here falls behind; in parts per 10^9.
    echo "RATE $(echo "$o1 $o2 $t1 $t2" | /bin/awk '{printf "%d", -($2 - $1) / (($4 - $3) / 100) * 1e9}')"
}

# The keeper's processes: PID and every descendant.
family() {
    echo "$1"
    for s in /proc/[0-9]*/stat; do
        read -r pid _ _ ppid _ < "$s" 2> /dev/null || continue
        [ "$ppid" != "$1" ] || family "$pid"
    done
}

# run NAME PORT REF SECONDS COMMAND: the discipline put back as at boot,
# the clock set 2 s behind the reference (a keeper steps that, and slews
# what is left), then COMMAND keeps the clock against 10.0.2.2:PORT for
# SECONDS while the clock is measured against the reference, a jitter-free
# server of the same clock, at random moments 1 to 4 s apart.
run() {
    name=$1 PORT=$2 ref=10.0.2.2:$3 secs=$4 cmd=$5
    export PORT
    /bin/clockwatch -R > /dev/null
    /bin/varnel-sntp -c 2 -t 6 "$ref" | /bin/varnel
    /bin/varnel-record -2 | /bin/varnel
    /bin/clockwatch > /tmp/watch &
    watch=$!
    start=$(now)
    /bin/sh -c "$cmd" > /tmp/keeper.log 2>&1 &
    keeper=$!
    while [ $(($(now) - start)) -lt $((secs * 100)) ]; do
        sleep "$((1 + RANDOM % 3)).$((RANDOM % 10))"
        t=$(($(now) - start))
        echo "OFFSET $name $((t / 100)).$((t / 10 % 10)) $(offset "$ref")"
    done
    procs=$(family $keeper)
    kb=0 libs=""
    for p in $procs; do
        # The shell that started the keeper is not the keeper.
        [ "$(/bin/readlink /proc/$p/exe)" != /bin/busybox ] || continue
        hwm=$(/bin/awk '/^VmHWM:/ {print $2}' /proc/$p/status 2> /dev/null)
        kb=$((kb + ${hwm:-0}))
        libs="$libs $(/bin/awk '$6 ~ /\.so/ {print $6}' /proc/$p/maps)"
    done
    echo "MEMORY $name $kb"
    echo "LOADED $name $(echo $libs | /bin/tr ' ' '\n' | /bin/sort -u | /bin/tr '\n' ' ')"
    kernel=$(/bin/clockwatch -k)
    echo "KERNEL $name ${kernel#KERNEL }"
    kill $procs 2> /dev/null
    wait $keeper
    kill $watch
    wait $watch
    echo "WATCHED $name $(/bin/tr '\n' ' ' < /tmp/watch)"
    /bin/tail -3 /tmp/keeper.log | /bin/sed "s/^/LOG $name /"
}
