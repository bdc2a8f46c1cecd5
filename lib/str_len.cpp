// SPDX-License-Identifier: ISC
#include "str.h"

int str_len(const char* s)
{
    // Four bytes a pass: texts here are short and this keeps the loop tight.
    int n = 0;
    for (;;) {
        if (!s[n])
            return n;
        if (!s[n + 1])
            return n + 1;
        if (!s[n + 2])
            return n + 2;
        if (!s[n + 3])
            return n + 3;
        n += 4;
    }
}
