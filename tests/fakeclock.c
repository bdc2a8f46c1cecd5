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
 * For varnel-sntp it also stands in for a kernel whose random pool is never
 * seeded:
 *   getrandom     with FAKECLOCK_UNSEEDED set, fails with EAGAIN, as the
 *                 kernel does for GRND_NONBLOCK before its pool is ready. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

static int nread;

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
    if (getenv("FAKECLOCK_UNSEEDED")) {
        errno = EAGAIN;
        return -1;
    }
    return syscall(SYS_getrandom, buf, len, flags);
}
