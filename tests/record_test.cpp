// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include "floor.h"
#include "hex.h"
#include "record.h"

namespace {

struct encode_case {
    const char* text;
    record_error err;
    const char* record = "";
};

const encode_case encode_cases[] = {
    {"0", record_error::none, "00000000000000000000000000000000"},
    {"-0", record_error::none, "00000000000000000000000000000000"},
    {"-0.000", record_error::none, "00000000000000000000000000000000"},
    {"2.5", record_error::none, "00000000000000021dcd650000000000"},
    {"+2.5", record_error::none, "00000000000000021dcd650000000000"},
    {"-0.25", record_error::none, "00000000ffffffff2cb4178000000000"},
    {"-1.000001", record_error::none, "00000000fffffffe3b9ac61800000000"},
    {"-1", record_error::none, "00000000ffffffff0000000000000000"},
    {"0.000000001", record_error::none, "00000000000000000000000100000000"},
    {"-0.000000001", record_error::none, "00000000ffffffff3b9ac9ff00000000"},
    {"007.100", record_error::none, "000000000000000705f5e10000000000"},
    {"2147483647.999999999", record_error::none, "000000007fffffff3b9ac9ff00000000"},
    {"-2147483648", record_error::none, "00000000800000000000000000000000"},
    {"-2147483647.5", record_error::none, "00000000800000001dcd650000000000"},
    {"2147483648", record_error::range},
    {"-2147483648.5", record_error::range},
    {"-2147483649", record_error::range},
    {"99999999999999999999999", record_error::range},
    {"1.1234567890", record_error::precision},
    {"", record_error::empty},
    {"abc", record_error::syntax},
    {"1.", record_error::syntax},
    {".5", record_error::syntax},
    {"-", record_error::syntax},
    {"1e3", record_error::syntax},
    {" 1", record_error::syntax},
    {"1 ", record_error::syntax},
    {"--1", record_error::syntax},
    {"+-1", record_error::syntax},
    {"1.2.3", record_error::syntax},
    {"0x10", record_error::syntax},
    {"1.1234567890x", record_error::syntax},
};

TEST(Record, Encode)
{
    for (const encode_case& c : encode_cases) {
        unsigned char r[record_size];
        for (auto& b : r)
            b = 0xaa;
        EXPECT_EQ(record_encode(c.text, r), c.err) << '"' << c.text << '"';
        if (c.err == record_error::none) {
            EXPECT_EQ(hex(r), c.record) << '"' << c.text << '"';
        } else {
            EXPECT_EQ(hex(r), std::string(32, 'a')) << "touched on error: " << c.text;
        }
    }
}

struct floor_parse_case {
    const char* text;
    int64_t sec = -1; // -1: refused
};

const floor_parse_case floor_parse_cases[] = {
    {"1970-01-01", 0},
    {"1972-02-29", 68169600},
    {"2000-02-29", 951782400},
    {"2026-12-08", 1796688000},
    {"2036-02-07", 2085955200},
    {"2038-01-19", 2147472000},
    {"2040-01-01", 2208988800},
    {"2106-02-07", 4294944000},
    {"2106-02-08"},
    {"1969-12-31"},
    {"2026-02-29"},
    {"2100-02-29"},
    {"2026-02-30"},
    {"2026-04-31"},
    {"2026-13-01"},
    {"2026-00-10"},
    {"2026-01-00"},
    {"2026-1-01"},
    {"2026/01/01"},
    {"2026-01-01 "},
    {""},
};

TEST(Floor, Parse)
{
    for (const floor_parse_case& c : floor_parse_cases) {
        int64_t sec = 12345;
        EXPECT_EQ(floor_parse(c.text, &sec), c.sec >= 0) << '"' << c.text << '"';
        EXPECT_EQ(sec, c.sec >= 0 ? c.sec : 12345) << '"' << c.text << '"';
    }
}

struct floor_record_case {
    int64_t floor, sec;
    uint32_t usec;
    const char* record; // nullptr: refused
};

constexpr int64_t build = 1796688000; // 2026-12-08

const floor_record_case floor_record_cases[] = {
    // At or above the floor: the zero record, the clock left as it is.
    {build, build, 0, "00000000000000000000000000000000"},
    {build, build + 3600, 250000, "00000000000000000000000000000000"},
    // Below it: the floor less the reading, its fraction always added.
    {build, build - 1, 0, "00000000000000010000000000000000"},
    {build, build - 1, 999999, "0000000000000000000003e800000000"},
    {build, 5, 250000, "000000006b17487a2cb4178000000000"},
    // The record's limit, 2^31 - 1 s, on either side.
    {int64_t{INT32_MAX} + 1, 0, 0, nullptr},
    {int64_t{INT32_MAX} + 1, 0, 1, "000000007fffffff3b9ac61800000000"},
    {int64_t{INT32_MAX} + 2, 0, 1, nullptr},
    {4294944000, INT64_MIN, 0, nullptr},
};

TEST(Floor, Record)
{
    for (const floor_record_case& c : floor_record_cases) {
        unsigned char r[record_size];
        for (auto& b : r)
            b = 0xaa;
        const std::string row =
            std::to_string(c.floor) + " " + std::to_string(c.sec) + "." + std::to_string(c.usec);
        EXPECT_EQ(record_floor(c.floor, c.sec, c.usec, r), c.record != nullptr) << row;
        EXPECT_EQ(hex(r), c.record ? c.record : std::string(32, 'a')) << row;
    }
}

}
