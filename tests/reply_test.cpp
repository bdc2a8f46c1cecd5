// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <stdint.h>

#include <string.h>

#include <array>
#include <functional>
#include <tuple>
#include <string>

#include "check.h"
#include "ntptime.h"
#include "packet.h"

namespace {

using bytes = std::array<unsigned char, 64>;

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 3; i >= 0; --i, v >>= 8)
        p[i] = static_cast<unsigned char>(v);
}

void put64(unsigned char* p, uint64_t v)
{
    put32(p, static_cast<uint32_t>(v >> 32));
    put32(p + 4, static_cast<uint32_t>(v));
}

TEST(Reply, RequestCarriesOnlyTheNonce)
{
    unsigned char r[ntp_size];
    for (auto& b : r)
        b = 0xaa;
    ntp_request(r, 0x0123456789abcdefu);
    // LI 0, VN 4, mode 3; nothing else but the transmit timestamp.
    unsigned char want[ntp_size] = {0x23};
    put64(want + 40, 0x0123456789abcdefu);
    EXPECT_EQ(0, memcmp(r, want, ntp_size));
}

TEST(Reply, ParseReadsEveryFieldBigEndian)
{
    unsigned char b[ntp_size];
    for (size_t i = 0; i < ntp_size; ++i)
        b[i] = static_cast<unsigned char>(i + 1);
    b[0] = 0xe4; // LI 3, VN 4, mode 4
    b[3] = 0xe9; // precision -23
    ntp_packet p;
    ASSERT_TRUE(ntp_parse(b, ntp_size, &p));
    EXPECT_EQ(p.leap, 3);
    EXPECT_EQ(p.version, 4);
    EXPECT_EQ(p.mode, 4);
    EXPECT_EQ(p.stratum, 2);
    EXPECT_EQ(p.poll, 3);
    EXPECT_EQ(p.precision, -23);
    EXPECT_EQ(p.root_delay, 0x05060708u);
    EXPECT_EQ(p.root_disp, 0x090a0b0cu);
    EXPECT_EQ(p.refid, 0x0d0e0f10u);
    EXPECT_EQ(p.ref, 0x1112131415161718u);
    EXPECT_EQ(p.org, 0x191a1b1c1d1e1f20u);
    EXPECT_EQ(p.rec, 0x2122232425262728u);
    EXPECT_EQ(p.xmt, 0x292a2b2c2d2e2f30u);
    EXPECT_FALSE(ntp_parse(b, ntp_size - 1, &p));
}

// One good reply, and the mutations that must each be refused. The client
// sent at 1700000000 s; the server is 3.25 s ahead and 10 ms away each way.
constexpr uint64_t nonce = 0x1122334455667788u;
const uint64_t t1 = ntp_from_timespec(1700000000, 0);
const uint64_t t4 = ntp_from_timespec(1700000000, 20100000);
const uint64_t t2 = ntp_from_timespec(1700000003, 260000000);
const uint64_t t3 = ntp_from_timespec(1700000003, 260100000);

bytes good_reply()
{
    bytes b{};
    b[0] = 0x24;  // LI 0, VN 4, mode 4
    b[1] = 2;     // stratum
    b[3] = 0xe9;  // precision
    put32(&b[4], 0x00000800); // root delay 1/32 s
    put32(&b[8], 0x00000400); // root dispersion 1/64 s
    put32(&b[12], 0x7f000001);
    put64(&b[24], nonce);
    put64(&b[32], t2);
    put64(&b[40], t3);
    return b;
}

struct mutation {
    const char* name;
    std::function<void(bytes&)> change;
    verdict want;
    size_t len = ntp_size;
    uint64_t later = 0; // added to T4
};

const uint32_t kod_rate = 'R' << 24 | 'A' << 16 | 'T' << 8 | 'E';

