// SPDX-License-Identifier: ISC
#pragma once

#include <stdio.h>

#include <string>

#include "offset.h"

// A 16-byte record as hex: leading field, seconds, nanoseconds, trailing
// field.
inline std::string hex(const unsigned char* r)
{
    char s[2 * record_size + 1];
    for (int i = 0; i < record_size; ++i)
        snprintf(s + 2 * i, 3, "%02x", r[i]);
    return s;
}
