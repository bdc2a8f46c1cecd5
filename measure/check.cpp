// SPDX-License-Identifier: ISC
#include "check.h"

#include "ntptime.h"
#include "str.h"

namespace {

constexpr uint32_t kiss(const char (&code)[5])
{
    return uint32_t{static_cast<unsigned char>(code[0])} << 24
        | uint32_t{static_cast<unsigned char>(code[1])} << 16
        | uint32_t{static_cast<unsigned char>(code[2])} << 8
        | uint32_t{static_cast<unsigned char>(code[3])};
}

constexpr uint8_t leap_unsync = 3;
constexpr uint8_t max_stratum = 15;

// The texts, indexed by verdict.
constexpr const char* texts[] = {
    "good",
    "wrong source",
    "short packet",
    "not a server reply",
    "bad version",
    "bad origin",
    "kiss-o'-death DENY",
    "kiss-o'-death RSTR",
    "kiss-o'-death RATE",
    "kiss-o'-death",
    "zero timestamp",
    "unsynchronised",
    "bad stratum",
    "root distance too large",
    "transmit before receive",
    "reference after transmit",
    "negative delay",
    "delay too large",
    "offset out of range",
    "below the floor",
    "not authenticated",
    "NTS NAK",
    "outside its certificates' validity",
};
static_assert(sizeof texts / sizeof texts[0] == static_cast<int>(verdict::outside_validity) + 1);

// Every text fits reason_max with room for a kiss code after it.
constexpr bool texts_fit()
{
    for (const char* t : texts) {
        int n = 0;
        while (t[n])
            ++n;
        if (n + 5 >= reason_max)
            return false;
    }
    return true;
}
static_assert(texts_fit());

}

verdict reply_check(const ntp_packet& p, uint64_t nonce, uint64_t t1, uint64_t t4,
    const floor_ref& f, sample* s)
{
    if (p.mode != ntp_mode_server)
        return verdict::not_server;
    // Servers answer with the request's version; some old ones with 3.
    if (p.version != 3 && p.version != ntp_version)
        return verdict::bad_version;
    // Only a reply that echoes the nonce can come from someone who saw the
    // request. A zero nonce is never sent, so a zero origin never matches.
    if (nonce == 0 || p.org != nonce)
        return verdict::bad_origin;

    // A kiss-o'-death is believed only now that the origin matched: anyone
    // could otherwise silence a server for us. Its other fields mean
    // nothing, so it is told apart before they are checked.
    if (p.stratum == 0) {
        if (p.refid == kiss("DENY"))
            return verdict::kod_deny;
        if (p.refid == kiss("RSTR"))
            return verdict::kod_rstr;
        if (p.refid == kiss("RATE"))
            return verdict::kod_rate;
        return verdict::kod_other;
    }
    if (p.rec == 0 || p.xmt == 0)
        return verdict::zero_timestamp;
    if (p.leap == leap_unsync)
        return verdict::unsynchronised;
    if (p.stratum > max_stratum)
        return verdict::bad_stratum;
    uint64_t dist = ntp_short_ns(p.root_delay) / 2 + ntp_short_ns(p.root_disp);
    if (dist >= max_root_distance_ns)
        return verdict::root_distance;

    // Each difference lies within +-2^31 s, so the sums below cannot
    // overflow 64 bits.
    // T3 < T2 is judged on the raw timestamps: in nanoseconds a fraction
    // of one would vanish.
    if (static_cast<int64_t>(p.xmt - p.rec) < 0)
        return verdict::xmt_before_rec;
    // A server that never set its clock (ntpd as an orphan) sends zero.
    if (p.ref != 0 && static_cast<int64_t>(p.xmt - p.ref) < 0)
        return verdict::ref_after_xmt;
    int64_t server = ntp_diff_ns(p.xmt, p.rec); // T3 - T2
    int64_t delay = ntp_diff_ns(t4, t1) - server;
    if (delay < 0)
        return verdict::negative_delay;
    if (delay > max_delay_ns)
        return verdict::delay_too_large;
    // (T2 - T1) + (T3 - T4), each taken from a reference in the era that
    // counts: T1 and T4 themselves, or, below the floor, the floor and the
    // floor plus (T4 - T1), with the gap added back once, halved. Halved by
    // a shift, which rounds down; half a nanosecond is no matter. The two
    // differences are within 2^31 s each and the gap within 2^62 ns, so the
    // sum stays below 2^63.
    uint64_t ref1 = t1, ref4 = t4;
    int64_t lift = 0;
    if (f.gap_ns > 0) {
        ref1 = f.ntp;
        ref4 = f.ntp + (t4 - t1);
        lift = f.gap_ns;
    }
    int64_t offset = ((ntp_diff_ns(p.rec, ref1) + ntp_diff_ns(p.xmt, ref4)) >> 1) + lift;
    int64_t sec;
    uint32_t frac;
    ns_split(offset, &sec, &frac);
    if (sec < INT32_MIN || sec > INT32_MAX)
        return verdict::offset_out_of_range;
    // The clock that T1 read, moved by the offset, lands below the floor.
    if (offset < f.gap_ns)
        return verdict::below_floor;

    s->offset = offset;
    s->delay = delay;
    s->root_distance = dist;
    s->stratum = p.stratum;
    s->precision = p.precision;
    return verdict::good;
}

const char* reason_text(verdict v, uint32_t refid, char* out)
{
    const char* t = texts[static_cast<int>(v)];
    int n = str_len(t);
    for (int i = 0; i <= n; ++i)
        out[i] = t[i];
    if (v != verdict::kod_other)
        return out;
    // Another kiss code is shown when it is printable, as sent.
    char code[4];
    for (int i = 0; i < 4; ++i) {
        code[i] = static_cast<char>(refid >> (24 - 8 * i));
        if (code[i] < '!' || code[i] > '~')
            return out;
    }
    out[n] = ' ';
    for (int i = 0; i < 4; ++i)
        out[n + 1 + i] = code[i];
    out[n + 5] = '\0';
    return out;
}
