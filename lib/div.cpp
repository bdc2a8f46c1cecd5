// SPDX-License-Identifier: ISC
#include "div.h"

uint64_t udiv64(uint64_t n, uint64_t d, uint64_t* rem)
{
    uint64_t q = 0, r = 0;
    for (int i = 63; i >= 0; --i) {
        // r < d before the shift, and d below 2^63 in every use here, so
        // nothing is shifted out.
        r = r << 1 | (n >> i & 1);
        if (r >= d) {
            r -= d;
            q |= uint64_t{1} << i;
        }
    }
    *rem = r;
    return q;
}

int64_t div64(int64_t n, int64_t d, int64_t* rem)
{
    // Magnitudes in unsigned arithmetic: INT64_MIN has none as a signed value.
    uint64_t un = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    uint64_t r;
    uint64_t q = udiv64(un, static_cast<uint64_t>(d), &r);
    if (rem)
        *rem = n < 0 ? static_cast<int64_t>(0 - r) : static_cast<int64_t>(r);
    return n < 0 ? static_cast<int64_t>(0 - q) : static_cast<int64_t>(q);
}
