// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <vector>

#include "select.h"

namespace {

// Samples as (offset, delay) in milliseconds; root distance 0, precision
// 2^-20 s unless given, so each interval is offset +- (delay / 2 + ~1.001
// ms). The result is the median of the truechimers, in microseconds.
struct select_case {
    const char* name;
    std::vector<std::pair<int64_t, int64_t>> ms;
    select_result want;
    int64_t offset_us = 0;
    std::vector<bool> truechimer = {};
    int8_t precision = -20;
};

const select_case select_cases[] = {
    {"one server", {{3250, 20}}, select_result::chosen, 3250000, {true}},
    {"two agree: their midpoint", {{3250, 20}, {3251, 4}}, select_result::chosen, 3250500,
        {true, true}},
    {"two overlap within their error", {{0, 20}, {21, 20}}, select_result::chosen, 10500,
        {true, true}},
    // Without precision each is offset +- 2 ms: [-2, 2] and [2, 6] share 2.
    {"two that only touch agree", {{0, 2}, {4, 2}}, select_result::chosen, 2000, {true, true},
        -128},
    {"two apart", {{0, 2}, {100, 2}}, select_result::no_majority},
    {"falseticker outvoted though nearest", {{3250, 20}, {-90000, 1}, {3252, 10}},
        select_result::chosen, 3251000, {true, false, true}},
    {"a liar claiming no distance does not pick the answer", {{0, 200}, {2, 200}, {100, 0}},
        select_result::chosen, 2000, {true, true, true}},
    {"three apart", {{0, 2}, {100, 2}, {200, 2}}, select_result::no_majority},
    {"two pairs", {{0, 2}, {1, 2}, {500, 2}, {501, 2}}, select_result::no_majority},
    {"three of four", {{0, 8}, {1, 2}, {500, 2}, {2, 4}}, select_result::chosen, 1000,
        {true, true, false, true}},
    {"three of five", {{10, 2}, {900, 2}, {11, 6}, {-900, 2}, {12, 2}}, select_result::chosen,
        11000, {true, false, true, false, true}},
    {"two of five only", {{10, 2}, {900, 2}, {11, 6}, {-900, 2}, {500, 2}},
        select_result::no_majority},
    {"a wide interval bridges two", {{0, 2}, {50, 100}, {100, 2}}, select_result::chosen, 50000,
        {true, true, true}},
};

TEST(Select, Majority)
{
    for (const select_case& c : select_cases) {
        std::vector<sample> s;
        for (auto [off, delay] : c.ms)
            s.push_back({off * 1000000, delay * 1000000, 0, 1, c.precision});
        int64_t offset = 0;
        int chimers = 0;
        bool truechimer[select_max] = {};
        int n = static_cast<int>(s.size());
        ASSERT_EQ(select_offset(s.data(), n, &offset, truechimer, &chimers), c.want) << c.name;
        if (c.want != select_result::chosen)
            continue;
        EXPECT_EQ(offset, c.offset_us * 1000) << c.name;
        int want_chimers = 0;
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(truechimer[i], c.truechimer[static_cast<size_t>(i)]) << c.name << " " << i;
            want_chimers += c.truechimer[static_cast<size_t>(i)];
        }
        EXPECT_EQ(chimers, want_chimers) << c.name;
    }
}

TEST(Select, Distance)
{
    // Half the delay, the root distance, the precision and the slack.
    sample s = {0, 20000000, 31250000, 1, -10};
    EXPECT_EQ(select_distance(s), 10000000 + 31250000 + 976562 + select_slack_ns);
    s.precision = 3;
    EXPECT_EQ(select_distance(s), 10000000 + 31250000 + 1000000000 + select_slack_ns);
    s.precision = -128;
    EXPECT_EQ(select_distance(s), 10000000 + 31250000 + select_slack_ns);
}

}
