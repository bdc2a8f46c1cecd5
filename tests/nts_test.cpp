// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "ef.h"
#include "ke.h"
#include "name.h"
#include "ntpserver.h"
#include "packet.h"
#include "x509date.h"

namespace {

using bytes = std::vector<unsigned char>;

// A KE record: word (type, critical bit), then the body.
bytes rec(uint16_t word, bytes body)
{
    bytes r = {static_cast<unsigned char>(word >> 8), static_cast<unsigned char>(word),
        static_cast<unsigned char>(body.size() >> 8), static_cast<unsigned char>(body.size())};
    for (unsigned char b : body)
        r.push_back(b);
    return r;
}

bytes cat(std::initializer_list<bytes> parts)
{
    bytes r;
    for (const bytes& p : parts) {
        for (unsigned char b : p)
            r.push_back(b);
    }
    return r;
}

const bytes proto = rec(0x8001, {0, 0});
const bytes aead = rec(0x0004, {0, 15});
const bytes cookie = rec(0x0005, bytes(100, 0xc0));
const bytes eom = rec(0x8000, {});

// Feeds the reply in pieces of n bytes, as a reader keeping what was not
// taken would.
ke_status feed(const bytes& in, size_t n, ke_reply* r)
{
    *r = {};
    bytes held;
    size_t at = 0;
    for (;;) {
        size_t take = std::min(n, in.size() - at);
        for (size_t k = 0; k < take; ++k)
            held.push_back(in[at++]);
        size_t used = 0;
        ke_status st = ke_feed(r, held.data(), held.size(), &used);
        EXPECT_LE(used, held.size());
        held = bytes(held.begin() + static_cast<long>(used), held.end());
        EXPECT_LE(held.size(), ke_chunk_max);
        if (st != ke_status::more || at == in.size())
            return st;
    }
}

TEST(Ke, Request)
{
    unsigned char r[ke_request_size];
    ke_request(r);
    EXPECT_EQ(bytes(r, r + sizeof r), cat({proto, rec(0x0004, {0, 15}), eom}));
}

// The refusals that a whole exchange shows (Error, Warning, an unknown
// critical record, no cookies, the wrong AEAD, a reply cut short) are rows
// of tests/nts/hostile.sh; these are the rest, each fed in pieces too.
TEST(Ke, Replies)
{
    const bytes five(5, 0);
    struct row {
        const char* name;
        bytes in;
        ke_status want;
        int cookies;
    } rows[] = {
        {"chronyd's, with port", cat({proto, rec(0x8004, {0, 15}), rec(0x8007, {0x12, 0x34}), cookie, cookie, eom}), ke_status::done, 2},
        {"ten cookies, four kept", cat({proto, aead, cookie, cookie, cookie, cookie, cookie, cookie, cookie, cookie, cookie, cookie, eom}), ke_status::done, 4},
        {"a long unknown record passed over", cat({proto, aead, rec(0x4000, bytes(1000, 7)), cookie, eom}), ke_status::done, 1},
        {"bytes after End of Message ignored", cat({proto, aead, cookie, eom, five}), ke_status::done, 1},
        {"protocol after AEAD", cat({aead, proto, cookie, eom}), ke_status::done, 1},
        {"no protocol", cat({aead, cookie, eom}), ke_status::no_protocol, 0},
        {"protocol twice", cat({proto, proto, aead, cookie, eom}), ke_status::no_protocol, 0},
        {"another protocol", cat({rec(0x8001, {0x80, 0}), aead, cookie, eom}), ke_status::no_protocol, 0},
        {"protocol list", cat({rec(0x8001, {0, 0, 0, 1}), aead, cookie, eom}), ke_status::no_protocol, 0},
        {"no AEAD", cat({proto, cookie, eom}), ke_status::no_aead, 0},
        {"empty cookie", cat({proto, aead, rec(5, {}), eom}), ke_status::malformed, 0},
        {"cookie too long", cat({proto, aead, rec(5, bytes(ke_cookie_max + 1, 1)), eom}), ke_status::malformed, 0},
        {"port of three bytes", cat({proto, aead, rec(7, {0, 1, 2}), cookie, eom}), ke_status::malformed, 0},
        {"port zero", cat({proto, aead, rec(7, {0, 0}), cookie, eom}), ke_status::malformed, 0},
        {"server with a space", cat({proto, aead, rec(6, {'a', ' ', 'b'}), cookie, eom}), ke_status::malformed, 0},
        {"End of Message with a body", cat({proto, aead, cookie, rec(0x8000, {0, 0})}), ke_status::malformed, 0},
    };
    for (const row& r : rows) {
        for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
            ke_reply rep;
            EXPECT_EQ(feed(r.in, piece, &rep), r.want) << r.name << ", pieces of " << piece;
            if (r.want == ke_status::done || r.want == ke_status::more) {
                EXPECT_EQ(rep.cookies, r.cookies) << r.name;
            }
        }
    }
}

