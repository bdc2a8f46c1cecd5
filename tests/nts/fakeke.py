#!/usr/bin/python3
# SPDX-License-Identifier: ISC
"""fakeke: the tests' own NTS-KE server, which answers as a script says.

usage: fakeke.py [-6] [-n ADDRESS] [-N TEXT] [-P PORT] [-r none|forged|nak] CERT.pem LOGFILE PORTFILE SCRIPT

It listens for NTS-KE on the IPv4 loopback (::1 with -6), on a free port,
with the certificate and key of CERT.pem, and answers each connection as
the next behaviour of SCRIPT (comma-separated, the last repeating) says:
the names in replies below; tls12, noalpn or silent; or, after the
request, records of its own without end: tickets (NewSessionTicket),
keyupdates (KeyUpdate, each changing its keys) or alerts (warnings). Once
it listens it writes its port and the NTP address, as ADDRESS:PORT, to
PORTFILE.

A good reply sends the client to a UDP port of its own, on 127.0.0.1 (::1)
or on ADDRESS (-n, then named in a record 6; -N names TEXT instead and
listens where it would without; -P names PORT in record 7 instead of its
own, and so sends the client elsewhere). There it answers as -r says:
never, with a reply whose authenticator cannot verify, or with a NAK.
Python cannot make a session's keys, so no client gets time from it: a run
that gets that far fails at NTP.

LOGFILE gets "ke SNI TLS-VERSION ALPN REQUEST-HEX" (- for what is absent)
for each connection that completes its handshake, "end BEHAVIOUR: WHY" for
one that ends in an error, and "ntp ok" or "ntp bad: WHY" for each
datagram: ok is a request with a fresh Unique Identifier, a cookie of ours
not used before, and the authenticator last. SIGTERM ends it.
"""
import hashlib
import hmac
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time

from cryptography.hazmat.primitives.ciphers.aead import AESGCM

args = sys.argv[1:]
family, host, ntp_host, answer, named, named_port = socket.AF_INET, "127.0.0.1", None, "none", None, None
while args[0].startswith("-"):
    opt = args.pop(0)
    if opt == "-6":
        family, host = socket.AF_INET6, "::1"
    elif opt == "-n":
        ntp_host = named = args.pop(0)
    elif opt == "-N":
        named = args.pop(0)
    elif opt == "-P":
        named_port = int(args.pop(0))
    elif opt == "-r":
        answer = args.pop(0)
pem, logname, portfile, script = args
script = script.split(",")
log = open(logname, "a", buffering=1)
signal.signal(signal.SIGTERM, lambda *_: os._exit(0))


def rec(rtype, body=b"", critical=False):
    return struct.pack("!HH", rtype | (0x8000 if critical else 0), len(body)) + body


def u16(*values):
    return b"".join(struct.pack("!H", v) for v in values)


# NTP: the responder, on the port a good reply names.
ntp_sock = socket.socket(socket.AF_INET6 if ":" in (ntp_host or host) else socket.AF_INET,
                         socket.SOCK_DGRAM)
ntp_sock.bind((ntp_host or host, 0))
ntp_port = ntp_sock.getsockname()[1]
cookies, used, uids, sni = set(), set(), set(), []


def ext(ftype, body):
    return struct.pack("!HH", ftype, 4 + len(body)) + body


def check_request(d):
    """Why the datagram is not a request as an NTS client sends it, or ""."""
    if len(d) < 48 or d[0] & 0x3F != 0x23:
        return "not an NTPv4 client request", None
    i, fields = 48, []
    while i + 4 <= len(d):
        ftype, flen = struct.unpack_from("!HH", d, i)
        if flen < 4 or i + flen > len(d):
            return "a bad extension field length", None
        fields.append((ftype, d[i + 4:i + flen]))
        i += flen
    if i != len(d) or not fields or fields[-1][0] != 0x0404:
        return "no authenticator last", None
    uid = [b for t, b in fields if t == 0x0104]
    cookie = [b for t, b in fields if t == 0x0204]
    if len(uid) != 1 or len(uid[0]) < 32 or uid[0] in uids:
        return "no fresh unique identifier", None
    if len(cookie) != 1 or cookie[0] not in cookies or cookie[0] in used:
        return "no fresh cookie of ours", None
    uids.add(uid[0])
    used.add(cookie[0])
    return "", uid[0]


