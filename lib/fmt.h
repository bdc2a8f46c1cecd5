// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// Number formatting into a caller's buffer. Each function writes the text
// without a terminating NUL and returns its length; with a null buffer it
// only returns the length the text would take.

// The longest text any of them writes: a sign, twenty digits, a point and
// nine digits.
constexpr int fmt_max = 31;

// u in decimal, without leading zeros ("0" for zero).
int fmt_ulong(char* s, uint64_t u);

// ns nanoseconds as seconds with all nine decimals: 52345 gives
// "0.000052345".
int fmt_nsec(char* s, uint64_t ns);

// The same with a sign always written: "+3.250001234", "-0.250000000",
// "+0.000000000".
int fmt_snsec(char* s, int64_t ns);
