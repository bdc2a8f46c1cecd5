// varnel-record: writes the 16-byte record for the decimal offset given as
// its one argument, in a single write, for piping into varnel.

#include <unistd.h>

#include "record.h"
#include "strerr.h"

namespace {

constexpr char fatal[] = "varnel-record: fatal: ";

unsigned char buf[record_size];

[[noreturn]] void refuse(const char* why, const char* text)
{
    strerr_die(100, fatal, why, text, nullptr, nullptr, nullptr, nullptr);
}

}

int main(int argc, char** argv)
{
    if (argc != 2)
        strerr_die(100, "varnel-record: usage: varnel-record [+|-]seconds[.fraction]", nullptr,
            nullptr, nullptr, nullptr, nullptr, nullptr);
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

    // One write: varnel takes the record only if it arrives whole.
    ssize_t w = write(1, buf, sizeof buf);
    if (w == -1)
        strerr_die(111, fatal, "unable to write record: ", nullptr, nullptr, nullptr, nullptr,
            &strerr_sys);
    if (w != static_cast<ssize_t>(sizeof buf))
        strerr_die(111, fatal, "record written only in part", nullptr, nullptr, nullptr, nullptr,
            nullptr);
    _exit(0);
}
