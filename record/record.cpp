// SPDX-License-Identifier: ISC
#include "record.h"

#include <stdint.h>

namespace {

constexpr uint32_t ns_per_sec = 1000000000;
constexpr int max_fraction_digits = 9;
// Large enough to tell out-of-range from in-range, small enough that the
// digit loop never overflows.
constexpr uint64_t whole_cap = uint64_t{1} << 33;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

void put_be32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

}

record_error record_encode(const char* text, unsigned char* out)
{
    const char* p = text;
    if (!*p)
        return record_error::empty;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;

    if (!is_digit(*p))
        return record_error::syntax;
    uint64_t whole = 0;
    for (; is_digit(*p); ++p) {
        whole = whole * 10 + static_cast<uint64_t>(*p - '0');
        if (whole > whole_cap)
            whole = whole_cap;
    }

    uint32_t ns = 0;
    int digits = 0;
    if (*p == '.') {
        ++p;
        if (!is_digit(*p))
            return record_error::syntax;
        for (; is_digit(*p); ++p, ++digits) {
            if (digits < max_fraction_digits)
                ns = ns * 10 + static_cast<uint32_t>(*p - '0');
        }
        for (int i = digits; i < max_fraction_digits; ++i)
            ns *= 10;
    }
    if (*p)
        return record_error::syntax;
    if (digits > max_fraction_digits)
        return record_error::precision;

    // -w.f is -(w + 1) seconds plus (1 - 0.f): the fraction is always added.
    int64_t sec = static_cast<int64_t>(whole);
    if (negative) {
        sec = -sec;
        if (ns) {
            sec -= 1;
            ns = ns_per_sec - ns;
        }
    }
    if (sec < INT32_MIN || sec > INT32_MAX)
        return record_error::range;

    record_put(static_cast<int32_t>(sec), ns, out);
    return record_error::none;
}

void record_put(int32_t sec, uint32_t ns, unsigned char* out)
{
    for (int i = 0; i < record_size; ++i)
        out[i] = 0;
    put_be32(out + 4, static_cast<uint32_t>(sec));
    put_be32(out + 8, ns);
}

bool record_floor(int64_t floor, int64_t sec, uint32_t usec, unsigned char* out)
{
    if (sec >= floor) {
        record_put(0, 0, out);
        return true;
    }
    // floor - (sec + usec) is (floor - sec - 1) s + (10^6 - usec) us, the
    // fraction always added. The comparison comes first: the subtraction
    // itself could overflow for a reading far below the floor.
    bool frac = usec != 0;
    if (sec < floor - INT32_MAX - (frac ? 1 : 0))
        return false;
    int64_t whole = floor - sec - (frac ? 1 : 0);
    record_put(static_cast<int32_t>(whole), frac ? (1000000 - usec) * 1000 : 0, out);
    return true;
}