def ntp_serve():
    while True:
        d, peer = ntp_sock.recvfrom(2048)
        why, uid = check_request(d)
        log.write("ntp ok\n" if not why else "ntp bad: %s\n" % why)
        if why or answer == "none":
            continue
        now = int(time.time()) + 2208988800 + 1000
        uid = ext(0x0104, uid)
        if answer == "nak":
            head = struct.pack("!BBbb4s4s4s8s8s8s8s", 0x24, 0, 4, -20, b"", b"", b"NTSN",
                               b"", d[40:48], b"", b"")
            ntp_sock.sendto(head + uid, peer)
        else:
            # Well formed, the stamps 1000 s ahead, and a tag of random bytes.
            t = struct.pack("!II", now, 0)
            head = struct.pack("!BBbb4s4s4s8s8s8s8s", 0x24, 1, 4, -20, b"", b"", b"LOCL",
                               t, d[40:48], t, t)
            auth = ext(0x0404, u16(16, 16) + os.urandom(32))
            ntp_sock.sendto(head + uid + auth, peer)


threading.Thread(target=ntp_serve, daemon=True).start()


# NTS-KE: the replies.
def good_records(extra=b""):
    out = rec(1, u16(0), True) + extra + rec(4, u16(15), True)
    for _ in range(8):
        c = os.urandom(100)
        cookies.add(c)
        out += rec(5, c)
    if named:
        out += rec(6, named.encode(), True)
    return out + rec(7, u16(named_port or ntp_port), True)


eom = rec(0, b"", True)
replies = {
    "good": lambda: good_records() + eom,
    "unknown": lambda: good_records(rec(1000, b"ignore me")) + eom,
    "critical": lambda: good_records(rec(1000, b"obey me", True)) + eom,
    "truncated": lambda: rec(1, u16(0), True) + rec(4, u16(15), True)[:2],
    "overlong": lambda: rec(1, u16(0), True) + struct.pack("!HH", 5, 100) + os.urandom(10),
    "noeom": good_records,
    "noeom-open": good_records,
    "error": lambda: rec(2, u16(0), True) + eom,
    "warning": lambda: good_records(rec(3, u16(1), True)) + eom,
    "bigcookie": lambda: good_records(rec(5, bytes(1000))) + eom,
    "badserver": lambda: good_records(rec(6, b"127.0.0.1\nvarnel-nts: fatal: forged", True)) + eom,
    "nocookies": lambda: rec(1, u16(0), True) + rec(4, u16(15), True) + eom,
    "aead17": lambda: good_records().replace(rec(4, u16(15), True), rec(4, u16(17), True)) + eom,
    "noproto": lambda: good_records().replace(rec(1, u16(0), True), rec(1, b"", True)) + eom,
    "trickle": lambda: good_records() + eom,
    "flood": good_records,
}


def read_request(conn):
    """The client's records up to its End of Message, or what came first."""
    buf = b""
    while True:
        i = 0
        while i + 4 <= len(buf):
            rtype, blen = struct.unpack_from("!HH", buf, i)
            i += 4 + blen
            if rtype & 0x7FFF == 0 and i <= len(buf):
                return buf[:i]
        d = conn.recv(1024)
        if not d or len(buf) > 4096:
            return buf
        buf += d


# Records written raw after the handshake, under the server's traffic keys
# from OpenSSL's key log (RFC 8446, 7.1 to 7.3).
keylog = logname + ".keys"


def expand(secret, label, n, h):  # HKDF-Expand-Label, n no more than a hash
    info = struct.pack("!HB", n, 6 + len(label)) + b"tls13 " + label + b"\0"
    return hmac.new(secret, info + b"\1", h).digest()[:n]


