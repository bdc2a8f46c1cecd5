// SPDX-License-Identifier: ISC
// varnel: steps the system clock by the offset in a 16-byte record read from
// standard input, at the moment the shifted clock stands on a whole second.

#include <unistd.h>

#include "offset.h"
#include "step.h"
#include "strerr.h"

namespace {

constexpr char fatal[] = "varnel: fatal: ";

unsigned char buf[record_size];

}

int main()
{
    // The record must arrive whole in one read: a producer writes it with
    // one write, and anything less is refused rather than pieced together.
    if (read(0, buf, sizeof buf) != static_cast<ssize_t>(sizeof buf))
        strerr_die(111, fatal, record_split, nullptr, nullptr, nullptr, nullptr, nullptr);
    step_status s = step(offset_decode(buf));
    if (s != step_status::done) {
        bool sys = false;
        const char* words = step_words(s, &sys);
        strerr_die(111, fatal, words, nullptr, nullptr, nullptr, nullptr, sys ? &strerr_sys : nullptr);
    }
    _exit(0);
}