const mutation mutations[] = {
    {"good", [](bytes&) {}, verdict::good},
    {"extension fields after the header", [](bytes&) {}, verdict::good, 64},
    {"version 3", [](bytes& b) { b[0] = 0x1c; }, verdict::good},
    {"leap second announced", [](bytes& b) { b[0] |= 0x40; }, verdict::good},
    {"stratum 15", [](bytes& b) { b[1] = 15; }, verdict::good},
    {"zero reference time", [](bytes& b) { put64(&b[16], 0); }, verdict::good},
    {"root distance just below", [](bytes& b) { put32(&b[4], 0); put32(&b[8], 0x00017fff); },
        verdict::good},
    {"T3 equal to T2", [](bytes& b) { put64(&b[40], t2); }, verdict::good},
    {"47 bytes", [](bytes&) {}, verdict::short_packet, 47},
    {"empty", [](bytes&) {}, verdict::short_packet, 0},
    {"mode 3", [](bytes& b) { b[0] = 0x23; }, verdict::not_server},
    {"mode 5", [](bytes& b) { b[0] = 0x25; }, verdict::not_server},
    {"version 5", [](bytes& b) { b[0] = 0x2c; }, verdict::bad_version},
    {"version 2", [](bytes& b) { b[0] = 0x14; }, verdict::bad_version},
    {"version 0", [](bytes& b) { b[0] = 0x04; }, verdict::bad_version},
    {"origin off by one bit", [](bytes& b) { b[31] ^= 1; }, verdict::bad_origin},
    {"origin high half only", [](bytes& b) { put32(&b[28], 0); }, verdict::bad_origin},
    {"origin zero", [](bytes& b) { put64(&b[24], 0); }, verdict::bad_origin},
    {"kiss with wrong origin", [](bytes& b) { b[1] = 0; put32(&b[12], kod_rate); b[24] ^= 0x80; },
        verdict::bad_origin},
    {"DENY", [](bytes& b) { b[1] = 0; memcpy(&b[12], "DENY", 4); }, verdict::kod_deny},
    {"RSTR", [](bytes& b) { b[1] = 0; memcpy(&b[12], "RSTR", 4); }, verdict::kod_rstr},
    {"RATE with zero timestamps and LI 3",
        [](bytes& b) { b[0] |= 0xc0; b[1] = 0; put32(&b[12], kod_rate); put64(&b[32], 0); put64(&b[40], 0); },
        verdict::kod_rate},
    {"INIT", [](bytes& b) { b[1] = 0; memcpy(&b[12], "INIT", 4); }, verdict::kod_other},
    {"receive time zero", [](bytes& b) { put64(&b[32], 0); }, verdict::zero_timestamp},
    {"transmit time zero", [](bytes& b) { put64(&b[40], 0); }, verdict::zero_timestamp},
    {"LI 3", [](bytes& b) { b[0] |= 0xc0; }, verdict::unsynchronised},
    {"stratum 16", [](bytes& b) { b[1] = 16; }, verdict::bad_stratum},
    {"stratum 255", [](bytes& b) { b[1] = 255; }, verdict::bad_stratum},
    {"root distance 1.5 s", [](bytes& b) { put32(&b[4], 0); put32(&b[8], 0x00018000); },
        verdict::root_distance},
    {"root delay 3 s", [](bytes& b) { put32(&b[4], 0x00030000); put32(&b[8], 0); },
        verdict::root_distance},
    {"root fields all ones", [](bytes& b) { put32(&b[4], ~0u); put32(&b[8], ~0u); },
        verdict::root_distance},
    {"T3 a tick before T2", [](bytes& b) { put64(&b[40], t2 - 1); }, verdict::xmt_before_rec},
    {"reference a tick after T3", [](bytes& b) { put64(&b[16], t3 + 1); }, verdict::ref_after_xmt},
    {"reference equal to T3", [](bytes& b) { put64(&b[16], t3); }, verdict::good},
    {"server held it longer than the round trip",
        [](bytes& b) { put64(&b[40], t2 + (t4 - t1) + (1 << 12)); }, verdict::negative_delay},
    {"delay 3 s", [](bytes& b) { put64(&b[40], t2); }, verdict::good, ntp_size,
        t1 + (uint64_t{3} << 32) - t4},
    {"delay 3.02 s", [](bytes&) {}, verdict::delay_too_large, ntp_size, uint64_t{3} << 32},
};

TEST(Reply, EachRuleRefuses)
{
    for (const mutation& m : mutations) {
        bytes b = good_reply();
        m.change(b);
        ntp_packet p;
        verdict v = verdict::short_packet;
        sample s{};
        if (ntp_parse(b.data(), m.len, &p))
            v = reply_check(p, nonce, t1, t4 + m.later, no_floor, &s);
        EXPECT_EQ(static_cast<int>(v), static_cast<int>(m.want)) << m.name;
        if (v == verdict::good) {
            EXPECT_EQ(s.stratum, b[1]) << m.name;
            EXPECT_EQ(s.precision, -23) << m.name;
        }
    }
}

TEST(Reply, GoodReplyIsMeasured)
{
    bytes b = good_reply();
    ntp_packet p;
    ASSERT_TRUE(ntp_parse(b.data(), ntp_size, &p));
    sample s{};
    ASSERT_EQ(reply_check(p, nonce, t1, t4, no_floor, &s), verdict::good);
    EXPECT_EQ(s.offset, 3250000000);
    EXPECT_EQ(s.delay, 20000000);
    EXPECT_EQ(s.root_distance, 31250000u); // 1/64 + 1/64 s
    // No request of ours matches: the caller passes 0, never accepted.
    EXPECT_EQ(reply_check(p, 0, t1, t4, no_floor, &s), verdict::bad_origin);
}

TEST(Reply, ReasonTexts)
{
    const std::tuple<verdict, const char*, const char*> cases[] = {
        {verdict::bad_origin, "", "bad origin"},
        {verdict::xmt_before_rec, "", "transmit before receive"},
        {verdict::kod_rate, "RATE", "kiss-o'-death RATE"},
        {verdict::kod_other, "INIT", "kiss-o'-death INIT"},
        {verdict::kod_other, "AB\0D", "kiss-o'-death"},
        {verdict::kod_other, "AB D", "kiss-o'-death"},
        {verdict::kod_other, "\xc1" "BCD", "kiss-o'-death"},
        {verdict::offset_out_of_range, "", "offset out of range"},
    };
    for (const auto& [v, code, want] : cases) {
        uint32_t refid = 0;
        for (int i = 0; i < 4 && code[0]; ++i)
            refid = refid << 8 | static_cast<unsigned char>(code[i]);
        char out[reason_max];
        EXPECT_STREQ(reason_text(v, refid, out), want);
    }
}

}
