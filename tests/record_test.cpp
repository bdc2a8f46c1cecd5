#include <gtest/gtest.h>

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

}
