// SPDX-License-Identifier: ISC
#include "ntptime.h"

uint64_t ntp_from_timespec(time_t sec, long nsec)
{
    // Unsigned arithmetic: the sum wraps modulo 2^32 by definition, which is
    // exactly the NTP era. A negative 32-bit time_t converts to the same low
    // bits a wider one would have had.
    uint32_t s = static_cast<uint32_t>(sec) + ntp_unix_epoch;
    // nsec < 10^9 < 2^30, so shifted left by 32 it stays below 2^62.
    uint64_t frac = (static_cast<uint64_t>(nsec) << 32) / static_cast<uint64_t>(ns_per_sec);
    return uint64_t{s} << 32 | frac;
}

int64_t ntp_diff_ns(uint64_t a, uint64_t b)
{
    // The conversion to signed keeps the bit pattern (C++20). Seconds and
    // fraction are converted apart: the seconds lie within +-2^31, so times
    // 10^9 they stay below 2^61, and the fraction times 10^9 below 2^62.
    int64_t d = static_cast<int64_t>(a - b);
    int64_t sec = d >> 32; // rounds down, so the fraction is always added
    uint64_t frac = static_cast<uint64_t>(d) & 0xffffffffu;
    // Rounded to the nearest nanosecond, so that a timestamp made from a
    // reading comes back as that reading.
    uint64_t ns = (frac * static_cast<uint64_t>(ns_per_sec) + (uint64_t{1} << 31)) >> 32;
    return sec * ns_per_sec + static_cast<int64_t>(ns);
}

uint64_t ntp_short_ns(uint32_t v)
{
    return (uint64_t{v} * static_cast<uint64_t>(ns_per_sec)) >> 16;
}

void ns_split(int64_t ns, int64_t* sec, uint32_t* frac)
{
    int64_t q = ns / ns_per_sec;
    int64_t r = ns % ns_per_sec;
    if (r < 0) {
        q -= 1;
        r += ns_per_sec;
    }
    *sec = q;
    *frac = static_cast<uint32_t>(r);
}

floor_ref ntp_floor(int64_t floor_sec, int64_t sec, long nsec)
{
    // 4.6 * 10^9 s is 2^62 ns; past that the gap is clamped. The clamps come
    // before any product, so nothing can overflow.
    constexpr int64_t reach = 4600000000;
    int64_t s = sec < -reach ? -reach : sec > reach ? reach : sec;
    int64_t d = floor_sec - s;
    d = d < -reach ? -reach : d > reach ? reach : d;
    return {d * ns_per_sec - nsec, uint64_t{static_cast<uint32_t>(floor_sec) + ntp_unix_epoch} << 32};
}
