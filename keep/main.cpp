// SPDX-License-Identifier: ISC
// varnel-keep: keeps the system clock right from a stream of 16-byte offset
// records, one per measurement: steps the clock by the first as varnel
// does, then slews out each offset and corrects the kernel's frequency, so
// that the clock stays right between measurements.

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include "div.h"
#include "drift.h"
#include "estimate.h"
#include "fmt.h"
#include "kernel.h"
#include "offset.h"
#include "step.h"
#include "str.h"
#include "strerr.h"

namespace {

constexpr char fatal[] = "varnel-keep: fatal: ";
constexpr char warning[] = "varnel-keep: warning: ";

// Offsets up to this are slewed, larger ones stepped: ntpd's 0.128 s. At
// most the 0.5 s the kernel slews.
constexpr uint32_t threshold_max_ns = 500000000;

// The drift file is first written once the frequency is known to a few
// ppm; then when it has moved by more than a ppm, at most once an hour, as
// flash wears out; and at a clean end.
constexpr int64_t drift_known = 3 * ppm_scale;
constexpr int64_t drift_moved = ppm_scale;
constexpr int64_t drift_every_ns = 3600 * int64_t{1000000000};

constexpr int64_t ns_per_sec = 1000000000;

unsigned char buf[record_size];
const char* drift_path;
uint32_t threshold = 128000000;

estimate est;
ktick kernel_now; // the correction the kernel holds
int64_t last_raw; // when the last record was taken
bool stepped;     // the first record has been

// The drift file: the correction it holds, and when it was last tried.
int64_t saved = INT64_MAX;
int64_t tried_at = INT64_MIN;

int64_t magnitude(int64_t v)
{
    // Every value here is far from INT64_MIN.
    return v < 0 ? -v : v;
}

void save(bool at_end)
{
    // Only what measurements taught, and known well enough; at a clean end,
    // whatever they taught where the file holds nothing, which is better
    // than the nothing a restart would otherwise start from.
    bool known = est.spread <= drift_known || (at_end && est.n >= 2 && saved == INT64_MAX);
    if (!drift_path || !known)
        return;
    int64_t moved = magnitude(est.freq - saved);
    if (saved != INT64_MAX
        && (at_end ? moved == 0 : moved <= drift_moved || last_raw - tried_at < drift_every_ns))
        return;
    tried_at = last_raw;
    const char* call = nullptr;
    if (!drift_write(drift_path, est.freq, &call)) {
        strerr_warn(warning, "unable to write the drift file ", drift_path, ": ", call, ": ",
            &strerr_sys);
        return;
    }
    saved = est.freq;
}

[[noreturn]] void die(const char* why, const strerr* chain)
{
    int e = errno;
    save(true);
    errno = e;
    strerr_die(111, fatal, why, nullptr, nullptr, nullptr, nullptr, chain);
}

[[noreturn]] void die_sys(const char* why)
{
    die(why, &strerr_sys);
}

// varnel's line for a step that failed, or would.
[[noreturn]] void die_step(step_status s)
{
    bool sys = false;
    const char* words = step_words(s, &sys);
    die(words, sys ? &strerr_sys : nullptr);
}

void step_or_die(const offset& off)
{
    if (step_status s = step(off); s != step_status::done)
        die_step(s);
}

void apply()
{
    offset off = offset_decode(buf);
    // What varnel would have the kernel refuse is refused here, whole.
    if (off.usec > 999999) {
        errno = EINVAL;
        die_step(step_status::refused);
    }
    int64_t o = off.sec * ns_per_sec + int64_t{off.usec} * 1000;
    // The point: the raw clock, and the true time less it, read together.
    // As varnel, a 32-bit time_t past January 2038 is refused.
    timespec raw, real;
    if (clock_gettime(CLOCK_MONOTONIC_RAW, &raw) == -1
        || clock_gettime(CLOCK_REALTIME, &real) == -1)
        die_sys("unable to clock_gettime: ");
    if (real.tv_sec < 0)
        die_step(step_status::beyond_range);
    point p = {raw.tv_sec * ns_per_sec + raw.tv_nsec, 0};
    p.u = o + real.tv_sec * ns_per_sec + real.tv_nsec - p.raw;
    bool first = !stepped;
    int64_t since_last = first ? 0 : p.raw - last_raw;
    if (first)
        step_or_die(off);
    stepped = true;
    if (estimate_add(&est, p) == take::held)
        return;
    last_raw = p.raw;
    // The offset as the line through the history puts it now: the record's
    // own, less its scatter. It is the whole offset, the part of the last
    // slew not yet made included, so it replaces that slew.
    int64_t slew = first ? 0 : o - est.last;
    if (magnitude(slew) > threshold) {
        // Far off the line, yet no spike: the history is new, or a change
        // was confirmed, and the line runs through the record.
        step_or_die(off);
        // The record's offset in seconds, to its microseconds: -0.25 s came
        // as -1 s and 750000 us.
        char num[24];
        bool minus = off.sec < 0;
        uint32_t sec = static_cast<uint32_t>(off.sec), usec = off.usec;
        if (minus) {
            sec = 0 - sec - (usec != 0);
            usec = usec ? 1000000 - usec : 0;
        }
        int n = 0;
        num[n++] = minus ? '-' : '+';
        n += fmt_ulong(num + n, sec);
        num[n++] = '.';
        for (uint32_t d = 100000; d; d /= 10)
            num[n++] = static_cast<char>('0' + usec / d % 10);
        num[n] = '\0';
        strerr_warn(warning, "stepped the clock by ", num, " s", nullptr, nullptr, nullptr);
        slew = 0;
    }
    // The errors the kernel keeps, in microseconds: the scatter, and at
    // most the slew yet to come, the record's distance from the line and
    // four times the scatter; from there it adds 0.5 ms a second by itself
    // until told again, and calls the clock unsynchronised past 16 s.
    int64_t est_us = est.scatter / 1000;
    int64_t max_us = div64(magnitude(slew) + magnitude(est.last), 1000) + 4 * est_us + 1;
    ktick k = est.n >= 2 ? split(est.freq, kernel_now.tick) : kernel_now;
    if (!kernel(tell::all, &k, static_cast<long>(slew), slew_constant(since_last),
            static_cast<long>(max_us < 16000000 ? max_us : 16000000), static_cast<long>(est_us)))
        die_sys("unable to adjtimex: ");
    kernel_now = k;
    save(false);
}

// -F FILE and -s SECONDS; the drift file read and its correction applied.
void start(int argc, char** argv)
{
    for (int i = 1; i < argc; i += 2) {
        const char* a = argv[i];
        const char* v = argv[i + 1];
        if (a[0] != '-' || (a[1] != 'F' && a[1] != 's') || a[2] || !v)
            strerr_die(100, "varnel-keep: usage: varnel-keep [-F file] [-s seconds]", nullptr,
                nullptr, nullptr, nullptr, nullptr, nullptr);
        const char* bad = nullptr;
        if (a[1] == 's' && (!scan_fixed(v, 9, &threshold) || !threshold || threshold > threshold_max_ns))
            bad = "bad threshold, not above 0 and up to 0.5 seconds: ";
        if (a[1] == 'F' && (!*v || str_len(v) > drift_name_max))
            bad = "bad drift file name, empty or over 255 bytes: ";
        if (bad)
            strerr_die(100, fatal, bad, v, nullptr, nullptr, nullptr, nullptr);
        if (a[1] == 'F')
            drift_path = v;
    }
    // Without a drift file, from the kernel's correction as it stands.
    if (!kernel(tell::nothing, &kernel_now))
        die_sys("unable to adjtimex: ");
    est.freq = kfreq_total(kernel_now.tick, kernel_now.freq);
    if (!drift_path)
        return;
    static constexpr const char* why[] = {nullptr, nullptr, "not a frequency in ppm",
        "beyond 50000 ppm"};
    drift_status st = drift_read(drift_path, &saved);
    if (st != drift_status::ok) {
        saved = INT64_MAX;
        strerr_warn(warning, "drift file ignored: ", drift_path, ": ",
            why[static_cast<int>(st)], nullptr,
            st == drift_status::unreadable ? &strerr_sys : nullptr);
        return;
    }
    kernel_now = split(saved, kernel_now.tick);
    if (!kernel(tell::rate, &kernel_now))
        die_sys("unable to adjtimex: ");
    est.freq = saved;
}

}

