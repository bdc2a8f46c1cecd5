// SPDX-License-Identifier: ISC
#include "kernel.h"

#include <sys/timex.h>

#include "div.h"

namespace {

constexpr int64_t tick_ppm = user_hz * ppm_scale; // one microsecond of tick

}

ktick split(int64_t total, long now)
{
    total = total < -correction_max ? -correction_max
        : total > correction_max    ? correction_max
                                    : total;
    int64_t tick = now;
    int64_t freq = total - (tick - tick_nominal) * tick_ppm;
    if (freq < -freq_keep || freq > freq_keep) {
        // The nearest tick, rounding half away from zero.
        tick = tick_nominal + div64(total + (total < 0 ? -tick_ppm : tick_ppm) / 2, tick_ppm);
        freq = total - (tick - tick_nominal) * tick_ppm;
    }
    return {static_cast<long>(tick), static_cast<long>(freq)};
}

long slew_constant(int64_t interval_ns)
{
    // 2^(2 + constant) s at most a quarter of the interval: a slew is then
    // 98 % done by the next measurement.
    long c = 0;
    while (c < 10 && interval_ns >> 30 >= int64_t{16} << c)
        ++c;
    return c;
}

bool kernel(tell what, ktick* k, long offset_ns, long constant, long maxerror_us,
    long esterror_us)
{
    timex t = {};
    if (what != tell::nothing) {
        t.modes = ADJ_TICK | ADJ_FREQUENCY;
        t.tick = k->tick;
        t.freq = k->freq;
    }
    if (what == tell::all) {
        // Phase-locked mode only for its slew of the offset: the frequency
        // is held, as ours is estimated from the whole history. STA_UNSYNC
        // is cleared by leaving it out. The kernel caps the errors at 16 s.
        t.modes |= ADJ_STATUS | ADJ_NANO | ADJ_TIMECONST | ADJ_OFFSET | ADJ_MAXERROR
            | ADJ_ESTERROR;
        t.status = STA_PLL | STA_FREQHOLD;
        t.constant = constant;
        t.offset = offset_ns;
        t.maxerror = maxerror_us;
        t.esterror = esterror_us;
    }
    if (adjtimex(&t) == -1)
        return false;
    *k = {t.tick, t.freq};
    return true;
}
