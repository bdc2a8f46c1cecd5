// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "addr.h"

// The TLS side of the key exchange: TLS 1.3 alone, ALPN "ntske/1", the
// server's certificate checked against the CA files, and the keys taken
// from the exporter. One session per server slot, driven without blocking
// from the run's poll loop.

// How a certificate's dates are judged: against the local clock; or, when
// that clock is not yet set, not at all during the handshake, leaving the
// chain's common window to be checked against the time the server tells.
enum class dates : uint8_t { clock, server };

// What a whole exchange may take from the server, every record counted: a
// handshake and its chain are a few kilobytes, the reply at most 16384
// bytes. A server that goes on (tickets, key updates or alerts without
// end) is refused with "reply too long".
constexpr uint32_t tls_in_max = 65536;

// Called for a certificate of a CA file that does not load, such as a root
// that expired while the clock is set: the file, the certificate's place in
// it from 1, and why ("expired", "not yet valid", "refused").
using tls_skip = void (*)(const char* file, int n, const char* why);

// Loads the trusted CA certificates: the files given, else the system's
// bundle, one certificate at a time; under dates::server, whatever their
// dates. A certificate that does not load is skipped and handed to skip.
// Returns false with *why saying what failed, followed by *file when it was
// a file's: one that cannot be read or holds no certificate. TLS's random
// bytes wait for a seeded pool no longer than the run's deadline.
bool tls_setup(const char* const* cafiles, int n, dates d, tls_skip skip, const char** why,
    const char** file);

enum class tls_io : uint8_t { want_read, want_write, done, failed };

// Starts a session for slot i on the connected socket fd. name is the host
// name asked (name_len bytes, kept until tls_end), sent as SNI and matched
// against the certificate's DNS names; null, and a, the address asked, is
// matched against its IP addresses instead.
bool tls_begin(int i, int fd, const char* name, int name_len, const addr& a, dates d,
    const char** why);

// The handshake, then writing and reading; each returns want_read or
// want_write when it must wait, and takes at most a few kilobytes from the
// socket, nothing once the run's deadline has passed. tls_recv returns done
// with *got 0 at the end of the stream.
tls_io tls_handshake(int i, const char** why);
tls_io tls_send(int i, const unsigned char* p, size_t n, const char** why);
tls_io tls_recv(int i, unsigned char* p, size_t cap, size_t* got, const char** why);

// The two 32-byte keys of NTS: client to server, server to client.
bool tls_keys(int i, unsigned char* c2s, unsigned char* s2c);

// Under dates::server, the chain's window: the latest notBefore and the
// earliest notAfter, seconds since 1970. False when a date was unreadable.
bool tls_window(int i, int64_t* from, int64_t* until);

// Ends the session and frees what wolfSSL holds for it; the socket stays.
void tls_end(int i);
