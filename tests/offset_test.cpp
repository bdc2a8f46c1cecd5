// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <stdint.h>

#include "offset.h"

namespace {

struct decode_case {
    unsigned char record[record_size];
    int32_t sec;
    uint32_t usec;
};

const decode_case decode_cases[] = {
    {{}, 0, 0},
    {{0, 0, 0, 0, 0, 0, 0, 2, 0x1d, 0xcd, 0x65, 0x00}, 2, 500000},
    {{0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0x1d, 0xcd, 0x65, 0x00}, -1, 500000},
    // Truncated, never rounded up into a whole second.
    {{0, 0, 0, 0, 0, 0, 0, 0, 0x3b, 0x9a, 0xc9, 0xff}, 0, 999999},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x03, 0xe7}, 0, 0},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff}, 0, 4294967},
    {{0, 0, 0, 0, 0x7f, 0xff, 0xff, 0xff}, INT32_MAX, 0},
    {{0, 0, 0, 0, 0x80, 0x00, 0x00, 0x00}, INT32_MIN, 0},
    {{0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x00, 0x01, 0x86, 0xa0}, 0x12345678, 100},
    // The leading and trailing fields change nothing.
    {{0xde, 0xad, 0xbe, 0xef, 0, 0, 0, 1, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff}, 1, 0},
};

TEST(Offset, Decode)
{
    for (const decode_case& c : decode_cases) {
        offset off = offset_decode(c.record);
        EXPECT_EQ(off.sec, c.sec);
        EXPECT_EQ(off.usec, c.usec);
    }
}

struct delay_case {
    long now_usec;
    uint32_t off_usec;
    uint32_t delay;
};

const delay_case delay_cases[] = {
    {0, 0, 1000000}, // on the second: a full second, never 0
    {250000, 0, 750000},
    {999999, 0, 1},
    {400000, 500000, 100000},
    {500000, 500000, 1000000},
    {600000, 500000, 900000},
    {999999, 4294967, 705034},
};

TEST(Offset, Delay)
{
    for (const delay_case& c : delay_cases) {
        timeval now = {1700000000, static_cast<suseconds_t>(c.now_usec)};
        EXPECT_EQ(offset_delay(now, {0, c.off_usec}), c.delay) << c.now_usec << " " << c.off_usec;
    }
}

// The expected seconds where time_t is 64 bits wide and where it is 32 bits
// wide: the second wraps modulo 2^32.
struct add_case {
    int64_t sec;
    long usec;
    offset off;
    int64_t want64, want32;
    long want_usec;
};

const add_case add_cases[] = {
    {1000, 500000, {2, 500000}, 1003, 1003, 0},
    {100, 700000, {-1, 500000}, 100, 100, 200000},
    {100, 0, {-1, 750000}, 99, 99, 750000},
    {1000, 1, {0, 999999}, 1001, 1001, 0},
    {1000, 0, {0, 999999}, 1000, 1000, 999999},
    // One carry only: what is left is for settimeofday to refuse.
    {1000, 500000, {0, 4294967}, 1001, 1001, 3794967},
    {INT32_MAX, 0, {1, 0}, 2147483648, INT32_MIN, 0},
    {INT32_MAX, 999999, {0, 1}, 2147483648, INT32_MIN, 0},
    {2000000000, 0, {2000000000, 0}, 4000000000, -294967296, 0},
    {1700000000, 0, {INT32_MIN, 0}, -447483648, -447483648, 0},
    {0, 0, {INT32_MIN, 0}, INT32_MIN, INT32_MIN, 0},
};

TEST(Offset, AddWrapsLikeTheSeconds)
{
    for (const add_case& c : add_cases) {
        if (sizeof(time_t) == 4 && (c.sec > INT32_MAX || c.sec < INT32_MIN))
            continue;
        timeval t = {static_cast<time_t>(c.sec), static_cast<suseconds_t>(c.usec)};
        offset_add(t, c.off);
        EXPECT_EQ(int64_t{t.tv_sec}, sizeof(time_t) == 4 ? c.want32 : c.want64)
            << c.sec << " + " << c.off.sec;
        EXPECT_EQ(int64_t{t.tv_usec}, int64_t{c.want_usec});
    }
}

}
