#!/usr/bin/python3
# SPDX-License-Identifier: ISC
"""fakedns: the tests' own DNS server, for names with several addresses.

usage: fakedns.py ADDRESS PORTFILE NAME=ADDR[,ADDR...][/SECONDS]...

Answers A and AAAA queries over UDP on ADDRESS port 53 (a loopback address)
from the table given, with a TTL of 0, and NXDOMAIN for any other name; a
name with SECONDS is answered that much later, a slow name, while other
queries (the AAAA asked beside the A, as musl asks) are answered meanwhile
on their own time. Once it listens
it writes "ready" to PORTFILE. SIGTERM ends it.
"""
import ipaddress
import signal
import socket
import struct
import sys
import time

addr, ready = sys.argv[1], sys.argv[2]
table, slow = {}, {}
for entry in sys.argv[3:]:
    name, _, addrs = entry.partition("=")
    addrs, _, wait = addrs.partition("/")
    table[name.lower().rstrip(".")] = [ipaddress.ip_address(a) for a in addrs.split(",")]
    slow[name.lower().rstrip(".")] = float(wait or 0)

signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((addr, 53))
with open(ready, "w") as f:
    f.write("ready\n")

pending = []  # (when, reply, peer), the slow names' replies
while True:
    now = time.monotonic()
    for due in [p for p in pending if p[0] <= now]:
        s.sendto(due[1], due[2])
        pending.remove(due)
    s.settimeout(max(0.001, min(p[0] for p in pending) - now) if pending else None)
    try:
        q, peer = s.recvfrom(512)
    except socket.timeout:
        continue
    if len(q) < 12:
        continue
    ident, flags, qd = struct.unpack("!HHH", q[:6])
    if qd != 1 or flags & 0x8000:
        continue
    # The question: labels up to a zero byte, then type and class.
    i, labels = 12, []
    while i < len(q) and q[i]:
        labels.append(q[i + 1:i + 1 + q[i]].decode("ascii", "replace"))
        i += 1 + q[i]
    question = q[12:i + 5]
    if len(question) < 5 or i + 5 > len(q):
        continue
    qtype = struct.unpack("!H", q[i + 1:i + 3])[0]
    name = ".".join(labels).lower()
    want = {1: 4, 28: 6}.get(qtype)
    answers = [a for a in table.get(name, []) if a.version == want]
    rcode = 0 if name in table else 3
    reply = struct.pack("!HHHHHH", ident, 0x8400 | (flags & 0x0100) | rcode, 1, len(answers), 0, 0)
    reply += question
    for a in answers:
        reply += struct.pack("!HHHIH", 0xC00C, qtype, 1, 0, len(a.packed)) + a.packed
    pending.append((time.monotonic() + slow.get(name, 0), reply, peer))
