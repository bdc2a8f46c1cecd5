// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "fmt.h"

namespace {

struct nsec_case {
    int64_t ns;
    const char* text;
};

const nsec_case snsec_cases[] = {
    {0, "+0.000000000"},
    {1, "+0.000000001"},
    {-1, "-0.000000001"},
    {3250001234, "+3.250001234"},
    {-250000000, "-0.250000000"},
    {-1000000000, "-1.000000000"},
    {999999999, "+0.999999999"},
    {INT64_MAX, "+9223372036.854775807"},
    {INT64_MIN, "-9223372036.854775808"},
};

// Each text is checked whole, and its length against the counting call.
TEST(Fmt, SignedSeconds)
{
    for (const nsec_case& c : snsec_cases) {
        char s[fmt_max];
        int n = fmt_snsec(s, c.ns);
        EXPECT_EQ(std::string(s, static_cast<size_t>(n)), c.text);
        EXPECT_EQ(fmt_snsec(nullptr, c.ns), n);
    }
}

TEST(Fmt, UnsignedAndSeconds)
{
    const std::pair<uint64_t, const char*> ulong_cases[] = {
        {0, "0"}, {9, "9"}, {10, "10"}, {65535, "65535"}, {UINT64_MAX, "18446744073709551615"}};
    for (const auto& [u, text] : ulong_cases) {
        char s[fmt_max];
        int n = fmt_ulong(s, u);
        EXPECT_EQ(std::string(s, static_cast<size_t>(n)), text);
        EXPECT_EQ(fmt_ulong(nullptr, u), n);
    }
    char s[fmt_max];
    EXPECT_EQ(std::string(s, static_cast<size_t>(fmt_nsec(s, 52345))), "0.000052345");
    EXPECT_EQ(std::string(s, static_cast<size_t>(fmt_nsec(s, UINT64_MAX))),
        "18446744073.709551615");
}

}