TEST(Ke, ServerAndPort)
{
    ke_reply r;
    bytes name = {'n', 't', 's', '.', 'e', 'x'};
    ASSERT_EQ(feed(cat({proto, aead, rec(6, name), rec(0x8007, {0x01, 0x7b}), cookie, eom}), 3, &r),
        ke_status::done);
    EXPECT_STREQ(r.server, "nts.ex");
    EXPECT_EQ(r.port, 379);
    EXPECT_EQ(r.cookie_len[0], 100);
    EXPECT_EQ(r.cookie[0][99], 0xc0);
}

// An NTP packet: the header, then fields of type and body.
bytes packet(std::initializer_list<std::pair<uint16_t, bytes>> fields)
{
    bytes p(ntp_size, 0);
    p[0] = 0x24;
    for (const auto& [type, body] : fields) {
        size_t n = 4 + body.size();
        bytes f = {static_cast<unsigned char>(type >> 8), static_cast<unsigned char>(type),
            static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
        for (unsigned char b : body)
            f.push_back(b);
        for (unsigned char b : f)
            p.push_back(b);
    }
    return p;
}

// An Authenticator body: nonce and ciphertext lengths, then both.
bytes auth(size_t nonce, size_t ct)
{
    bytes b(4 + ((nonce + 3) & ~size_t{3}) + ((ct + 3) & ~size_t{3}), 0x5a);
    b[0] = b[2] = 0;
    b[1] = static_cast<unsigned char>(nonce);
    b[3] = static_cast<unsigned char>(ct);
    return b;
}

TEST(Ef, Replies)
{
    const bytes uid(32, 0x11);
    struct row {
        const char* name;
        bytes in;
        ef_status want;
    } rows[] = {
        {"identifier, cookie, authenticator", packet({{0x0104, uid}, {0x0204, bytes(100, 2)}, {0x0404, auth(16, 48)}}), ef_status::ok},
        {"unknown field before", packet({{0x7777, bytes(12, 0)}, {0x0104, uid}, {0x0404, auth(16, 16)}}), ef_status::ok},
        {"field after the authenticator", packet({{0x0104, uid}, {0x0404, auth(16, 16)}, {0x7777, bytes(12, 0)}}), ef_status::malformed},
        {"two identifiers", packet({{0x0104, uid}, {0x0104, uid}, {0x0404, auth(16, 16)}}), ef_status::no_uid},
        {"short identifier", packet({{0x0104, bytes(16, 1)}, {0x0404, auth(16, 16)}}), ef_status::no_uid},
        {"no authenticator (a NAK)", packet({{0x0104, uid}}), ef_status::no_auth},
        {"tag cut short", packet({{0x0104, uid}, {0x0404, auth(16, 12)}}), ef_status::no_auth},
        {"nonce past the field", packet({{0x0104, uid}, {0x0404, bytes{0, 64, 0, 16, 1, 2, 3, 4}}}), ef_status::no_auth},
        {"zero nonce", packet({{0x0104, uid}, {0x0404, auth(0, 16)}}), ef_status::no_auth},
        {"stripped to the header", packet({}), ef_status::no_uid},
    };
    for (const row& r : rows) {
        ef_reply e;
        EXPECT_EQ(ef_parse(r.in.data(), r.in.size(), &e), r.want) << r.name;
    }
    // Lengths that lie: past the end, not a multiple of 4, below the head.
    for (uint16_t n : {uint16_t{200}, uint16_t{38}, uint16_t{2}}) {
        bytes p = packet({{0x0104, uid}});
        p[ntp_size + 3] = static_cast<unsigned char>(n);
        ef_reply e;
        EXPECT_EQ(ef_parse(p.data(), p.size(), &e), ef_status::malformed) << n;
    }
}

TEST(Ef, RequestParsesBack)
{
    unsigned char out[512], uid[uid_size], cookie[100], nonce[siv_nonce_size];
    for (size_t k = 0; k < sizeof uid; ++k)
        uid[k] = static_cast<unsigned char>(k);
    for (auto& c : cookie)
        c = 0xcc;
    for (auto& c : nonce)
        c = 0xee;
    size_t ad = 0, tag = 0;
    size_t len = ef_request(out, sizeof out, 0x1122334455667788u, uid, cookie, 99, nonce, &ad, &tag);
    // The header, 36 of identifier, 104 of cookie padded, 40 of authenticator.
    ASSERT_EQ(len, ntp_size + 36 + 104 + 40);
    EXPECT_EQ(ad, len - 40);
    EXPECT_EQ(tag, len - 16);
    ef_reply e;
    ASSERT_EQ(ef_parse(out, len, &e), ef_status::ok);
    EXPECT_EQ(e.uid, out + ntp_size + 4);
    EXPECT_EQ(e.ad_len, ad);
    EXPECT_EQ(e.nonce_len, siv_nonce_size);
    EXPECT_EQ(e.ct_len, siv_tag_size);
    EXPECT_EQ(ef_request(out, len - 1, 1, uid, cookie, 99, nonce, &ad, &tag), 0u);
}

// The certificate's side, then the host asked.
TEST(Name, Matches)
{
    struct row {
        const char* pattern;
        const char* name;
        bool match;
    } rows[] = {
        {"Time.Example.ORG", "time.example.org.", true},
        {"time.example.org", "time.example.org.uk", false},
        {"*.example.org", "time.example.org", true},
        {"*.example.org", "example.org", false},
        {"*.example.org", "a.b.example.org", false},
        {"*.org", "example.org", false},
        {"*", "localhost", false},
        {"l*t", "localhost", false},
        {"*.*.example.org", "a.b.example.org", false},
        {"time.*.org", "time.example.org", false},
        {"", "", false},
    };
    for (const row& r : rows) {
        std::string p = r.pattern, n = r.name;
        EXPECT_EQ(dns_match(p.data(), p.size(), n.data(), n.size()), r.match)
            << r.pattern << " for " << r.name;
    }
}

// Record 6: where the requests would go, or nowhere.
TEST(NtpServer, Record6)
{
    struct row {
        const char* text;
        arg_kind kind;
        bool unicast;
    } rows[] = {
        {"ntp.example.org", arg_kind::name, true},
        {"192.0.2.1", arg_kind::literal, true},
        {"2001:db8::1", arg_kind::literal, true},
        {"192.0.2.1:123", arg_kind::bad, true},
        {"ntp.example.org:123", arg_kind::bad, true},
        {"0.1.2.3", arg_kind::literal, false},
        {"::", arg_kind::literal, false},
        {"224.0.0.1", arg_kind::literal, false},
        {"255.255.255.255", arg_kind::literal, false},
        {"ff02::101", arg_kind::literal, false},
        {"::ffff:224.0.0.1", arg_kind::literal, false},
    };
    for (const row& r : rows) {
        server_arg a = ntp_server_parse(r.text, 4123);
        EXPECT_EQ(a.kind, r.kind) << r.text;
        if (a.kind == arg_kind::literal) {
            EXPECT_EQ(a.a.port, 4123) << r.text;
            EXPECT_EQ(unicast(a.a), r.unicast) << r.text;
        }
    }
}

TEST(X509, Times)
{
    struct row {
        const char* text;
        bool generalized;
        bool ok;
        int64_t sec;
    } rows[] = {
        {"700101000000Z", false, true, 0},
        {"491231235959Z", false, true, 2524607999},
        {"500101000000Z", false, true, -631152000},
        {"20380119031408Z", true, true, 2147483648},
        {"21060207062816Z", true, true, 4294967296},
        {"20240229000000Z", true, true, 1709164800},
        {"20230229000000Z", true, false, 0},
        {"21000229000000Z", true, false, 0},
        {"20240431000000Z", true, false, 0},
        {"20241301000000Z", true, false, 0},
        {"2024010100000Z", true, false, 0},
        {"20240101000000", true, false, 0},
        {"2024010100000+Z", true, false, 0},
        {"700101000000Z", true, false, 0},
    };
    for (const row& r : rows) {
        int64_t s = -1;
        std::string t = r.text;
        bool ok = asn1_time(r.generalized, reinterpret_cast<const unsigned char*>(t.data()),
            t.size(), &s);
        EXPECT_EQ(ok, r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(s, r.sec) << r.text;
        }
    }
}

}
