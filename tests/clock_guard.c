/* SPDX-License-Identifier: ISC */
/* Guards this machine's clock while the tests run: "record FILE" notes how
 * far CLOCK_REALTIME stands from CLOCK_MONOTONIC, and "check FILE" fails
 * loudly if that distance has since moved by more than 50 ms, which would
 * mean something stepped the real clock. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <string.h>
#include <time.h>

static long long gap_ns(void)
{
    struct timespec r, m;
    clock_gettime(CLOCK_MONOTONIC, &m);
    clock_gettime(CLOCK_REALTIME, &r);
    return (r.tv_sec - m.tv_sec) * 1000000000LL + (r.tv_nsec - m.tv_nsec);
}

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    long long now = gap_ns(), then;
    if (!strcmp(argv[1], "record")) {
        FILE* f = fopen(argv[2], "w");
        return !f || fprintf(f, "%lld\n", now) < 0 || fclose(f) != 0;
    }
    FILE* f = fopen(argv[2], "r");
    if (!f || fscanf(f, "%lld", &then) != 1) {
        fprintf(stderr, "clock_guard: no record in %s\n", argv[2]);
        return 1;
    }
    long long moved = now - then;
    printf("clock_guard: the real clock moved %lld us against the monotonic clock\n", moved / 1000);
    if (moved > 50000000 || moved < -50000000) {
        fprintf(stderr, "clock_guard: THIS MACHINE'S CLOCK WAS CHANGED DURING THE TESTS\n");
        return 1;
    }
    return 0;
}
