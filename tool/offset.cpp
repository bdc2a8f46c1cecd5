// SPDX-License-Identifier: ISC
#include "offset.h"

namespace {

constexpr uint32_t usec_per_sec = 1000000;

uint32_t be32(const unsigned char* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

}

offset offset_decode(const unsigned char* record)
{
    // The seconds are two's complement; the conversion to int32_t keeps
    // the bit pattern.
    return {static_cast<int32_t>(be32(record + 4)), be32(record + 8) / 1000};
}

uint32_t offset_delay(const timeval& now, const offset& off)
{
    // gettimeofday gives 0 <= tv_usec < 1000000, so the sum cannot wrap.
    uint32_t r = (static_cast<uint32_t>(now.tv_usec) + off.usec) % usec_per_sec;
    return usec_per_sec - r;
}

void offset_add(timeval& t, const offset& off)
{
    // Seconds are added in unsigned 64-bit arithmetic, where nothing is
    // undefined: both sides are sign-extended first, and the conversion back
    // keeps the low bits, so with a 32-bit time_t the sum wraps modulo 2^32
    // and with a 64-bit one it is exact.
    uint64_t sec = static_cast<uint64_t>(int64_t{t.tv_sec}) + static_cast<uint64_t>(int64_t{off.sec});

    uint32_t usec = static_cast<uint32_t>(t.tv_usec) + off.usec;
    if (usec > usec_per_sec - 1) {
        usec -= usec_per_sec;
        sec += 1;
    }
    t.tv_sec = static_cast<time_t>(sec);
    t.tv_usec = static_cast<suseconds_t>(usec);
}
