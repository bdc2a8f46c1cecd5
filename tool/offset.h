// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>
#include <sys/time.h>

// The offset a record carries. A negative offset has its seconds rounded
// down and a fraction that is still added: -0.25 s is -1 s + 750000 us.
struct offset {
    int32_t sec;
    uint32_t usec; // the nanosecond field / 1000: up to 4294967, not checked
};

// The record is 16 bytes: seconds in bytes 4..7 (big-endian, signed) and
// nanoseconds in bytes 8..11 (big-endian, unsigned). The rest is ignored.
constexpr int record_size = 16;

// What a read that did not bring exactly one whole record is refused with.
constexpr char record_split[] = "data split across packets";

offset offset_decode(const unsigned char* record);

// The microseconds to wait from the clock reading `now` until the clock
// shifted by `off` stands on a whole second: 1 to 1000000, never 0. A
// reading already on the second waits a full second.
uint32_t offset_delay(const timeval& now, const offset& off);

// Adds `off` to `t` with one carry from the microseconds into the seconds.
// The seconds wrap modulo the width of time_t. A nanosecond field of 10^9 or
// more can leave the microseconds at 1000000 or more; settimeofday refuses
// such a value.
void offset_add(timeval& t, const offset& off);
