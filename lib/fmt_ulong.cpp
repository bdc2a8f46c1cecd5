// SPDX-License-Identifier: ISC
#include "fmt.h"

int fmt_ulong(char* s, uint64_t u)
{
    // Count the digits first, then fill them in from the right.
    int len = 1;
    for (uint64_t q = u; q > 9; q /= 10)
        ++len;
    if (s) {
        for (int i = len - 1; i >= 0; --i) {
            s[i] = static_cast<char>('0' + u % 10);
            u /= 10;
        }
    }
    return len;
}
