// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// 64-bit division without the compiler's runtime routines, which on a
// 32-bit CPU take four kilobytes a program: a bit at a time, slow but small,
// for the few divisions a record or a line of text needs.

// n / d and n % d for d > 0.
uint64_t udiv64(uint64_t n, uint64_t d, uint64_t* rem);

// n / d for d > 0, rounded toward zero as C rounds; *rem, when given, gets
// n - d * (n / d), which has n's sign.
int64_t div64(int64_t n, int64_t d, int64_t* rem = nullptr);
