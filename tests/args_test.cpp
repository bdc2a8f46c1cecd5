// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addr.h"
#include "options.h"

namespace {

struct server_case {
    const char* text;
    arg_kind kind;
    const char* shown = ""; // literal: addr_text; name: the name
    uint16_t port = 123;
};

const server_case server_cases[] = {
    {"192.0.2.1", arg_kind::literal, "192.0.2.1:123"},
    {"192.0.2.1:1234", arg_kind::literal, "192.0.2.1:1234", 1234},
    {"127.0.0.1:65535", arg_kind::literal, "127.0.0.1:65535", 65535},
    {"::1", arg_kind::literal, "[::1]:123"},
    {"2001:db8::1", arg_kind::literal, "[2001:db8::1]:123"},
    {"[2001:db8::1]", arg_kind::literal, "[2001:db8::1]:123"},
    {"[::1]:11123", arg_kind::literal, "[::1]:11123", 11123},
    {"[::ffff:192.0.2.1]:5", arg_kind::literal, "192.0.2.1:5", 5},
    {"::ffff:127.0.0.1", arg_kind::literal, "127.0.0.1:123"},
    {"::ffff:1:7f00:1", arg_kind::literal, "[::ffff:1:7f00:1]:123"},
    {"pool.ntp.org", arg_kind::name, "pool.ntp.org"},
    {"localhost:11123", arg_kind::name, "localhost", 11123},
    {"a_b-c.example.", arg_kind::name, "a_b-c.example."},
    {"", arg_kind::bad},
    {":123", arg_kind::bad},
    {"host:", arg_kind::bad},
    {"host:0", arg_kind::bad},
    {"host:65536", arg_kind::bad},
    {"host:123456", arg_kind::bad},
    {"host:+12", arg_kind::bad},
    {"host:12x", arg_kind::bad},
    {"[::1", arg_kind::bad},
    {"[::1]x", arg_kind::bad},
    {"[::1]:", arg_kind::bad},
    {"[192.0.2.1]", arg_kind::bad},
    {"[pool.ntp.org]:123", arg_kind::bad},
    {"2001:db8::zz", arg_kind::bad},
    {"fe80::1%eth0", arg_kind::bad},
    // What the resolver would take as IPv4 addresses in short forms.
    {"127.1", arg_kind::bad},
    {"2130706433:123", arg_kind::bad},
    {"0x7f.1", arg_kind::bad},
    {"017700000001", arg_kind::bad},
    {"127.0.0.1.", arg_kind::bad},
    {"1.2.3.4.5", arg_kind::name, "1.2.3.4.5"},
    {"0x7g.example", arg_kind::name, "0x7g.example"},
    {"3com", arg_kind::name, "3com"},
    {"host name", arg_kind::bad},
    {"host/name", arg_kind::bad},
    {"-n", arg_kind::bad},
    {".", arg_kind::bad},
    {"-", arg_kind::bad},
};

TEST(Args, Server)
{
    for (const server_case& c : server_cases) {
        server_arg a = server_parse(c.text);
        EXPECT_EQ(static_cast<int>(a.kind), static_cast<int>(c.kind)) << c.text;
        if (a.kind == arg_kind::literal) {
            char text[addr_text_max];
            EXPECT_STREQ(addr_text(a.a, text), c.shown) << c.text;
        } else if (a.kind == arg_kind::name) {
            EXPECT_EQ(std::string(a.name, static_cast<size_t>(a.name_len)), c.shown) << c.text;
        }
        if (a.kind != arg_kind::bad) {
            EXPECT_EQ(a.a.port, c.port) << c.text;
        }
    }
    // Names up to 253 characters.
    EXPECT_EQ(server_parse(std::string(253, 'a').c_str()).kind, arg_kind::name);
    EXPECT_EQ(server_parse(std::string(254, 'a').c_str()).kind, arg_kind::bad);
}

TEST(Args, SockaddrRoundTrip)
{
    for (const char* text : {"192.0.2.1:1234", "[2001:db8::1]:123"}) {
        addr a = server_parse(text).a;
        sockaddr_storage sa;
        socklen_t len = addr_sockaddr(a, &sa);
        addr b;
        ASSERT_TRUE(addr_from_sockaddr(sa, len, &b));
        EXPECT_TRUE(addr_equal(a, b)) << text;
        b.port ^= 1;
        EXPECT_FALSE(addr_equal(a, b)) << text;
        EXPECT_FALSE(addr_from_sockaddr(sa, len - 1, &b)) << text;
    }
    addr v4 = server_parse("0.0.0.1").a, v6 = server_parse("::1").a;
    EXPECT_FALSE(addr_equal(v4, v6));
}

struct option_case {
    std::vector<const char*> args;
    opt_error err;
    bool human = false, verbose = false;
    uint64_t deadline = deadline_default_ns;
    int count = count_default;
    int64_t cap = -1; // -1: no cap
    int first = 0;
    int npools = 0;
    uint64_t delay = 0;
    int64_t floor = -1; // -1: the build's
    bool keep = false;
    uint64_t shortest = interval_min_ns, longest = interval_max_ns;
};

const option_case option_cases[] = {
    {{"h"}, opt_error::none, false, false, deadline_default_ns, count_default, -1, 1},
    {{"-nv", "-t0.5", "-c", "8", "-m", "2.25", "h", "-n"}, opt_error::none, true, true,
        500000000, 8, 2250000000, 7},
    {{"-v", "-t", "60", "--", "-h"}, opt_error::none, false, true, 60000000000, count_default, -1,
        5},
    {{"-p", "pool.example", "-d10", "-f", "2026-12-08", "-ppool2"}, opt_error::none, false, false,
        deadline_default_ns, count_default, -1, 7, 2, 10000000000, 1796688000},
    {{"-d", "0", "-f1970-01-01", "h"}, opt_error::none, false, false, deadline_default_ns,
        count_default, -1, 4, 0, 0, 0},
    {{"-t", "0.1", "-c1", "-m0", "h"}, opt_error::none, false, false, 100000000, 1, 0, 5},
    {{"-t", "9", "-t3.000000001", "h"}, opt_error::none, false, false, 3000000001, count_default,
        -1, 4},
    {{}, opt_error::usage},
    {{"-n"}, opt_error::usage},
    {{"-x", "h"}, opt_error::usage},
    {{"-t"}, opt_error::usage},
    {{"--"}, opt_error::usage},
    {{"-t", "0.09", "h"}, opt_error::deadline},
    {{"-t", "60.000000001", "h"}, opt_error::deadline},
    {{"-t", "1.0000000001", "h"}, opt_error::deadline},
    {{"-t", ".5", "h"}, opt_error::deadline},
    {{"-t", "5.", "h"}, opt_error::deadline},
    {{"-t", "-1", "h"}, opt_error::deadline},
    {{"-t", "99999999999999999999", "h"}, opt_error::deadline},
    {{"-c", "0", "h"}, opt_error::count},
    {{"-c", "9", "h"}, opt_error::count},
    {{"-c", "2.0", "h"}, opt_error::count},
    {{"-c", "", "h"}, opt_error::count},
    {{"-m", "1e3", "h"}, opt_error::cap},
    {{"-m", "-1", "h"}, opt_error::cap},
    {{"-d", "3600.000000001", "h"}, opt_error::delay},
    {{"-d", "-1", "h"}, opt_error::delay},
    {{"-f", "2026-13-01", "h"}, opt_error::floor},
    {{"-f", "@1796688000", "h"}, opt_error::floor},
    {{"-p"}, opt_error::usage},
    // -k: a burst of replies by default, and the interval's bounds.
    {{"-k", "h"}, opt_error::none, false, false, deadline_default_ns, count_keep, -1, 2, 0, 0,
        -1, true},
    {{"-kn", "-c1", "-i", "16", "-I2048", "h"}, opt_error::none, true, false,
        deadline_default_ns, 1, -1, 6, 0, 0, -1, true, 16000000000, 2048000000000},
    {{"-k", "-i", "1", "-I", "131072", "h"}, opt_error::none, false, false,
        deadline_default_ns, count_keep, -1, 6, 0, 0, -1, true, 1000000000, 131072000000000},
    {{"-i", "16", "h"}, opt_error::usage},
    {{"-k", "-i", "0.999", "h"}, opt_error::interval},
    {{"-k", "-I", "131072.5", "h"}, opt_error::interval},
    {{"-k", "-i", "128", "-I", "64", "h"}, opt_error::order},
};

TEST(Args, Options)
{
    for (const option_case& c : option_cases) {
        std::vector<char*> argv = {const_cast<char*>("varnel-sntp")};
        for (const char* a : c.args)
            argv.push_back(const_cast<char*>(a));
        std::string shown;
        for (const char* a : c.args)
            shown += std::string(a) + " ";
        options o;
        const char* bad = nullptr;
        ASSERT_EQ(static_cast<int>(options_parse(static_cast<int>(argv.size()), argv.data(), &o,
                      &bad)),
            static_cast<int>(c.err))
            << shown;
        if (c.err != opt_error::none)
            continue;
        EXPECT_EQ(o.human, c.human) << shown;
        EXPECT_EQ(o.verbose, c.verbose) << shown;
        EXPECT_EQ(o.deadline_ns, c.deadline) << shown;
        EXPECT_EQ(o.count, c.count) << shown;
        EXPECT_EQ(o.capped, c.cap >= 0) << shown;
        if (c.cap >= 0) {
            EXPECT_EQ(o.cap_ns, static_cast<uint64_t>(c.cap)) << shown;
        }
        EXPECT_EQ(o.first, c.first) << shown;
        EXPECT_EQ(o.npools, c.npools) << shown;
        EXPECT_EQ(o.delay_ns, c.delay) << shown;
        EXPECT_EQ(o.keep, c.keep) << shown;
        EXPECT_EQ(o.interval_min_ns, c.shortest) << shown;
        EXPECT_EQ(o.interval_max_ns, c.longest) << shown;
        EXPECT_EQ(o.floor_set, c.floor >= 0) << shown;
        if (c.floor >= 0) {
            EXPECT_EQ(o.floor, c.floor) << shown;
        }
    }
    // Sixteen servers and pools together at most.
    for (int pools : {0, 8, 16}) {
        std::vector<char*> argv = {const_cast<char*>("varnel-sntp")};
        for (int i = 0; i < pools; ++i)
            argv.push_back(const_cast<char*>("-pp"));
        for (int i = pools; i < 17; ++i)
            argv.push_back(const_cast<char*>("h"));
        options o;
        const char* bad = nullptr;
        EXPECT_EQ(options_parse(static_cast<int>(argv.size()), argv.data(), &o, &bad),
            opt_error::sources) << pools;
        argv.pop_back();
        o = {};
        EXPECT_EQ(options_parse(static_cast<int>(argv.size()), argv.data(), &o, &bad),
            opt_error::none) << pools;
    }
}

}
