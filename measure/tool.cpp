// SPDX-License-Identifier: ISC
// What varnel-sntp and varnel-nts share around the run: the descriptors,
// the signals, the options and the result, one 16-byte record in a single
// write or the lines of -n; under -k, again after each measurement.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "error.h"
#include "interval.h"
#include "mono.h"
#include "nonce.h"
#include "ntptime.h"
#include "options.h"
#include "record.h"
#include "run.h"
#include "say.h"
#include "strerr.h"
#include "substdio.h"
#include "timed.h"

namespace {

const char* fatal;

unsigned char buf[record_size];

// What a bad option value is refused with, by opt_error; the value follows.
constexpr const char* refusals[] = {
    nullptr,
    nullptr,
    "bad deadline, not 0.1 to 60 seconds: ",
    "bad count, not 1 to 8: ",
    "bad cap, not a decimal number of seconds: ",
    "bad start delay, not 0 to 3600 seconds: ",
    "bad floor, not a date from 1970-01-01 to 2106-02-07: ",
    "bad interval, not 1 to 131072 seconds: ",
};
static_assert(sizeof refusals / sizeof refusals[0] == static_cast<int>(opt_error::interval) + 1);
static_assert(static_cast<int>(opt_error::sources) == static_cast<int>(opt_error::interval) + 1);

[[noreturn]] void die(int status, const char* t1, const char* t2, const strerr* chain)
{
    run_end();
    strerr_die(status, fatal, t1, t2, nullptr, nullptr, nullptr, chain);
}

// Descriptors 0 and 2 are made to exist, on /dev/null, so that no socket
// takes their numbers: a diagnostic must never go out as a datagram. A
// closed standard output is a failure to write the result.
void descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (open("/dev/null", O_RDWR) != fd)
            _exit(111);
        if (fd == 1) {
            errno = EBADF;
            die(111, "unable to write: ", nullptr, &strerr_sys);
        }
    }
}

// The offset as one record, in one write: varnel takes the record only if
// it arrives whole. Whether it went out: a reader that stalls past the
// deadline loses it.
bool put_record(int64_t offset)
{
    int64_t sec;
    uint32_t ns;
    ns_split(offset, &sec, &ns);
    // The checks left the seconds within the signed 32-bit range.
    record_put(static_cast<int32_t>(sec), ns, buf);
    int w = timed_write(1, reinterpret_cast<const char*>(buf), sizeof buf);
    if (w == -1 && errno != error_timeout)
        die(111, "unable to write: ", nullptr, &strerr_sys);
    if (w != -1 && w != static_cast<int>(sizeof buf))
        die(111, "record written only in part", nullptr, nullptr);
    return w != -1;
}

[[noreturn]] void lines_lost()
{
    errno = say_failed();
    die(111, "unable to write: ", nullptr, &strerr_sys);
}

int64_t now_mono()
{
    int64_t ns;
    if (!mono_now(&ns))
        die(111, "unable to clock_gettime: ", nullptr, &strerr_sys);
    return ns;
}

// Waits until the monotonic clock reaches `until`, ending the program, as
// a failed write, once its output is closed: the keeper it fed is gone.
void pause_until(int64_t until)
{
    for (int64_t now = now_mono(); now < until; now = now_mono()) {
        pollfd p = {1, 0, 0};
        int ms = mono_ms(now, until);
        int rc = poll(&p, 1, ms > 60000 ? 60000 : ms);
        if (rc == -1 && errno != error_intr)
            die(111, "unable to poll: ", nullptr, &strerr_sys);
        if (rc == 1 && p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            errno = error_pipe;
            die(111, "unable to write: ", nullptr, &strerr_sys);
        }
    }
}

// -k: a measurement, its record or lines, the interval, and again. A
// failed measurement says why in one line and writes nothing.
[[noreturn]] void keep(const tool& t, const options& o, int argc, char** argv)
{
    run_begin(t, o, argc, argv);
    interval iv;
    interval_start(&iv, o.interval_min_ns, o.interval_max_ns);
    for (;;) {
        int64_t began = now_mono();
        result r;
        failure f;
        if (measure(&r, &f)) {
            if (o.human && say_failed())
                lines_lost();
            if (!o.human && !put_record(r.offset))
                strerr_warn(t.warning, "unable to write: ", error_str(error_timeout), nullptr,
                    nullptr, nullptr, nullptr);
            interval_good(&iv, r.offset, r.error);
        } else {
            errno = f.err;
            strerr_warn(t.warning, f.words[0], f.words[1], f.words[2], f.words[3], nullptr,
                f.sys ? &strerr_sys : nullptr);
            interval_failed(&iv);
        }
        // A little later than the interval, by chance: a fleet started
        // together drifts apart rather than asking in step for ever.
        uint64_t spread = jitter_get() % (iv.ns / 16 + 1);
        pause_until(began + static_cast<int64_t>(iv.ns + spread));
    }
}

}

int tool_main(const tool& t, int argc, char** argv)
{
    fatal = t.fatal;
    descriptors();
    // A reader that went away is a failed write to report, with status 111,
    // not a death by signal.
    // A parent that left SIGCHLD ignored would have the kernel reap the
    // resolver's child before we could wait for it.
    // SIGTERM ends the program quietly, even where the parent ignored it.
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR || signal(SIGCHLD, SIG_DFL) == SIG_ERR
        || signal(SIGTERM, SIG_DFL) == SIG_ERR)
        die(111, "unable to signal: ", nullptr, &strerr_sys);
    // A reader that does not read holds up neither the measuring nor the
    // end: diagnostics are dropped when they cannot go out at once, and the
    // result (the lines of -n, the record) when not by the deadline.
    subfderr->write_op = nowait_write;
    subfdout->write_op = timed_write;
    options o;
    o.tls = t.tls;
    const char* bad = nullptr;
    opt_error oe = options_parse(argc, argv, &o, &bad);
    if (oe == opt_error::usage)
        strerr_die(100, t.usage, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (oe == opt_error::sources)
        die(100, "more than 16 servers", nullptr, nullptr);
    if (oe == opt_error::cafiles)
        die(100, "more than 8 CA files", nullptr, nullptr);
    if (oe == opt_error::order)
        die(100, "shortest interval above the longest", nullptr, nullptr);
    if (oe != opt_error::none)
        die(100, refusals[static_cast<int>(oe)], bad, nullptr);
    // The record is binary: it goes into varnel, never onto a screen.
    if (!o.human && isatty(1))
        die(100, "standard output is a terminal: pipe it into varnel, or use -n", nullptr,
            nullptr);
    say_to(o.human ? subfdout : o.verbose ? subfderr : nullptr);
    if (o.keep)
        keep(t, o, argc, argv);

    int64_t offset = run(t, o, argc, argv);
    if (o.human && say_failed())
        lines_lost();
    if (!o.human && !put_record(offset))
        die(111, "unable to write: ", nullptr, &strerr_sys);
    run_end();
    _exit(0);
}
