/* SPDX-License-Identifier: ISC */
/* Runs a program RUNS times and prints each run's peak resident memory in
 * KiB, one line a run. Each run gets the all-zero 16-byte record on its
 * standard input, written in one write. An argument "@T0" is replaced by a
 * clock reading ("@sec.nsec", or "@sec" for "@T0s") taken just before the
 * program starts, which is also put in BENCH_T0 in nanoseconds. The
 * program's standard output is discarded. With -p each run starts at a
 * random point of the second, as a producer's record would arrive.
 * usage: driver [-p] RUNS PROGRAM [ARG...] */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    int phase = argc > 1 && !strcmp(argv[1], "-p");
    argv += phase;
    argc -= phase;
    if (argc < 3)
        return 2;
    int runs = atoi(argv[1]);
    char** args = argv + 2;
    int slot = -1;
    int whole = 0;
    for (int i = 0; args[i]; ++i) {
        if (!strcmp(args[i], "@T0") || !strcmp(args[i], "@T0s")) {
            slot = i;
            whole = args[i][3] == 's';
        }
    }
    static char when[64];
    srandom(1);
    for (int r = 0; r < runs; ++r) {
        struct timespec delay = {0, random() % 1000000000L};
        if (phase)
            nanosleep(&delay, NULL);
        int p[2];
        static const unsigned char record[16];
        if (pipe(p) || write(p[1], record, sizeof record) != sizeof record)
            return 2;
        close(p[1]);
        struct timespec t0;
        clock_gettime(CLOCK_REALTIME, &t0);
        if (slot >= 0) {
            if (whole)
                snprintf(when, sizeof when, "@%lld", (long long)t0.tv_sec);
            else
                snprintf(when, sizeof when, "@%lld.%09ld", (long long)t0.tv_sec, t0.tv_nsec);
            args[slot] = when;
            char t0s[32];
            snprintf(t0s, sizeof t0s, "%lld", t0.tv_sec * 1000000000LL + t0.tv_nsec);
            setenv("BENCH_T0", t0s, 1);
        }
        pid_t pid = fork();
        if (pid == 0) {
            dup2(p[0], 0);
            close(p[0]);
            if (!freopen("/dev/null", "w", stdout))
                _exit(126);
            execvp(args[0], args);
            _exit(127);
        }
        close(p[0]);
        int status;
        struct rusage ru;
        if (pid < 0 || wait4(pid, &status, 0, &ru) != pid)
            return 2;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "driver: %s failed with status %d\n", args[0], status);
            return 1;
        }
        printf("%ld\n", ru.ru_maxrss);
    }
    return 0;
}
