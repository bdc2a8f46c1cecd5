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
#   old-ca.crt       a root that expired a year ago
# Leaves a client must refuse whatever its clock says, the first five also
# as NAMEfuture, valid from next year: weak (an RSA-768 key), viaweak (under
# an RSA-768 intermediate), nodsig (keyUsage without digitalSignature),
# vianotca (under an intermediate that is not a CA), deep (under an
# intermediate below one of path length 0),
# loose (DNS names 127.0.0.1, *.0.0.1, *.*.*.*, * and l*t), cnonly (no
# subjectAltName, CN 127.0.0.1). Good leaves that take more: rsa (RSA-2048,
# the handshake signed with RSA-PSS), chained (under an intermediate, sent
# with a copy of ca.crt cross-signed by other-ca), viafuture (under an
# intermediate valid from next year).
# Leaves are ECDSA P-256 but where an RSA key is named, with the CA's RSA
# signature. Each .pem is the leaf, the intermediates the server sends, and
# the key, as some servers want them.
# Making the keys is most of the time, three RSA-4096 ones above all; each
# is made once in the source tree's build/test-keys and taken from there
# after, the certificates made anew every time.
# usage: certs.sh DIR
set -euo pipefail
dir=$1
keys=$(cd "$(dirname "$0")/../.." && pwd)/build/test-keys
mkdir -p "$dir" "$keys"
cd "$dir"
faketime=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
ago() { date -d "$1" '+%Y-%m-%d %H:%M:%S'; }
soon=$(date -d "@$(($(date +%s) + 366 * 86400))" '+%Y-%m-%d %H:%M:%S')
ca_ext='basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n'

key() { # NAME KEY: NAME.key, KEY ec (P-256) or rsa:BITS
    local kept=$keys/$1-${2/:/}.key
    if [ ! -s "$kept" ]; then
        if [ "$2" == ec ]; then
            openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$kept.$$" 2> /dev/null
        else
            openssl genpkey -algorithm RSA -pkeyopt "rsa_keygen_bits:${2#rsa:}" -out "$kept.$$" 2> /dev/null
        fi
        mv "$kept.$$" "$kept"
    fi
    cp "$kept" "$1.key"
}

root() { # NAME [START [DAYS]]
    key "$1" rsa:4096
    LD_PRELOAD=$faketime FAKETIME="@${2:-$(ago now)}" openssl req -x509 -key "$1.key" \
        -out "$1.crt" -days "${3:-7300}" -subj "/CN=varnel test $1" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        2> /dev/null
}

# cert NAME CA EXTENSIONS [START [KEY [SUBJECT]]]: NAME.crt signed by CA.crt,
# valid 30 days from START (default a day ago), KEY as key() takes it
# (default ec).
cert() {
    key "$1" "${5:-ec}"
    openssl req -new -key "$1.key" -out "$1.csr" -subj "${6:-/CN=$1}" 2> /dev/null
    printf '%b' "$3" > "$1.ext"
    LD_PRELOAD=$faketime FAKETIME="@${4:-$(ago '1 day ago')}" openssl x509 -req -in "$1.csr" \
        -CA "$2.crt" -CAkey "$2.key" -CAcreateserial -days 30 -extfile "$1.ext" -out "$1.crt" \
        2> /dev/null
}

leaf() { # NAME CA SAN [START [KEY [EXTENSION [SUBJECT]]]]: and NAME.pem; SAN - for none
    local san="subjectAltName=$3\n"
    [ "$3" != - ] || san=""
    cert "$1" "$2" "${san}extendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n${6:-}" \
        "${4:-}" "${5:-}" "${7:-}"
    pem "$1"
}

pem() { # NAME [INTERMEDIATE...]: what a server presents, and its key
    cat "$1.crt" "${@:2}" "$1.key" > "$1.pem"
    chmod 600 "$1.key" "$1.pem"
}

root ca
root other-ca
root old-ca "$(ago '2 years ago')" 365
san=DNS:localhost,IP:127.0.0.1,IP:::1,IP:10.0.2.2
leaf good ca "$san"
leaf name ca DNS:elsewhere.test
leaf other other-ca "$san"
leaf expired ca "$san" "$(ago '2 years ago')"
leaf future ca "$san" "$soon"
leaf loose ca 'DNS:127.0.0.1,DNS:*.0.0.1,DNS:*.*.*.*,DNS:*,DNS:l*t'
leaf cnonly ca - "" "" "" /CN=127.0.0.1
for when in "" future; do
    start=${when:+$soon}
    leaf "weak$when" ca "$san" "$start" rsa:768
    leaf "nodsig$when" ca "$san" "$start" "" 'keyUsage=critical,keyEncipherment\n'
    cert "weakca$when" ca "$ca_ext" "$start" rsa:768
    leaf "viaweak$when" "weakca$when" "$san"
    pem "viaweak$when" "weakca$when.crt"
    cert "inter$when" ca "$ca_ext" "$start"
    cert "notca$when" ca 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,keyCertSign\n' "$start"
    leaf "vianotca$when" "notca$when" "$san"
    pem "vianotca$when" "notca$when.crt"
    cert "len0ca$when" ca "${ca_ext/CA:TRUE/CA:TRUE,pathlen:0}" "$start"
    cert "deepca$when" "len0ca$when" "$ca_ext" "$start"
    leaf "deep$when" "deepca$when" "$san"
    pem "deep$when" "deepca$when.crt" "len0ca$when.crt"
done
leaf rsa ca "$san" "" rsa:2048
leaf viafuture interfuture "$san"
pem viafuture interfuture.crt
leaf chained inter "$san"
openssl x509 -x509toreq -in ca.crt -signkey ca.key -out cross.csr 2> /dev/null
openssl x509 -req -in cross.csr -CA other-ca.crt -CAkey other-ca.key -CAcreateserial -days 30 \
    -extfile <(printf "${ca_ext}subjectKeyIdentifier=hash\n") -out cross.crt 2> /dev/null
pem chained inter.crt cross.crt
