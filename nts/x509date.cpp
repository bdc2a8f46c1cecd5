// SPDX-License-Identifier: ISC
#include "x509date.h"

namespace {

constexpr unsigned char tag_sequence = 0x30;
constexpr unsigned char tag_explicit0 = 0xa0;
constexpr unsigned char tag_utc = 0x17;
constexpr unsigned char tag_generalized = 0x18;

// One DER element at in[*at]: its tag, and its body as [*body, *body + *n).
bool element(const unsigned char* in, size_t len, size_t* at, unsigned char* tag, size_t* body,
    size_t* n)
{
    size_t i = *at;
    if (len - i < 2)
        return false;
    *tag = in[i++];
    size_t l = in[i++];
    if (l & 0x80) {
        size_t bytes = l & 0x7f;
        // Certificates are far below 16 MB.
        if (bytes == 0 || bytes > 3 || len - i < bytes)
            return false;
        l = 0;
        while (bytes--)
            l = l << 8 | in[i++];
    }
    if (len - i < l)
        return false;
    *body = i;
    *n = l;
    *at = i + l;
    return true;
}

bool digits(const unsigned char* p, int n, int* v)
{
    *v = 0;
    for (int k = 0; k < n; ++k) {
        if (p[k] < '0' || p[k] > '9')
            return false;
        *v = *v * 10 + (p[k] - '0');
    }
    return true;
}

// Days from 1970-01-01 to y-m-d of the proleptic Gregorian calendar.
int64_t days(int64_t y, int m, int d)
{
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}

bool asn1_time(bool generalized, const unsigned char* p, size_t len, int64_t* sec)
{
    size_t ylen = generalized ? 4 : 2;
    if (len != ylen + 11 || p[len - 1] != 'Z')
        return false;
    int y, mo, d, h, mi, s;
    if (!digits(p, static_cast<int>(ylen), &y) || !digits(p + ylen, 2, &mo)
        || !digits(p + ylen + 2, 2, &d) || !digits(p + ylen + 4, 2, &h)
        || !digits(p + ylen + 6, 2, &mi) || !digits(p + ylen + 8, 2, &s))
        return false;
    if (!generalized)
        y += y < 50 ? 2000 : 1900;
    static constexpr int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1 || d > mdays[mo - 1] || h > 23 || mi > 59 || s > 60)
        return false;
    // 29 February of a year that has none is not a date.
    if (mo == 2 && d == 29 && !(y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)))
        return false;
    *sec = days(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

bool cert_validity(const unsigned char* der, size_t len, int64_t* from, int64_t* until)
{
    unsigned char tag;
    size_t at = 0, body, n;
    // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version
    // OPTIONAL, serialNumber, signature, issuer, validity, ... } ... }
    if (!element(der, len, &at, &tag, &body, &n) || tag != tag_sequence)
        return false;
    size_t end = body + n;
    at = body;
    if (!element(der, end, &at, &tag, &body, &n) || tag != tag_sequence)
        return false;
    end = body + n;
    at = body;
    if (!element(der, end, &at, &tag, &body, &n))
        return false;
    if (tag == tag_explicit0 && !element(der, end, &at, &tag, &body, &n))
        return false;
    // The serial number was read; then the signature and the issuer.
    for (int k = 0; k < 2; ++k) {
        if (!element(der, end, &at, &tag, &body, &n) || tag != tag_sequence)
            return false;
    }
    if (!element(der, end, &at, &tag, &body, &n) || tag != tag_sequence)
        return false;
    end = body + n;
    at = body;
    int64_t* out[] = {from, until};
    for (int64_t* o : out) {
        if (!element(der, end, &at, &tag, &body, &n)
            || (tag != tag_utc && tag != tag_generalized)
            || !asn1_time(tag == tag_generalized, der + body, n, o))
            return false;
    }
    return true;
}
