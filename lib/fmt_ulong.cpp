// SPDX-License-Identifier: ISC
#include "fmt.h"

#include "div.h"

int fmt_ulong(char* s, uint64_t u)
{
    // The digits come out lowest first, into room for the most there can
    // be, then go to s in order.
    char d[20];
    int len = 0;
    do {
        uint64_t r;
        u = udiv64(u, 10, &r);
        d[len++] = static_cast<char>('0' + r);
    } while (u);
    if (s) {
        for (int i = 0; i < len; ++i)
            s[i] = d[len - 1 - i];
    }
    return len;
}
