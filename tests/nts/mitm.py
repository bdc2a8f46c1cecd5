#!/usr/bin/python3
# SPDX-License-Identifier: ISC
"""An attacker on the path between an NTS client and a real server: a UDP
proxy on ADDR:PORT that passes each request to SERVER:SPORT and alters what
comes back, as MODE says:
  pass       nothing; the proof that the path itself works
  shift=S    S seconds added to the receive and transmit timestamps, the
             extension fields left as they were
  strip      the 48-byte header alone, no extension field
  unauth     the authenticator and what follows it cut off, the rest kept
  replay     each request after the first answered with the server's first
             reply: authentic, but old; the later replies are withheld
  nak        a forged NAK (stratum 0, "NTSN", the request's transmit time
             as origin) with an identifier of its own; the server never asked
  nakfirst   that forged NAK, then the server's reply
  cookie     a byte of the request's cookie changed on the way: the server
             answers with a real NAK
It writes its port to PORTFILE once it listens, and one line a request to
LOG: the request's number and what it did.
usage: mitm.py MODE ADDR PORT SERVER SPORT PORTFILE LOG"""
import os
import socket
import struct
import sys
import time

mode, addr, port, server, sport, portfile, logfile = sys.argv[1:8]
mode, _, arg = mode.partition("=")


def udp(host):
    return socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET, socket.SOCK_DGRAM)


def fields(p):
    """(type, start) of each extension field after the header."""
    i = 48
    while i + 4 <= len(p):
        t, n = struct.unpack_from(">HH", p, i)
        if n < 4:
            break
        yield t, i
        i += n


def ntp_now():
    return int((time.time() + 2208988800) * 2**32) & (2**64 - 1)


def nak(req):
    # A random identifier: an attacker off the path cannot know the
    # request's, and a client must drop a NAK that does not echo it.
    head = struct.pack(">BBbbII4sQQQQ", 0x24, 0, req[2], -20, 0, 0, b"NTSN", 0,
                       struct.unpack_from(">Q", req, 40)[0], ntp_now(), ntp_now())
    return head + struct.pack(">HH", 0x0104, 36) + os.urandom(32)


listen = udp(addr)
listen.bind((addr, int(port)))
up = udp(server)
up.connect((server, int(sport)))
up.settimeout(2)
with open(portfile + ".new", "w") as f:
    f.write(str(listen.getsockname()[1]) + "\n")
os.rename(portfile + ".new", portfile)
log = open(logfile, "a", buffering=1)
last = None
n = 0
while True:
    req, client = listen.recvfrom(2048)
    n += 1
    if mode == "nak":
        listen.sendto(nak(req), client)
        log.write("%d nak\n" % n)
        continue
    if mode == "cookie":
        at = next(i for t, i in fields(req) if t == 0x0204) + 8
        req = req[:at] + bytes([req[at] ^ 1]) + req[at + 1:]
    up.send(req)
    try:
        reply = up.recv(2048)
    except socket.timeout:
        log.write("%d no reply\n" % n)
        continue
    out, did = reply, mode
    if mode == "shift":
        out = bytearray(reply)
        for at in (32, 40):
            v = struct.unpack_from(">Q", out, at)[0] + round(float(arg) * 2**32)
            struct.pack_into(">Q", out, at, v & (2**64 - 1))
    elif mode == "strip":
        out = reply[:48]
    elif mode == "unauth":
        out = next((reply[:i] for t, i in fields(reply) if t == 0x0404), reply)
        did += " %d of %d bytes" % (len(out), len(reply))
    elif mode == "replay":
        if last is None:
            last, did = reply, "first, passed"
        else:
            out = last
    elif mode == "nakfirst":
        listen.sendto(nak(req), client)
    listen.sendto(bytes(out), client)
    log.write("%d %s\n" % (n, did))
