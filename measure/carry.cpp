// SPDX-License-Identifier: ISC
#include "carry.h"

#include "div.h"
#include "kfreq.h"
#include "ntptime.h"

namespace {

int64_t clamp(int64_t v, int64_t bound)
{
    return v < -bound ? -bound : v > bound ? bound : v;
}

}

int64_t carry_ns(const stamp& then, const stamp& now, int64_t kfreq)
{
    constexpr int64_t hour_ns = 3600 * ns_per_sec;
    int64_t raw = now.raw - then.raw;
    raw = raw < -hour_ns ? -hour_ns : raw > hour_ns ? hour_ns : raw;
    return ntp_diff_ns(now.real, then.real) - raw - ppm_of(kfreq, raw);
}

int64_t growth_ns(const carried& best, const carried& other, int64_t now_raw)
{
    // Microseconds: a burst spans at most the deadline's minute, and an
    // offset growing 5 % of that, so the product stays below 2^59.
    int64_t grew = clamp(other.offset - best.offset, int64_t{1} << 33);
    int64_t apart = div64(other.raw - best.raw, 1000);
    int64_t since = div64(clamp(now_raw - best.raw, int64_t{1} << 36), 1000);
    bool beyond = (grew < 0 ? -grew : grew) > best.error + other.error;
    if (!beyond || apart == 0)
        return 0;
    // div64 divides by a positive number only.
    if (apart < 0) {
        apart = -apart;
        grew = -grew;
    }
    return div64(grew * since, apart);
}