def flood(tls, behaviour):
    suite = tls.cipher()[0]
    h, n = (hashlib.sha384, 32) if suite.endswith("SHA384") else (hashlib.sha256, 16)
    with open(keylog) as f:
        secret = bytes.fromhex(f.read().split("SERVER_TRAFFIC_SECRET_0 ")[-1].split()[1])
    ticket = struct.pack("!IIBBH", 7200, 0, 1, 0, 100) + bytes(100) + u16(0)
    body = {"tickets": b"\4" + struct.pack("!I", len(ticket))[1:] + ticket + b"\26",
            "keyupdates": b"\30\0\0\1\0\26", "alerts": b"\1\132\25"}[behaviour]
    raw = socket.socket(fileno=os.dup(tls.fileno()))
    raw.settimeout(30)
    seq = 0
    while True:  # Until the client gives up.
        key, iv = expand(secret, b"key", n, h), expand(secret, b"iv", 12, h)
        head = struct.pack("!BHH", 23, 0x0303, len(body) + 16)
        nonce = (int.from_bytes(iv, "big") ^ seq).to_bytes(12, "big")
        raw.sendall(head + AESGCM(key).encrypt(nonce, body, head))
        seq += 1
        if behaviour == "keyupdates":
            secret, seq = expand(secret, b"traffic upd", h().digest_size, h), 0


def make_context(behaviour):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.set_ciphers("DEFAULT:@SECLEVEL=0")  # RSA-768 too, for the client to refuse
    if behaviour in ("tickets", "keyupdates", "alerts"):
        ctx.num_tickets = 0  # Its own records start the sequence.
        ctx.keylog_filename = keylog
    if behaviour == "tls12":
        ctx.minimum_version = ctx.maximum_version = ssl.TLSVersion.TLSv1_2
    else:
        ctx.minimum_version = ssl.TLSVersion.TLSv1_3
    if behaviour != "noalpn":
        ctx.set_alpn_protocols(["ntske/1"])
    ctx.load_cert_chain(pem)
    ctx.sni_callback = lambda _s, name, _c: sni.append(name)
    return ctx


def serve(conn, behaviour):
    if behaviour == "silent":
        while conn.recv(1024):  # Until the client gives up.
            pass
        return
    sni.clear()
    tls = make_context(behaviour).wrap_socket(conn, server_side=True)
    request = read_request(tls)
    log.write("ke %s %s %s %s\n" % ((sni + ["-"])[0] or "-", tls.version(),
                                    tls.selected_alpn_protocol() or "-", request.hex() or "-"))
    if behaviour in ("tickets", "keyupdates", "alerts"):
        flood(tls, behaviour)
    reply = replies.get(behaviour, replies["good"])()
    if behaviour == "trickle":
        for i in range(len(reply)):
            tls.sendall(reply[i:i + 1])
            time.sleep(0.02)
    else:
        tls.sendall(reply)
    while behaviour == "flood":  # Until the client gives up.
        tls.sendall(rec(1000, bytes(1000)))
    if behaviour in ("noeom-open", "trickle"):
        tls.recv(1)  # Until the client gives up.
    elif behaviour not in ("truncated", "overlong"):
        tls.unwrap()  # Those two end with no close_notify, as if cut.


listener = socket.socket(family, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind((host if family == socket.AF_INET6 else "", 0))  # 127.0.0.2 too
listener.listen(8)
with open(portfile + ".new", "w") as f:
    at = ntp_host or host
    f.write("%d %s:%d\n" % (listener.getsockname()[1], "[%s]" % at if ":" in at else at, ntp_port))
os.rename(portfile + ".new", portfile)
n = 0
while True:
    conn, _ = listener.accept()
    behaviour = script[min(n, len(script) - 1)]
    n += 1
    conn.settimeout(30)
    try:
        serve(conn, behaviour)
    except (OSError, ValueError) as e:
        log.write("end %s: %s\n" % (behaviour, e))
    conn.close()
