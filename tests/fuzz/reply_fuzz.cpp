// SPDX-License-Identifier: ISC
// libFuzzer target for the reply parser and checker: whatever the bytes, no
// undefined behaviour, and a reply taken as good really passed every check
// and yields a record within its ranges.
//
// Input: T1 and T4 (8 bytes each, big-endian NTP timestamps), then the
// datagram. Each datagram is checked twice: against a nonce it does not
// echo, and against its own origin, so the checks past the origin are
// reached as often as the others; each with no floor, and with a floor taken
// from the reference timestamp's seconds against a clock read as T1.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "check.h"
#include "fmt.h"
#include "ntptime.h"
#include "packet.h"
#include "record.h"
#include "select.h"

namespace {

void require(bool ok)
{
    if (!ok)
        abort();
}

uint64_t be64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = v << 8 | p[i];
    return v;
}

void check_good(const ntp_packet& p, uint64_t nonce, const sample& s)
{
    require(nonce != 0 && p.org == nonce);
    require(p.mode == 4 && (p.version == 3 || p.version == 4));
    require(p.stratum >= 1 && p.stratum <= 15 && p.leap != 3);
    require(p.rec != 0 && p.xmt != 0);
    require(s.delay >= 0 && s.delay <= max_delay_ns);
    require(s.root_distance < max_root_distance_ns);

    int64_t sec;
    uint32_t ns;
    ns_split(s.offset, &sec, &ns);
    require(sec >= INT32_MIN && sec <= INT32_MAX && ns < 1000000000);
    unsigned char r[record_size];
    record_put(static_cast<int32_t>(sec), ns, r);
    offset o = offset_decode(r);
    require(o.sec == sec && o.usec == ns / 1000);

    char text[fmt_max];
    require(fmt_snsec(text, s.offset) <= fmt_max);

    int64_t chosen = 0;
    int chimers = 0;
    bool truechimer[1];
    require(select_offset(&s, 1, &chosen, truechimer, &chimers) == select_result::chosen);
    require(chosen == s.offset && chimers == 1 && truechimer[0]);
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 16)
        return 0;
    uint64_t t1 = be64(data);
    uint64_t t4 = be64(data + 8);
    ntp_packet p;
    if (!ntp_parse(data + 16, size - 16, &p)) {
        require(size - 16 < ntp_size);
        return 0;
    }
    const uint64_t nonces[] = {0x0123456789abcdefu, p.org};
    const floor_ref floors[] = {no_floor,
        ntp_floor(static_cast<int64_t>(p.ref >> 32),
            static_cast<int64_t>(static_cast<uint32_t>(t1 >> 32) - ntp_unix_epoch), 0)};
    for (int k = 0; k < 4; ++k) {
        uint64_t nonce = nonces[k & 1];
        const floor_ref& f = floors[k >> 1];
        sample s;
        verdict v = reply_check(p, nonce, t1, t4, f, &s);
        char text[reason_max];
        const char* t = reason_text(v, p.refid, text);
        int n = 0;
        for (; t[n]; ++n)
            require(t[n] >= ' ' && t[n] <= '~');
        require(n > 0 && n < reason_max);
        if (v == verdict::good) {
            check_good(p, nonce, s);
            require(s.offset >= f.gap_ns);
        }
        else
            require(v != verdict::wrong_source);
    }
    return 0;
}
