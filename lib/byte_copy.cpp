// SPDX-License-Identifier: ISC
#include "byte.h"

void byte_copy(char* to, int n, const char* from)
{
    // Four bytes a pass; the tail is copied one at a time.
    while (n >= 4) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
        to[3] = from[3];
        to += 4;
        from += 4;
        n -= 4;
    }
    while (n > 0) {
        *to++ = *from++;
        --n;
    }
}
