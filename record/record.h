// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

#include "offset.h"

enum class record_error {
    none,
    empty,     // no text at all
    syntax,    // not [+-]digits[.digits]
    precision, // more than nine fractional digits
    range,     // the seconds do not fit in a signed 32-bit value
};

// Turns a decimal offset such as "2.5", "+2.5", "-0.25" or "0" into the
// 16-byte record varnel reads. A negative offset has its seconds rounded down
// and its fraction added: "-0.25" gives seconds -1 and 750000000 ns. The
// leading and trailing fields are zero. On an error `out` is left untouched.
record_error record_encode(const char* text, unsigned char* out);

// Fills the 16-byte record for `sec` seconds plus `ns` nanoseconds (below
// 10^9), the leading and trailing fields zero.
void record_put(int32_t sec, uint32_t ns, unsigned char* out);

// Fills the record that raises a clock reading `sec` s + `usec` us (below
// 10^6) to `floor` s: the floor less the reading, or the zero record where
// the reading is at or above the floor. False, with `out` untouched, where
// the difference does not fit the record's signed 32-bit seconds.
bool record_floor(int64_t floor, int64_t sec, uint32_t usec, unsigned char* out);
