// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// The monotonic clock, in nanoseconds, for deadlines and spacing: it never
// jumps when the real clock is set.

// Reads it; false, with errno, when it cannot be read.
bool mono_now(int64_t* ns);

// The milliseconds from now until `until`, for poll: rounded up, so that a
// wait never ends early, and 0 once it has passed.
int mono_ms(int64_t now, int64_t until);

// The raw monotonic clock, the oscillator itself: neither stepped nor
// slewed, nor corrected in frequency. False, with errno, when it cannot be
// read.
bool mono_raw(int64_t* ns);
