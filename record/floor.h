// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// The time floor: no clock that this build sets is taken to stand earlier
// than it. A device without a battery boots at 1970, and a reading that far
// back is neither a time to keep nor a sound base for choosing an NTP era.

// The earliest time this build believes a clock can read: its build date,
// in seconds since 1970, at 00:00:00 UTC of that day.
extern const int64_t floor_build;

// Reads "YYYY-MM-DD" (UTC midnight of that day), from 1970-01-01 up to
// dates below 2^32 seconds (2106-02-07); false for anything else,
// including impossible dates such as 2026-02-30.
bool floor_parse(const char* s, int64_t* sec);
