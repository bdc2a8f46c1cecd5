// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// A measured offset holds for the moment it was measured. If the clock is
// slewed or stepped before the offset is written (by a keeper slewing out
// its last correction, say), the offset no longer holds and must be
// carried forward by what the clock did meanwhile. The raw monotonic clock,
// the oscillator itself, is the yardstick: against it the real-time clock
// moves at the kernel's frequency correction, plus any slew and step. The
// correction is part of keeping the clock's rate true, as true time moves
// on too; the slews and steps are corrections of the offset itself.

// When: the real-time clock as an NTP timestamp and the raw monotonic
// clock in nanoseconds, read one right after the other.
struct stamp {
    uint64_t real;
    int64_t raw;
};

// How far the clock moved from then to now beyond what the kernel's
// frequency correction kfreq (ppm * 2^16) accounts for: what to take off an
// offset measured then. The two stamps are at most an hour apart.
int64_t carry_ns(const stamp& then, const stamp& now, int64_t kfreq);

// That carries a sample forward past what was done to the clock, not past
// what the clock does by itself: while its rate is not yet corrected (a
// keeper's first measurements of a crystal thousands of ppm off), the
// offset grows between the samples of a burst, and the best of them may be
// seconds old. Two samples of one server, each carried forward: the offset
// and raw clock of the best and of another, and their errors (half their
// delays). Where the two differ by more than their errors, the offset grew
// between them, and the growth since the best one is returned; else 0.
struct carried {
    int64_t offset;
    int64_t raw;
    int64_t error;
};
int64_t growth_ns(const carried& best, const carried& other, int64_t now_raw);
