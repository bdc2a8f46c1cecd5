#include <gtest/gtest.h>

#include <vector>

#include "select.h"

namespace {

// Samples as (offset, delay) in milliseconds; root distance 0, precision
// 2^-20 s, so each interval is offset +- (delay / 2 + ~1.001 ms).
struct select_case {
    const char* name;
    std::vector<std::pair<int64_t, int64_t>> ms;
    select_result want;
    int winner = 0;
    std::vector<bool> truechimer = {};
};

const select_case select_cases[] = {
    {"one server", {{3250, 20}}, select_result::chosen, 0, {true}},
    {"two agree: the nearer wins", {{3250, 20}, {3251, 4}}, select_result::chosen, 1,
        {true, true}},
    {"two touch within their error", {{0, 20}, {21, 20}}, select_result::chosen, 0,
        {true, true}},
    {"two apart", {{0, 2}, {100, 2}}, select_result::no_majority},
    {"falseticker outvoted though nearest", {{3250, 20}, {-90000, 1}, {3252, 10}},
        select_result::chosen, 2, {true, false, true}},
    {"three apart", {{0, 2}, {100, 2}, {200, 2}}, select_result::no_majority},
    {"two pairs", {{0, 2}, {1, 2}, {500, 2}, {501, 2}}, select_result::no_majority},
    {"three of four", {{0, 8}, {1, 2}, {500, 2}, {2, 4}}, select_result::chosen, 1,
        {true, true, false, true}},
    {"three of five", {{10, 2}, {900, 2}, {11, 6}, {-900, 2}, {12, 2}}, select_result::chosen,
        0, {true, false, true, false, true}},
    {"two of five only", {{10, 2}, {900, 2}, {11, 6}, {-900, 2}, {500, 2}},
        select_result::no_majority},
    {"a wide interval bridges two", {{0, 2}, {50, 100}, {100, 2}}, select_result::chosen, 0,
        {true, true, true}},
};

TEST(Select, Majority)
{
    for (const select_case& c : select_cases) {
        std::vector<sample> s;
        for (auto [off, delay] : c.ms)
            s.push_back({off * 1000000, delay * 1000000, 0, 1, -20});
        int winner = -1;
        bool truechimer[select_max] = {};
        int n = static_cast<int>(s.size());
        ASSERT_EQ(select_offset(s.data(), n, &winner, truechimer), c.want) << c.name;
        if (c.want != select_result::chosen)
            continue;
        EXPECT_EQ(winner, c.winner) << c.name;
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(truechimer[i], c.truechimer[static_cast<size_t>(i)]) << c.name << " " << i;
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
