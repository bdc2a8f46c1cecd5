// varnel: steps the system clock by the offset in a 16-byte record read from
// standard input, at the moment the shifted clock stands on a whole second.

#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

#include "offset.h"
#include "strerr.h"

namespace {

constexpr char fatal[] = "varnel: fatal: ";

unsigned char buf[record_size];
timeval tv;

[[noreturn]] void die_clock()
{
    strerr_die(111, fatal, "unable to gettimeofday: ", nullptr, nullptr, nullptr, nullptr,
        &strerr_sys);
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

    // A failed reading leaves tv as it was, and the sum would then set the
    // clock to a time that never was (where time_t is 32 bits, every reading
    // after January 2038 fails with EOVERFLOW), so each reading is checked.
    // The wait only places the setting: an early or interrupted wake-up
    // costs alignment, not correctness, so its result is not examined.
    if (gettimeofday(&tv, nullptr) == -1)
        die_clock();
    timeval wait = {0, static_cast<suseconds_t>(offset_delay(tv, off))};
    (void)select(1, nullptr, nullptr, nullptr, &wait);

    // The offset goes onto a fresh reading so the time spent waiting is not
    // lost; nothing but the sum stands between this reading and the setting.
    if (gettimeofday(&tv, nullptr) == -1)
        die_clock();
    offset_add(tv, off);
    if (settimeofday(&tv, nullptr) == -1)
        strerr_die(111, fatal, "unable to settimeofday: ", nullptr, nullptr, nullptr, nullptr,
            &strerr_sys);
    _exit(0);
}
