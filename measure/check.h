// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

#include "ntptime.h"
#include "packet.h"

// Why a reply was refused, or that it was good. The checks run in the order
// listed, and the first that fails names the verdict.
enum class verdict : uint8_t {
    good,
    wrong_source,        // not from the address and port asked
    short_packet,        // shorter than the 48-byte header
    not_server,          // mode is not 4
    bad_version,         // version is not 3 or 4
    bad_origin,          // does not echo our nonce: forged, stale or misdirected
    kod_deny,            // kiss-o'-death DENY: stop using this server
    kod_rstr,            // kiss-o'-death RSTR: the same
    kod_rate,            // kiss-o'-death RATE: ask less often
    kod_other,           // any other kiss code, such as INIT
    zero_timestamp,      // receive or transmit timestamp is zero
    unsynchronised,      // leap indicator 3
    bad_stratum,         // stratum above 15
    root_distance,       // the server's own error bound is too large
    xmt_before_rec,      // T3 < T2
    ref_after_xmt,       // the server last set its clock after it sent this
    negative_delay,      // the timestamps cannot all be true
    delay_too_large,     // the offset could be off by half of that
    offset_out_of_range, // the seconds do not fit the record
    below_floor,         // the clock would be set below the floor
    // Authenticated NTP alone:
    unauthenticated,     // no identifier of ours, or an authenticator that fails
    nts_nak,             // the server refused our cookie, with our identifier
    outside_validity,    // the time told is outside the certificates' dates
};

// A reply's delay above this is refused: the offset can be wrong by up to
// half the delay, and 1.5 s is as much error as the root distance bound
// allows too.
constexpr int64_t max_delay_ns = 3000000000;

// A reply whose root distance (root delay / 2 + root dispersion) is not below
// this is refused: beyond it the server itself does not know the time well
// enough (1.5 s, as ntpd's MAXDIST).
constexpr uint64_t max_root_distance_ns = 1500000000;

// A good reply, measured.
struct sample {
    int64_t offset;         // theta, nanoseconds: add it to the local clock
    int64_t delay;          // delta, nanoseconds, 0 .. max_delay_ns
    uint64_t root_distance; // nanoseconds
    uint8_t stratum;
    int8_t precision;       // the server's, log2 seconds
};

// Checks a decoded reply against the request it claims to answer: nonce is
// what that request carried (0 when no request of ours matches), t1 the
// local NTP time of its sending, t4 that of the reply's arrival, and f the
// floor against the local clock at t1. Fills s only for a good reply.
//
// The server's timestamps are taken in the era nearest the local clock, or
// nearest the floor when the clock reads below it: a device booted at 1970
// past 2038 would otherwise pick an era 136 years off.
verdict reply_check(const ntp_packet& p, uint64_t nonce, uint64_t t1, uint64_t t4,
    const floor_ref& f, sample* s);

// The refusal text for a verdict, such as "bad origin" or "kiss-o'-death
// RATE"; refid is the packet's, for the kiss code. Returns out, which holds
// at least reason_max bytes and is NUL-terminated.
constexpr int reason_max = 48;
const char* reason_text(verdict v, uint32_t refid, char* out);
