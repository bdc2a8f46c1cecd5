#!/bin/bash
# SPDX-License-Identifier: ISC
# The tests' own certificates, made anew in DIR for each run:
#   ca.crt           an RSA-4096 root, as the largest public roots are
#   good.crt/.key    a leaf for localhost, 127.0.0.1, ::1 and 10.0.2.2 (this
#                    machine as the emulated target reaches it), valid from a
#                    day ago for a month
#   name.crt/.key    valid now, but for another name only
#   other.crt/.key   valid now, from another root (other-ca.crt)
#   expired.crt/.key valid for a month, two years ago
#   future.crt/.key  valid from next year
# Leaves are ECDSA P-256, with the CA's RSA signature. Each .pem is the leaf
# and its key together, as some servers want them.
# usage: certs.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
faketime=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1

root() { # NAME
    openssl req -x509 -newkey rsa:4096 -nodes -keyout "$1.key" -out "$1.crt" -days 7300 \
        -subj "/CN=varnel test $1" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign 2> /dev/null
}

leaf() { # NAME CA SAN [START] : valid 30 days from START, or from a day ago
    local env=(env LD_PRELOAD="$faketime" FAKETIME="@${4:-$(date -d '1 day ago' '+%Y-%m-%d %H:%M:%S')}")
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$1.key" \
        -out "$1.csr" -subj "/CN=$1" 2> /dev/null
    printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$3" > "$1.ext"
    "${env[@]}" openssl x509 -req -in "$1.csr" -CA "$2.crt" -CAkey "$2.key" -CAcreateserial \
        -days 30 -extfile "$1.ext" -out "$1.crt" 2> /dev/null
    cat "$1.crt" "$1.key" > "$1.pem"
    chmod 600 "$1.key" "$1.pem"
}

root ca
root other-ca
san=DNS:localhost,IP:127.0.0.1,IP:::1,IP:10.0.2.2
now=$(date +%s)
leaf good ca "$san"
leaf name ca DNS:elsewhere.test
leaf other other-ca "$san"
leaf expired ca "$san" "$(date -d '2 years ago' '+%Y-%m-%d %H:%M:%S')"
leaf future ca "$san" "$(date -d "@$((now + 366 * 86400))" '+%Y-%m-%d %H:%M:%S')"
