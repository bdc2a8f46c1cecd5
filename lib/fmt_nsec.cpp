// SPDX-License-Identifier: ISC
#include "fmt.h"

#include "div.h"

namespace {

constexpr uint64_t ns_per_sec = 1000000000;

}

int fmt_nsec(char* s, uint64_t ns)
{
    uint64_t rem;
    int len = fmt_ulong(s, udiv64(ns, ns_per_sec, &rem));
    if (s) {
        s[len] = '.';
        uint32_t frac = static_cast<uint32_t>(rem);
        for (int i = 9; i >= 1; --i) {
            s[len + i] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
    }
    return len + 10;
}

int fmt_snsec(char* s, int64_t ns)
{
    // The magnitude is taken in unsigned arithmetic: negating INT64_MIN as a
    // signed value would overflow.
    uint64_t mag = static_cast<uint64_t>(ns);
    if (ns < 0)
        mag = 0 - mag;
    if (s)
        *s++ = ns < 0 ? '-' : '+';
    return 1 + fmt_nsec(s, mag);
}