int main(int argc, char** argv)
{
    start(argc, argv);
    // SIGTERM and SIGINT end the keeping cleanly, the drift file written.
    // They come through a descriptor polled beside the input, so they never
    // cut into a step.
    sigset_t ends;
    sigemptyset(&ends);
    sigaddset(&ends, SIGTERM);
    sigaddset(&ends, SIGINT);
    int sfd = -1;
    if (sigprocmask(SIG_BLOCK, &ends, nullptr) == -1
        || (sfd = signalfd(-1, &ends, SFD_CLOEXEC)) == -1)
        die_sys("unable to signalfd: ");
    for (;;) {
        pollfd p[2] = {{0, POLLIN, 0}, {sfd, POLLIN, 0}};
        if (poll(p, 2, -1) == -1 && errno != EINTR)
            die_sys("unable to poll: ");
        if (p[1].revents) {
            save(true);
            _exit(0);
        }
        if (!p[0].revents)
            continue;
        // One record per read, whole: a producer writes each with one
        // write, and anything less loses the framing of all that follow.
        // At the end of the input the measurer is gone: the kernel keeps the
        // frequency and finishes the slew, and a supervisor starts the two
        // again.
        ssize_t r = read(0, buf, sizeof buf);
        if (r == -1)
            die_sys("unable to read: ");
        if (r == 0)
            die("end of input", nullptr);
        if (r != static_cast<ssize_t>(sizeof buf))
            die(record_split, nullptr);
        apply();
    }
}
