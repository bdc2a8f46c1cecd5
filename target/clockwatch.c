/* SPDX-License-Identifier: ISC */
/* clockwatch: runs on the emulated target beside a program that keeps the
 * clock, and reports every step of the clock and nothing else.
 *
 * usage: clockwatch [-i MS] [-g US] [-s US] [SECONDS]
 *        clockwatch -k        the kernel's discipline, one line
 *        clockwatch -R        the discipline put back as a boot leaves it
 *
 * REALTIME less MONOTONIC changes only when the clock is stepped: a slew,
 * the frequency and the tick move both clocks alike. So it reads
 * MONOTONIC, REALTIME, MONOTONIC every -i ms (default 4) and follows the
 * real clock less the middle of the two monotonic readings. A sample whose
 * two monotonic readings lie more than -g us apart (default 100) is
 * dropped: the watcher was preempted there, and would see a jump that
 * never happened. A change of more than -s us (default 200) between two
 * samples kept is a step, reported at once as
 *     STEP at=MONOTONIC-SECONDS by=+MICROSECONDS
 * After SECONDS, or at SIGTERM or SIGINT, one line sums it up, the largest
 * change between two samples kept, step or not, included:
 *     WATCH samples=N dropped=N steps=N largest=+MICROSECONDS
 * -k reads the kernel's discipline (adjtimex with no mode: it changes
 * nothing), its rate as one figure, tick and frequency together:
 *     KERNEL tick=10000 freq=0 status=0x0041 offset=0 maxerror=16000000 esterror=16000000 constant=2 ppb=0 realraw=NS raw=NS
 * where raw is MONOTONIC_RAW, the oscillator, and realraw REALTIME less it:
 * true time less the oscillator, an offset measured plus realraw, runs at
 * the oscillator's own rate whatever a keeper does.
 * -R sets the nominal tick, no frequency, no slew under way, the kernel's
 * loop off and the clock unsynchronised, then prints the same line. It
 * changes the clock's rate: run it only where that is the point, in the
 * emulated machine. Status 0, or 2 on a failure of its own, 100 on usage. */
#define _GNU_SOURCE
#include <signal.h>
#include <string.h>
#include <sys/timex.h>

#include "kclock.h"

static volatile sig_atomic_t stop;

static void on_signal(int sig)
{
    (void)sig;
    stop = 1;
}

static void usage(void)
{
    fputs("usage: clockwatch [-i MS] [-g US] [-s US] [SECONDS] | -k | -R\n", stderr);
    exit(100);
}

static long number(const char* s)
{
    char* end;
    long v = strtol(s, &end, 10);
    if (!*s || *end || v < 0 || v > 100000000)
        usage();
    return v;
}

static int nominal_tick(void)
{
    return (int)(1000000 / sysconf(_SC_CLK_TCK));
}

static void discipline(struct timex* tx)
{
    if (adjtimex(tx) < 0) {
        perror("clockwatch: adjtimex");
        exit(2);
    }
}

static int kernel(void)
{
    struct timex tx;
    memset(&tx, 0, sizeof tx);
    discipline(&tx);
    /* The tick in microseconds per USER_HZ tick, the frequency in 2^-16
     * ppm. */
    long long ppb = ((long long)tx.tick - nominal_tick()) * 1000000000LL / nominal_tick()
        + (long long)tx.freq * 1000 / 65536;
    struct reading w1, r, w2;
    read_clock(CLOCK_MONOTONIC_RAW, &w1);
    read_clock(CLOCK_REALTIME, &r);
    read_clock(CLOCK_MONOTONIC_RAW, &w2);
    long long raw = ns(&w1) + (ns(&w2) - ns(&w1)) / 2;
    printf("KERNEL tick=%ld freq=%ld status=0x%04x offset=%ld maxerror=%ld esterror=%ld constant=%ld ppb=%lld realraw=%lld raw=%lld\n",
        (long)tx.tick, (long)tx.freq, (unsigned)tx.status, (long)tx.offset, (long)tx.maxerror,
        (long)tx.esterror, (long)tx.constant, ppb, ns(&r) - raw, raw);
    return 0;
}

static int reset(void)
{
    struct timex tx;
    /* A slew of adjtime() ends. */
    memset(&tx, 0, sizeof tx);
    tx.modes = ADJ_OFFSET_SINGLESHOT;
    discipline(&tx);
    /* The kernel's loop keeps slewing a phase it was given even when it is
     * switched off; it takes a zero offset only while it is on. */
    memset(&tx, 0, sizeof tx);
    tx.modes = ADJ_STATUS | ADJ_FREQUENCY | ADJ_OFFSET;
    tx.status = STA_PLL;
    discipline(&tx);
    /* Then the rest as at boot. In microsecond mode the kernel adds 4 to
     * the time constant it is given, so the boot's 2 is set in nanosecond
     * mode, and microsecond mode comes back after. */
    memset(&tx, 0, sizeof tx);
    tx.modes = ADJ_STATUS | ADJ_TICK | ADJ_MAXERROR | ADJ_ESTERROR | ADJ_NANO | ADJ_TIMECONST;
    tx.status = STA_UNSYNC;
    tx.tick = nominal_tick();
    tx.maxerror = tx.esterror = 16000000;
    tx.constant = 2;
    discipline(&tx);
    memset(&tx, 0, sizeof tx);
    tx.modes = ADJ_MICRO;
    discipline(&tx);
    return kernel();
}

int main(int argc, char** argv)
{
    long interval = 4, gap = 100, step = 200, seconds = 0;
    int opt;
    while ((opt = getopt(argc, argv, "i:g:s:kR")) != -1) {
        switch (opt) {
        case 'i': interval = number(optarg); break;
        case 'g': gap = number(optarg); break;
        case 's': step = number(optarg); break;
        case 'k': return kernel();
        case 'R': return reset();
        default: usage();
        }
    }
    if (optind < argc - 1 || interval < 1)
        usage();
    if (optind == argc - 1)
        seconds = number(argv[optind]);

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);

    struct timespec period = {interval / 1000, interval % 1000 * 1000000};
    struct reading m1, r, m2;
    long long last = 0, largest = 0, end = -1;
    long samples = 0, dropped = 0, steps = 0;
    while (!stop) {
        read_clock(CLOCK_MONOTONIC, &m1);
        read_clock(CLOCK_REALTIME, &r);
        read_clock(CLOCK_MONOTONIC, &m2);
        if (end < 0)
            end = ns(&m1) + seconds * 1000000000LL;
        if (ns(&m2) - ns(&m1) > gap * 1000) {
            dropped++;
        } else {
            long long g = ns(&r) - ns(&m1) - (ns(&m2) - ns(&m1)) / 2;
            long long d = g - last;
            if (samples++ > 0) {
                if (llabs(d) > llabs(largest))
                    largest = d;
                if (llabs(d) > step * 1000) {
                    steps++;
                    printf("STEP at=%lld.%03lld by=%+lld\n", m1.tv_sec, m1.tv_nsec / 1000000, d / 1000);
                    fflush(stdout);
                }
            }
            last = g;
        }
        if (seconds > 0 && ns(&m2) >= end)
            break;
        nanosleep(&period, NULL);
    }
    printf("WATCH samples=%ld dropped=%ld steps=%ld largest=%+lld\n", samples, dropped, steps, largest / 1000);
    return 0;
}
