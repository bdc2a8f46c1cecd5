// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>
#include <time.h>

// NTP timestamps are 32.32 fixed point: seconds since 1900 in the high 32
// bits (modulo 2^32, so the era that starts on 2036-02-07 06:28:16 UTC counts
// from 0 again) and the fraction of a second in the low 32 bits.

constexpr int64_t ns_per_sec = 1000000000;

// Seconds from 1900-01-01 to 1970-01-01.
constexpr uint32_t ntp_unix_epoch = 2208988800u;

// The NTP timestamp of a reading of CLOCK_REALTIME. Only the low 32 bits of
// the seconds count, so a 32-bit time_t that wrapped after 2038, or a clock
// that reads 1970 after a cold boot, still gives the right timestamp modulo
// the era. The fraction is rounded down.
uint64_t ntp_from_timespec(time_t sec, long nsec);

// a - b in nanoseconds, taken on the raw 64-bit values as a signed 64-bit
// difference: right whenever the two lie within 68 years of each other,
// whatever eras they are in. The result lies within +-2^31 seconds, so the
// sum or difference of two such results fits in 64 bits.
int64_t ntp_diff_ns(uint64_t a, uint64_t b);

// NTP short format (16.16, unsigned) in nanoseconds, rounded down.
uint64_t ntp_short_ns(uint32_t v);

// Splits nanoseconds into whole seconds rounded down and the nanoseconds
// that are added to them, 0 to 999999999: -0.25 s is -1 s + 750000000 ns.
void ns_split(int64_t ns, int64_t* sec, uint32_t* frac);

// The floor against one reading of the local clock. Below the floor a
// reading is not believed: the era of the server's timestamps is judged
// from the floor instead, and no offset may take the clock below it.
struct floor_ref {
    int64_t gap_ns; // the floor less the reading: above 0 when the clock
                    // reads below the floor; within +-2^62
    uint64_t ntp;   // the floor as an NTP timestamp
};

// The floor of floor_sec seconds since 1970 (0 .. 2^32 - 1) against a
// reading of sec and nsec. Any reading, however far off, gives a gap
// within +-2^62 ns, which holds every case that matters: a clock more than
// 136 years from the floor is out of the record's reach either way.
floor_ref ntp_floor(int64_t floor_sec, int64_t sec, long nsec);

// No floor: every reading is believed.
constexpr floor_ref no_floor = {-(int64_t{1} << 62), 0};
