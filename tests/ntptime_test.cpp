// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "check.h"
#include "hex.h"
#include "ntptime.h"
#include "record.h"

namespace {

// A reading of the local clock, possibly past what a 32-bit time_t holds:
// there it arrives wrapped, as a 32-bit kernel or C library hands it over.
uint64_t at(int64_t sec, long nsec)
{
    return ntp_from_timespec(static_cast<time_t>(sec), nsec);
}

TEST(NtpTime, FromTimespec)
{
    const std::tuple<int64_t, long, uint64_t> cases[] = {
        {0, 0, 0x83aa7e8000000000u},                 // 1970
        {0, 500000000, 0x83aa7e8080000000u},
        {0, 999999999, 0x83aa7e80fffffffbu},         // rounded down
        {2085978496, 0, 0x0000000000000000u},        // 2036-02-07 06:28:16: era 1 begins
        {2085978495, 250000000, 0xffffffff40000000u},
        {2147483647, 0, 0x03aa7e7f00000000u},        // the last second of a signed 32-bit time_t
        {2147483648, 0, 0x03aa7e8000000000u},        // and past it
        {4294967295, 0, 0x83aa7e7f00000000u},        // 2106, where an unsigned one wraps
        {-1, 0, 0x83aa7e7f00000000u},                // 1969, or 2106 seen through 32 bits
    };
    for (const auto& [sec, nsec, want] : cases)
        EXPECT_EQ(at(sec, nsec), want) << sec << "." << nsec;
}

TEST(NtpTime, Differences)
{
    // Rounding is to the nearest nanosecond, the seconds rounded down.
    const std::tuple<uint64_t, uint64_t, int64_t> cases[] = {
        {0x0000000100000000u, 0, 1000000000},
        {0, 0x0000000100000000u, -1000000000},
        {0, 1, 0},                                   // -0.23 ns
        {0, 3, -1},                                  // -0.70 ns
        {0x0000000a00000000u, 0xfffffffe00000000u, 12000000000}, // across the era
        {0x7fffffffffffffffu, 0, 2147483648000000000}, // the farthest ahead
        {0x8000000000000000u, 0, -2147483648000000000}, // and behind
        {0x00000000c0000000u, 0x0000000100000000u, -250000000},
    };
    for (const auto& [a, b, want] : cases)
        EXPECT_EQ(ntp_diff_ns(a, b), want) << std::hex << a << " - " << b;
    EXPECT_EQ(ntp_short_ns(0x00018000), 1500000000u);
    EXPECT_EQ(ntp_short_ns(0xffffffff), 65535999984741u);
}

// A whole exchange: T1 and T4 read from the local clock, T2 and T3 from the
// server's, each as unix seconds and nanoseconds.
struct exchange {
    const char* name;
    int64_t t1s;
    long t1n;
    int64_t t2s;
    long t2n;
    int64_t t3s;
    long t3n;
    int64_t t4s;
    long t4n;
    int64_t offset;
    int64_t delay;
    const char* record;
    int64_t floor = 0; // seconds since 1970
    verdict want = verdict::good;
};

constexpr int64_t era1 = 2085978496; // 2036-02-07 06:28:16 UTC
constexpr int64_t y2038 = 2147483648;
constexpr int64_t y2026 = 1796688000;          // 2026-12-08
constexpr int64_t y2040 = 2208988800;          // 2040-01-01

const exchange exchanges[] = {
    {"server 3.25 s ahead", 1700000000, 0, 1700000003, 260000000, 1700000003, 260100000,
        1700000000, 20100000, 3250000000, 20000000, "00000000000000030ee6b28000000000"},
    {"server a quarter second behind", 1700000000, 0, 1699999999, 760000000, 1699999999,
        760000000, 1700000000, 20000000, -250000000, 20000000, "00000000ffffffff2cb4178000000000"},
    {"server at 2036-02-07 06:28:26, client 10 s behind across the rollover", era1 - 1,
        990000000, era1 + 10, 0, era1 + 10, 100000, era1, 10100000, 10000000000, 20000000,
        "000000000000000a0000000000000000"},
    {"client past the rollover, server before it", era1 + 2, 0, era1 - 1, 500000000, era1 - 1,
        500000000, era1 + 2, 2000, -2500001000, 2000, "00000000fffffffd1dcd611800000000"},
    {"client at 1970 after a cold boot", 0, 0, 1780000000, 1000, 1780000000, 2000, 0, 3000,
        1780000000000000000, 2000, "000000006a18a5000000000000000000"},
    {"client after 2038", y2038 + 100, 0, y2038 + 101, 500000000, y2038 + 101, 500000000,
        y2038 + 100, 4000, 1499998000, 4000, "00000000000000011dcd5d3000000000"},
    {"client a minute before 2038, server 700 days later", y2038 - 60, 0, y2038 + 86400 * 700, 0,
        y2038 + 86400 * 700, 0, y2038 - 60, 0, 60480060000000000, 0,
        "00000000039ada3c0000000000000000"},
    {"sub-microsecond ahead", 1700000000, 0, 1700000000, 10000500, 1700000000, 10000500,
        1700000000, 20000000, 500, 20000000, "0000000000000000000001f400000000"},
    {"sub-microsecond behind", 1700000000, 0, 1700000000, 9999700, 1700000000, 9999700,
        1700000000, 20000000, -300, 20000000, "00000000ffffffff3b9ac8d400000000"},
    {"no offset", 1700000000, 0, 1700000000, 1000, 1700000000, 1000, 1700000000, 2000, 0, 2000,
        "00000000000000000000000000000000"},
    // Below the floor the era is judged from the floor, not from the clock.
    {"clock at 1970 below the floor, server a day past it", 5, 0, y2026 + 86400, 0,
        y2026 + 86400, 0, 5, 0, (y2026 + 86395) * 1000000000, 0,
        "000000006b1899fb0000000000000000", y2026},
    {"clock at 1970, server in 2040: out of reach, not 136 years off", 0, 0, y2040, 0, y2040, 0,
        0, 0, 0, 0, "", y2026, verdict::offset_out_of_range},
    {"the same without a floor: the wrong era would go back before 1970", 0, 0, y2040, 0, y2040,
        0, 0, 0, 0, 0, "", 0, verdict::below_floor},
    {"clock raised to the floor, server in 2040", y2026, 0, y2040, 0, y2040, 0, y2026, 0,
        (y2040 - y2026) * 1000000000, 0, "00000000189336000000000000000000", y2026},
    {"floor a second before the 2036 rollover, server a second after", 0, 0, era1 + 1, 0,
        era1 + 1, 0, 0, 0, (era1 + 1) * 1000000000, 0, "000000007c5581810000000000000000",
        era1 - 1},
    {"floor a second after the rollover", 0, 0, era1 + 2, 0, era1 + 2, 0, 0, 0,
        (era1 + 2) * 1000000000, 0, "000000007c5581820000000000000000", era1 + 1},
    {"floor a second before 2038-01-19 03:14:08, the farthest step", 1, 0, y2038, 0, y2038, 0, 1,
        0, (y2038 - 1) * 1000000000, 0, "000000007fffffff0000000000000000", y2038 - 1},
    {"floor a second after it, a step too far", 1, 0, y2038 + 1, 0, y2038 + 1, 0, 1, 0, 0, 0, "",
        y2038 + 1, verdict::offset_out_of_range},
    {"server below the floor", y2026 + 60, 0, y2026 - 60, 0, y2026 - 60, 0, y2026 + 60, 0, 0, 0,
        "", y2026, verdict::below_floor},
};

TEST(NtpTime, OffsetAndDelay)
{
    for (const exchange& e : exchanges) {
        ntp_packet p{};
        p.version = 4;
        p.mode = 4;
        p.stratum = 1;
        p.org = 1;
        p.rec = at(e.t2s, e.t2n);
        p.xmt = at(e.t3s, e.t3n);
        sample s{};
        ASSERT_EQ(reply_check(p, 1, at(e.t1s, e.t1n), at(e.t4s, e.t4n),
                      ntp_floor(e.floor, e.t1s, e.t1n), &s),
            e.want)
            << e.name;
        if (e.want != verdict::good)
            continue;
        EXPECT_EQ(s.offset, e.offset) << e.name;
        EXPECT_EQ(s.delay, e.delay) << e.name;
        int64_t sec;
        uint32_t ns;
        ns_split(s.offset, &sec, &ns);
        unsigned char r[record_size];
        record_put(static_cast<int32_t>(sec), ns, r);
        EXPECT_EQ(hex(r), e.record) << e.name;
    }
}

TEST(NtpTime, OffsetBeyondTheRecord)
{
    // Both differences as far ahead as 64 bits allow: each rounds up to
    // 2^31 s, and so does their mean, one past the record's seconds.
    ntp_packet p{};
    p.version = 4;
    p.mode = 4;
    p.stratum = 1;
    p.org = 1;
    uint64_t t1 = uint64_t{1} << 32;
    p.rec = t1 + 0x7fffffffffffffffu;
    p.xmt = p.rec;
    sample s{};
    EXPECT_EQ(reply_check(p, 1, t1, t1, no_floor, &s), verdict::offset_out_of_range);
    // A tick less each way and it fits, just.
    p.rec -= uint64_t{1} << 31;
    p.xmt = p.rec;
    EXPECT_EQ(reply_check(p, 1, t1, t1, no_floor, &s), verdict::good);
    EXPECT_EQ(s.offset, 2147483647500000000);
}

TEST(NtpTime, FloorGap)
{
    // Clamped to 2^62 ns at most either way, whatever the reading.
    const std::tuple<int64_t, int64_t, long, int64_t> cases[] = {
        {y2026, y2026, 0, 0},
        {y2026, y2026 - 1, 250000000, 750000000},
        {y2026, y2026 + 1, 0, -1000000000},
        {y2026, 0, 0, y2026 * 1000000000},
        {4294967295, INT64_MIN, 0, 4600000000000000000},
        {0, INT64_MAX, 999999999, -4600000000999999999},
    };
    for (const auto& [fl, sec, nsec, want] : cases)
        EXPECT_EQ(ntp_floor(fl, sec, nsec).gap_ns, want) << fl << " " << sec;
    EXPECT_EQ(ntp_floor(era1, 0, 0).ntp, 0u);
}

TEST(NtpTime, Split)
{
    const std::tuple<int64_t, int64_t, uint32_t> cases[] = {
        {0, 0, 0},
        {-1, -1, 999999999},
        {-1000000000, -1, 0},
        {-1000000001, -2, 999999999},
        {3250000000, 3, 250000000},
        {INT64_MIN, -9223372037, 145224192},
    };
    for (const auto& [ns, want_sec, want_frac] : cases) {
        int64_t sec;
        uint32_t frac;
        ns_split(ns, &sec, &frac);
        EXPECT_EQ(sec, want_sec) << ns;
        EXPECT_EQ(frac, want_frac) << ns;
    }
}

}
