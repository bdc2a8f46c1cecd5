// SPDX-License-Identifier: ISC
#include "x509date.h"

bool asn1_time(bool generalized, const unsigned char* p, size_t len, int64_t* sec)
{
    size_t ylen = generalized ? 4 : 2;
    if (len != ylen + 11 || p[len - 1] != 'Z')
        return false;
    // Year, month, day, hour, minute, second.
    uint32_t f[6];
    for (int k = 0; k < 6; ++k) {
        size_t n = k ? 2 : ylen;
        f[k] = 0;
        for (; n > 0; --n, ++p) {
            if (*p < '0' || *p > '9')
                return false;
            f[k] = f[k] * 10 + static_cast<uint32_t>(*p - '0');
        }
    }
    uint32_t y = f[0], mo = f[1], d = f[2];
    if (!generalized)
        y += y < 50 ? 2000 : 1900;
    static constexpr unsigned char mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1 || d > mdays[mo - 1] || f[3] > 23 || f[4] > 59 || f[5] > 60)
        return false;
    // 29 February of a year that has none is not a date.
    if (mo == 2 && d == 29 && !(y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)))
        return false;
    // Days of the proleptic Gregorian calendar, each year taken from March
    // so that a leap day comes last, from 400 years before year 0: all of
    // it in 32 bits and above zero.
    uint32_t ya = y + (mo <= 2 ? 399 : 400);
    uint32_t days = ya * 365 + ya / 4 - ya / 100 + ya / 400
        + (153 * (mo > 2 ? mo - 3 : mo + 9) + 2) / 5 + d - 1;
    // 865565 days from then to 1970-01-01.
    *sec = (static_cast<int64_t>(days) - 865565) * 86400 + f[3] * 3600 + f[4] * 60 + f[5];
    return true;
}
