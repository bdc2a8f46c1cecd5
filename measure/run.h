// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "addr.h"
#include "check.h"
#include "options.h"
#include "packet.h"

// At most this many server addresses are queried in a run: the socket and
// request tables are static. The table is shared fairly: each SERVER
// argument and each pool gets a share before any gets a second, a server
// name at most 2 addresses, a pool at most 4, a numeric address 1.
constexpr int max_servers = 16;
constexpr int name_share = 2;
constexpr int pool_share = 4;

// Requests per address at most: eight good replies and a few refused ones.
// A server that never answers gets five in a run of 60 s, the spacing
// doubling.
constexpr int requests_max = 12;

// The largest datagram sent or taken: room for the extension fields that
// authenticated NTP carries.
constexpr size_t datagram_max = 1280;

// Where the preparation of a server stands.
enum class prep : uint8_t { wait, ready, failed };

// What a protocol over NTP adds to the run, for each server address i; all
// of it happens inside the run's one poll loop, so nothing waits on one
// server while the others could go on. Plain NTP has none.
struct protocol {
    // Readies what every server needs, once the options are read and
    // before any start delay; dies with prefix fatal on failure.
    void (*setup)(const options& o, const char* fatal);
    // Starts the preparation of server i at a: a key exchange with it, say.
    // name is its host name (name_len bytes), or null for a numeric address.
    void (*begin)(int i, const addr& a, const char* name, int name_len);
    // Goes on with it once its descriptor is ready (or at first): wait, with
    // *fd and *events what to poll; ready, with *ntp the address to ask; or
    // failed, with *why the reason.
    prep (*step)(int i, addr* ntp, int* fd, short* events, const char** why);
    // Fills request number req of server i, whose transmit timestamp
    // carries nonce, into out (datagram_max bytes); returns its length, or
    // 0 when no more can be asked (*why says why).
    size_t (*seal)(int i, int req, unsigned char* out, uint64_t nonce, const char** why);
    // Whether a reply of len bytes, which echoed request req's nonce, is
    // that request's answer and authentic: good, or the verdict refusing it.
    verdict (*open)(int i, int req, const unsigned char* in, size_t len, const ntp_packet& p);
    // Whether a good sample may stand, given the time the server tells:
    // seconds since 1970 at the reply's arrival.
    verdict (*vouch)(int i, int64_t server_sec);
    // Under -k, before a measurement: whether what server i was prepared
    // with still serves; if not, it is ended and begun again.
    bool (*fresh)(int i);
    // Ends whatever server i still holds.
    void (*end)(int i);
};

// One program over the run: the prefixes of its fatal lines and its
// warnings, its usage line, the port a SERVER argument defaults to, and its
// protocol (null: plain NTP).
struct tool {
    const char* fatal;
    const char* warning;
    const char* usage;
    uint16_t port;
    bool tls; // takes -C
    const protocol* proto;
};

// What a measurement came to: the median of the servers that agree, one
// vote per server named and per address of a pool, carried forward to the
// measurement's end; and its error, half the delay of the median one.
struct result {
    int64_t offset;
    int64_t error;
};

// Why a measurement failed: the words of its line, and errno's text to end
// it with when sys is set.
struct failure {
    const char* words[4];
    bool sys;
    int err;
};

// Reads the sources named by argv[o.first ..] and the pools of o, readies
// the protocol and waits out the start delay. Dies on a bad SERVER argument
// (status 100) or a failed setup (111).
void run_begin(const tool& t, const options& o, int argc, char** argv);

// One measurement: queries the servers until each has given o.count good
// replies or is given up on, or until the deadline. Names are resolved at
// the first, and again at a later one once their servers are lost; what a
// server was prepared with, its socket and its spacing carry over. Returns
// false with *why when it failed. Dies only when the program cannot go on:
// a clock or poll that fails.
bool measure(result* r, failure* why);

// The whole run of a one-shot program: run_begin and one measurement.
// Does not return on failure: it dies with the failure's line, status 111.
int64_t run(const tool& t, const options& o, int argc, char** argv);

// Ends what the run holds: the resolver children and the protocol's state.
void run_end();

// The measurement's deadline, monotonic nanoseconds, once the start delay
// is over; 0 before.
int64_t run_deadline();

// The whole program: options, the run or, under -k, the measurements one
// after the other, and the record or lines written for each.
int tool_main(const tool& t, int argc, char** argv);
