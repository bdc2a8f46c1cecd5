// SPDX-License-Identifier: ISC
#include "scan.h"

namespace {

constexpr uint64_t ns_per_sec = 1000000000;
constexpr uint64_t whole_max = uint64_t{1} << 32;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

}

bool scan_seconds(const char* s, uint64_t* ns)
{
    if (!is_digit(*s))
        return false;
    uint64_t whole = 0;
    for (; is_digit(*s); ++s) {
        whole = whole * 10 + static_cast<uint64_t>(*s - '0');
        if (whole >= whole_max)
            return false;
    }
    uint64_t frac = 0;
    if (*s == '.') {
        ++s;
        if (!is_digit(*s))
            return false;
        // 32 bits: a 64-bit division costs a small CPU a library routine.
        uint32_t scale = ns_per_sec;
        for (; is_digit(*s); ++s) {
            if (scale == 1)
                return false;
            scale /= 10;
            frac += static_cast<uint64_t>(*s - '0') * scale;
        }
    }
    if (*s)
        return false;
    *ns = whole * ns_per_sec + frac;
    return true;
}
