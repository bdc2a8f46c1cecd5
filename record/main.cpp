// SPDX-License-Identifier: ISC
// varnel-record: writes the 16-byte record for the decimal offset given as
// its one argument, or with -f the record that raises a clock standing below
// the time floor to the floor, in a single write, for piping into varnel.

#include <errno.h>
#include <sys/time.h>
#include <unistd.h>

#include "floor.h"
#include "record.h"
#include "strerr.h"

namespace {

constexpr char fatal[] = "varnel-record: fatal: ";

unsigned char buf[record_size];

[[noreturn]] void refuse(const char* why, const char* text)
{
    strerr_die(100, fatal, why, text, nullptr, nullptr, nullptr, nullptr);
}

[[noreturn]] void fail(const char* why, const strerr* chain)
{
    strerr_die(111, fatal, why, nullptr, nullptr, nullptr, nullptr, chain);
}

// The floor record for the clock as it reads now, read as varnel reads it.
// Where time_t is 32 bits a reading after January 2038 fails (glibc,
// EOVERFLOW) or comes back cut to 32 bits, a time before 1970 (uClibc).
// Taken as true, the cut one would be a clock far below the floor, and the
// record would raise it by decades it is not behind. The kernel never holds
// a time before 1970, so a negative reading is a wrapped one; both are
// refused, as varnel refuses them.
void floor_record(int64_t floor)
{
    timeval tv;
    bool wrapped = false;
    if (gettimeofday(&tv, nullptr) == -1) {
        if (errno != EOVERFLOW)
            fail("unable to gettimeofday: ", &strerr_sys);
        wrapped = true;
    }
    if (wrapped || tv.tv_sec < 0)
        fail("clock reading beyond the range of time_t", nullptr);
    if (!record_floor(floor, tv.tv_sec, static_cast<uint32_t>(tv.tv_usec), buf))
        fail("clock more than 2147483647 s below the floor", nullptr);
}

}

int main(int argc, char** argv)
{
    bool floor_mode = argc >= 2 && argv[1][0] == '-' && argv[1][1] == 'f' && !argv[1][2];
    int64_t floor = floor_build;
    if (floor_mode ? argc > 3 : argc != 2)
        strerr_die(100,
            "varnel-record: usage: varnel-record [+|-]seconds[.fraction] | varnel-record -f "
            "[YYYY-MM-DD]",
            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (floor_mode) {
        if (argc == 3 && !floor_parse(argv[2], &floor))
            refuse("not a date from 1970-01-01 to 2106-02-07: ", argv[2]);
    } else {
        switch (record_encode(argv[1], buf)) {
        case record_error::none:
            break;
        case record_error::empty:
            refuse("empty offset", nullptr);
        case record_error::syntax:
            refuse("not a decimal offset: ", argv[1]);
        case record_error::precision:
            refuse("more than nine fractional digits: ", argv[1]);
        case record_error::range:
            refuse("seconds outside the signed 32-bit range: ", argv[1]);
        }
    }
    // The record is binary: it goes into varnel, never onto a screen.
    if (isatty(1))
        refuse("standard output is a terminal: pipe it into varnel", nullptr);
    if (floor_mode)
        floor_record(floor);

    // One write: varnel takes the record only if it arrives whole.
    ssize_t w = write(1, buf, sizeof buf);
    if (w == -1)
        fail("unable to write record: ", &strerr_sys);
    if (w != static_cast<ssize_t>(sizeof buf))
        fail("record written only in part", nullptr);
    _exit(0);
}
