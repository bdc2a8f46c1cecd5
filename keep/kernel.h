// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

#include "kfreq.h"

// The kernel's side of keeping the clock: its frequency correction split
// between the tick and the frequency, the slew of an offset, and the status
// that tells the kernel and every program reading adjtimex(2) that the
// clock is synchronised.

// The kernel takes a frequency within +-500 ppm. The tick stays where it is
// while the frequency needed is within +-400 ppm of it, so that a small
// change never moves the tick back and forth; moved, it is set so that the
// frequency is within +-50 ppm.
constexpr int64_t freq_keep = 400 * ppm_scale;

struct ktick {
    long tick; // microseconds per 1/USER_HZ s
    long freq; // ppm * 2^16
};

// The tick and frequency that make the correction total (clamped to
// +-correction_max), keeping the tick `now` where it can.
ktick split(int64_t total, long now);

// The kernel's slew of a phase offset runs at 1/2^(2 + constant) of what is
// left each second: the constant is chosen for the interval between
// measurements, so that a slew is mostly done before the next measures it.
long slew_constant(int64_t interval_ns);

// What to tell the kernel, besides the correction.
enum class tell : uint8_t {
    nothing, // only read it into *k
    rate,    // set the correction alone
    all,     // set the correction; slew the offset (within +-0.5 s),
             // replacing whatever was left of the last slew, with the
             // frequency held where it is set; and mark the clock
             // synchronised, with its errors in microseconds
};

// One adjtimex(2) call. False with errno on failure.
bool kernel(tell what, ktick* k, long offset_ns = 0, long constant = 0, long maxerror_us = 0,
    long esterror_us = 0);
