// SPDX-License-Identifier: ISC
#include "floor.h"

// CMake passes the build date, already at midnight UTC: from
// SOURCE_DATE_EPOCH, else the last commit, so that a rebuild of the same
// source gives the same binary.
#ifndef VARNEL_FLOOR
#error "VARNEL_FLOOR, the build date in seconds since 1970, is not defined"
#endif
const int64_t floor_build = VARNEL_FLOOR;
static_assert(VARNEL_FLOOR >= 0 && VARNEL_FLOOR % 86400 == 0 && VARNEL_FLOOR < int64_t{1} << 32,
    "the floor is a midnight from 1970 to 2106");

namespace {

constexpr uint32_t sec_per_day = 86400;
constexpr uint32_t first_year = 1970;
constexpr uint32_t last_year = 2106;

bool leap(uint32_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

uint32_t month_days(uint32_t y, uint32_t m)
{
    constexpr uint32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Reads `n` decimal digits; false at anything else, the end of the text
// included, so nothing past it is ever read.
bool digits(const char*& p, int n, uint32_t* v)
{
    *v = 0;
    for (; n > 0; --n, ++p) {
        if (*p < '0' || *p > '9')
            return false;
        *v = *v * 10 + static_cast<uint32_t>(*p - '0');
    }
    return true;
}

}

bool floor_parse(const char* s, int64_t* sec)
{
    const char* p = s;
    uint32_t y, m, d;
    if (!digits(p, 4, &y) || *p++ != '-' || !digits(p, 2, &m) || *p++ != '-' ||
        !digits(p, 2, &d) || *p)
        return false;
    if (y < first_year || y > last_year || m < 1 || m > 12 || d < 1 || d > month_days(y, m))
        return false;
    // At most 137 years of days, so 32 bits hold the count and 64 the
    // seconds.
    uint32_t days = d - 1;
    for (uint32_t i = first_year; i < y; ++i)
        days += leap(i) ? 366u : 365u;
    for (uint32_t i = 1; i < m; ++i)
        days += month_days(y, i);
    int64_t t = int64_t{days} * sec_per_day;
    if (t >= int64_t{1} << 32)
        return false;
    *sec = t;
    return true;
}
