/* SPDX-License-Identifier: ISC */
/* An LD_PRELOAD stand-in for the clock calls of the program under test. It
 * never reaches the real clock:
 *   gettimeofday  answers the readings in FAKECLOCK_NOW ("sec.usec ..."), in
 *                 turn, repeating the last; a reading "x" fails with
 *                 EOVERFLOW, as glibc's 32-bit time_t does after 2038, and
 *                 "f" with EFAULT;
 *   select        returns at once;
 *   settimeofday  refuses what the kernel refuses (EINVAL), else succeeds
 *                 without doing anything.
 * select and settimeofday append what they were handed to FAKECLOCK_LOG.
 *   adjtimex      keeps a kernel's tick, frequency, offset, status and
 *                 errors of its own, starting from FAKECLOCK_TICK and
 *                 FAKECLOCK_FREQ (nominal without), and logs each call that
 *                 sets anything: "adjtimex MODES TICK FREQ OFFSET STATUS
 *                 CONSTANT MAXERROR ESTERROR", the values it holds after.
 * For varnel-sntp it also stands in for a kernel whose random pool is never
 * seeded:
 *   getrandom     with FAKECLOCK_UNSEEDED set, fails with EAGAIN, as the
 *                 kernel does for GRND_NONBLOCK before its pool is ready;
 *                 set to "once", only its first call fails, with EIO. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <unistd.h>

static int nread, nrandom;

static void note(const char* what, long long sec, long usec)
{
    const char* path = getenv("FAKECLOCK_LOG");
    int fd = path ? open(path, O_WRONLY | O_CREAT | O_APPEND, 0644) : -1;
    if (fd < 0)
        abort();
    dprintf(fd, "%s %lld %ld\n", what, sec, usec);
    close(fd);
}

int gettimeofday(struct timeval* restrict tv, void* restrict tz)
{
    (void)tz;
    const char* p = getenv("FAKECLOCK_NOW");
    long long sec = 0;
    long usec = 0;
    int fail = 0;
    for (int i = 0; p && i <= nread; ++i) {
        char* end;
        fail = *p == 'x' ? EOVERFLOW : *p == 'f' ? EFAULT : 0;
        if (fail) {
            end = (char*)p + 1;
            if (*end != ' ')
                break;
            p = end + 1;
            continue;
        }
        sec = strtoll(p, &end, 10);
        usec = *end == '.' ? strtol(end + 1, &end, 10) : 0;
        if (*end != ' ')
            break;
        p = end + 1;
    }
    ++nread;
    if (fail) {
        errno = fail;
        return -1;
    }
    tv->tv_sec = (time_t)sec;
    tv->tv_usec = (suseconds_t)usec;
    return 0;
}

int select(int n, fd_set* r, fd_set* w, fd_set* e, struct timeval* t)
{
    note("select", n, r || w || e);
    note("timeout", t ? (long long)t->tv_sec : -1, t ? (long)t->tv_usec : -1);
    return 0;
}

int settimeofday(const struct timeval* tv, const struct timezone* tz)
{
    note("settimeofday", (long long)tv->tv_sec, (long)tv->tv_usec);
    if (tz || tv->tv_sec < 0 || tv->tv_usec < 0 || tv->tv_usec > 999999) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

ssize_t getrandom(void* buf, size_t len, unsigned flags)
{
    const char* u = getenv("FAKECLOCK_UNSEEDED");
    int once = u && strcmp(u, "once") == 0;
    if (u && (!once || nrandom++ == 0)) {
        errno = once ? EIO : EAGAIN;
        return -1;
    }
    return syscall(SYS_getrandom, buf, len, flags);
}

static struct timex kernel = {.tick = 10000, .status = STA_UNSYNC};
static int kernel_read;

int adjtimex(struct timex* t)
{
    if (!kernel_read) {
        const char* tick = getenv("FAKECLOCK_TICK");
        const char* freq = getenv("FAKECLOCK_FREQ");
        kernel.tick = tick ? atol(tick) : 10000;
        kernel.freq = freq ? atol(freq) : 0;
        kernel_read = 1;
    }
    int m = (int)t->modes;
    if (m & ADJ_TICK) {
        if (t->tick < 9000 || t->tick > 11000) {
            errno = EINVAL;
            return -1;
        }
        kernel.tick = t->tick;
    }
    if (m & ADJ_FREQUENCY)
        kernel.freq = t->freq < -32768000 ? -32768000 : t->freq > 32768000 ? 32768000 : t->freq;
    if (m & ADJ_STATUS)
        kernel.status = t->status;
    if (m & ADJ_OFFSET)
        kernel.offset = t->offset < -500000000 ? -500000000 : t->offset > 500000000 ? 500000000 : t->offset;
    if (m & ADJ_TIMECONST)
        kernel.constant = t->constant;
    if (m & ADJ_MAXERROR)
        kernel.maxerror = t->maxerror;
    if (m & ADJ_ESTERROR)
        kernel.esterror = t->esterror;
    if (m) {
        const char* path = getenv("FAKECLOCK_LOG");
        int fd = path ? open(path, O_WRONLY | O_CREAT | O_APPEND, 0644) : -1;
        if (fd < 0)
            abort();
        dprintf(fd, "adjtimex %x %ld %ld %ld %x %ld %ld %ld\n", m, kernel.tick, kernel.freq,
            kernel.offset, kernel.status, kernel.constant, kernel.maxerror, kernel.esterror);
        close(fd);
    }
    *t = kernel;
    t->modes = (unsigned)m;
    return 0;
}

int ntp_adjtime(struct timex* t)
{
    return adjtimex(t);
}
