// SPDX-License-Identifier: ISC
#include "byte.h"

bool byte_equal(const char* a, int n, const char* b)
{
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}
