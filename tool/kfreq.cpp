// SPDX-License-Identifier: ISC
#include "kfreq.h"

#include <sys/timex.h>

#include "div.h"

bool kfreq_read(int64_t* total)
{
    timex t = {};
    if (adjtimex(&t) == -1)
        return false;
    *total = kfreq_total(t.tick, t.freq);
    return true;
}

int64_t ppm_of(int64_t scaled, int64_t ns)
{
    constexpr int64_t ns_per_ms = 1000000;
    int64_t sub = 0;
    int64_t ms = div64(ns, ns_per_ms, &sub);
    return div64(scaled * ms, ppm_scale) + div64(scaled * sub, ppm_scale * ns_per_ms);
}
