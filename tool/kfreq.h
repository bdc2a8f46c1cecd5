// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// How the kernel corrects the system clock's rate against its oscillator,
// as adjtimex(2) holds it: the tick, microseconds added per 1/USER_HZ s
// (10000 nominal, 9000 to 11000 accepted), and the frequency, in ppm with
// 16 fractional bits (within +-500 ppm). Taken together they are one
// frequency correction, here in the same scaled ppm.

constexpr int64_t ppm_scale = 65536;
// The largest correction varnel-keep makes, +-5 % of the oscillator: a
// crystal that far off is broken, and half the tick's +-10 % is left as
// margin.
constexpr int64_t correction_max = 50000 * ppm_scale;
// USER_HZ, 100 on every Linux architecture this runs on; it is part of the
// kernel's ABI, not its configuration (CONFIG_HZ may be 250).
constexpr long user_hz = 100;
constexpr long tick_nominal = 1000000 / user_hz;

// tick and freq as one correction, in scaled ppm: a tick one microsecond
// long adds USER_HZ microseconds a second, USER_HZ ppm.
inline int64_t kfreq_total(long tick, long freq)
{
    return (int64_t{tick} - tick_nominal) * user_hz * ppm_scale + freq;
}

// The nanoseconds a rate of `scaled` ppm * 2^16 gains over ns nanoseconds,
// rounded toward zero: exact for rates within +-2^33 (131072 ppm, beyond
// any the kernel takes) and spans within +-2^46 ns (19 hours), whose
// products then stay below 2^63.
int64_t ppm_of(int64_t scaled, int64_t ns);

// Reads the kernel's correction now, changing nothing (adjtimex with no
// mode bits, which needs no privilege); false, with errno, when the kernel
// cannot say.
bool kfreq_read(int64_t* total);
