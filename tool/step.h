// SPDX-License-Identifier: ISC
#pragma once

#include "offset.h"

// The step varnel makes, and varnel-keep with its first record and with any
// offset too large to slew: read the clock, wait until the clock shifted by
// the offset stands on a whole second, read the clock again, add the offset,
// set the clock. The clock is changed at most once, by the last call, and
// is left as it was on every failure.
enum class step_status : unsigned char {
    done,
    unreadable,   // gettimeofday failed; errno says why
    beyond_range, // a 32-bit time_t cannot hold the reading (after 2038)
    refused,      // settimeofday failed; errno says why
};

step_status step(const offset& off);

// The words of a failed step, to follow a program's fatal prefix; where
// *with_errno is set, the text of errno completes the line.
const char* step_words(step_status s, bool* with_errno);
