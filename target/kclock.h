/* SPDX-License-Identifier: ISC */
/* The clock as the kernel has it, in 64-bit seconds on a 32-bit machine
 * too, whatever the width of the C library's time_t: the target's tools
 * measure past 2038 against every build. */
#ifndef KCLOCK_H
#define KCLOCK_H
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

struct reading {
    long long tv_sec;
    long long tv_nsec;
};

static void read_clock(clockid_t clock, struct reading* r)
{
#ifdef SYS_clock_gettime64
    if (syscall(SYS_clock_gettime64, clock, r) == 0)
        return;
#else
    struct timespec t;
    if (clock_gettime(clock, &t) == 0) {
        r->tv_sec = t.tv_sec;
        r->tv_nsec = t.tv_nsec;
        return;
    }
#endif
    perror("clock_gettime");
    exit(2);
}

static long long ns(const struct reading* t)
{
    return t->tv_sec * 1000000000LL + t->tv_nsec;
}
#endif
