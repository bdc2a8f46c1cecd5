/* SPDX-License-Identifier: ISC */
/* Runs a program (varnel) on the emulated target and reports, on one line,
 * its exit status, how far the real clock moved against the monotonic clock
 * while it ran (microseconds), and where in its second the real clock stood
 * as soon as the program had ended. Standard input and error are inherited.
 * With -u, the program runs as that user and group, without privilege.
 * usage: stepcheck [-u ID] PROGRAM [ARG...] */
#define _GNU_SOURCE
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kclock.h"

/* The real clock less the monotonic clock. An emulated machine can stall
 * between two readings, so the real one is taken between two monotonic ones
 * and the tightest of a few tries is kept. */
static long long gap_ns(struct reading* real)
{
    long long best = -1, gap = 0;
    for (int i = 0; i < 5; ++i) {
        struct reading m1, r, m2;
        read_clock(CLOCK_MONOTONIC, &m1);
        read_clock(CLOCK_REALTIME, &r);
        read_clock(CLOCK_MONOTONIC, &m2);
        if (best < 0 || ns(&m2) - ns(&m1) < best) {
            best = ns(&m2) - ns(&m1);
            gap = ns(&r) - (ns(&m1) + ns(&m2)) / 2;
            *real = r;
        }
    }
    return gap;
}

int main(int argc, char** argv)
{
    struct reading real;
    int status;
    int id = -1;
    if (argc > 2 && argv[1][0] == '-' && argv[1][1] == 'u') {
        id = atoi(argv[2]);
        argv += 2;
        argc -= 2;
    }
    if (argc < 2)
        return 2;
    long long before = gap_ns(&real);
    pid_t pid = fork();
    if (pid == -1)
        return 2;
    if (pid == 0) {
        if (id >= 0 && (setgroups(0, NULL) || setgid((gid_t)id) || setuid((uid_t)id)))
            _exit(126);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    if (waitpid(pid, &status, 0) != pid)
        return 2;
    long long after = gap_ns(&real);
    printf("status=%d moved=%lld frac=%lld\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128,
        (after - before) / 1000, real.tv_nsec / 1000);
    return 0;
}
