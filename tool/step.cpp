// SPDX-License-Identifier: ISC
#include "step.h"

#include <errno.h>
#include <sys/select.h>
#include <sys/time.h>

namespace {

timeval tv;

// Reads the clock into tv. Where time_t is 32 bits, a reading after January
// 2038 cannot be had: glibc refuses it with EOVERFLOW, while uClibc passes on
// the kernel's seconds cut to 32 bits, which read as a time before 1970. The
// kernel never holds such a time, so a negative reading is one that wrapped,
// and the sum would set the clock to a time that never was.
step_status read_clock()
{
    if (gettimeofday(&tv, nullptr) == -1)
        return errno == EOVERFLOW ? step_status::beyond_range : step_status::unreadable;
    return tv.tv_sec < 0 ? step_status::beyond_range : step_status::done;
}

}

step_status step(const offset& off)
{
    // A failed reading would leave tv as it was, so each one is checked.
    // The wait only places the setting: an early or interrupted wake-up
    // costs alignment, not correctness, so its result is not examined.
    if (step_status s = read_clock(); s != step_status::done)
        return s;
    timeval wait = {0, static_cast<suseconds_t>(offset_delay(tv, off))};
    (void)select(1, nullptr, nullptr, nullptr, &wait);

    // The offset goes onto a fresh reading so the time spent waiting is not
    // lost; nothing but the sum stands between this reading and the setting.
    if (step_status s = read_clock(); s != step_status::done)
        return s;
    offset_add(tv, off);
    return settimeofday(&tv, nullptr) == -1 ? step_status::refused : step_status::done;
}

const char* step_words(step_status s, bool* with_errno)
{
    *with_errno = s != step_status::beyond_range;
    switch (s) {
    case step_status::unreadable:
        return "unable to gettimeofday: ";
    case step_status::beyond_range:
        return "clock reading beyond the range of time_t";
    default:
        return "unable to settimeofday: ";
    }
}
