// SPDX-License-Identifier: ISC
#include "name.h"

namespace {

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

size_t trimmed(const char* p, size_t n)
{
    return n > 0 && p[n - 1] == '.' ? n - 1 : n;
}

}

bool dns_match(const char* pattern, size_t plen, const char* name, size_t nlen)
{
    plen = trimmed(pattern, plen);
    nlen = trimmed(name, nlen);
    if (plen == 0 || nlen == 0)
        return false;
    if (pattern[0] == '*') {
        // "*.example.org": the host's first label, then the rest alike.
        size_t k = 0;
        while (k < nlen && name[k] != '.')
            ++k;
        size_t dot = 2;
        while (dot < plen && pattern[dot] != '.')
            ++dot;
        if (plen < 2 || pattern[1] != '.' || dot >= plen - 1 || k == 0)
            return false;
        ++pattern, --plen;
        name += k, nlen -= k;
    }
    if (plen != nlen)
        return false;
    for (size_t k = 0; k < plen; ++k) {
        if (pattern[k] == '*' || lower(pattern[k]) != lower(name[k]))
            return false;
    }
    return true;
}
