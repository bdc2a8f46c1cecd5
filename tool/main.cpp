// SPDX-License-Identifier: ISC
// varnel: steps the system clock by the offset in a 16-byte record read from
// standard input, at the moment the shifted clock stands on a whole second.

#include <errno.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

#include "offset.h"
#include "strerr.h"

namespace {

constexpr char fatal[] = "varnel: fatal: ";

unsigned char buf[record_size];
timeval tv;

// Reads the clock into tv, or dies. Where time_t is 32 bits, a reading after
// January 2038 cannot be had: glibc refuses it with EOVERFLOW, while uClibc
// passes on the kernel's seconds cut to 32 bits, which read as a time before
// 1970. The kernel never holds such a time, so a negative reading is one that
// wrapped, and the sum would set the clock to a time that never was.
void read_clock()
{
    bool wrapped = false;
    if (gettimeofday(&tv, nullptr) == -1) {
        if (errno != EOVERFLOW)
            strerr_die(111, fatal, "unable to gettimeofday: ", nullptr, nullptr, nullptr,
                nullptr, &strerr_sys);
        wrapped = true;
    }
    if (wrapped || tv.tv_sec < 0)
        strerr_die(111, fatal, "clock reading beyond the range of time_t", nullptr, nullptr,
            nullptr, nullptr, nullptr);
}

}

int main()
{
    // The record must arrive whole in one read: a producer writes it with
    // one write, and anything less is refused rather than pieced together.
    if (read(0, buf, sizeof buf) != static_cast<ssize_t>(sizeof buf))
        strerr_die(111, fatal, "data split across packets", nullptr, nullptr, nullptr, nullptr,
            nullptr);
    const offset off = offset_decode(buf);

    // A failed reading would leave tv as it was, so each one is checked.
    // The wait only places the setting: an early or interrupted wake-up
    // costs alignment, not correctness, so its result is not examined.
    read_clock();
    timeval wait = {0, static_cast<suseconds_t>(offset_delay(tv, off))};
    (void)select(1, nullptr, nullptr, nullptr, &wait);

    // The offset goes onto a fresh reading so the time spent waiting is not
    // lost; nothing but the sum stands between this reading and the setting.
    read_clock();
    offset_add(tv, off);
    if (settimeofday(&tv, nullptr) == -1)
        strerr_die(111, fatal, "unable to settimeofday: ", nullptr, nullptr, nullptr, nullptr,
            &strerr_sys);
    _exit(0);
}
