/* SPDX-License-Identifier: ISC */
/* fakentp: the tests' own NTP server, which answers each request as a
 * script says, so that the client's every refusal can be provoked.
 *
 * usage: fakentp [-4|-6] -p PORT [-a ADDRESS] [-s SHIFT] [-T SECONDS] [-r PPM [-A SECONDS]]
 *                [-j IN-MS,OUT-MS] [-L PERCENT] [-S SEED] [-l LOGFILE] SCRIPT
 *
 * It listens on the loopback address only (127.0.0.1, or ::1 with -6, or
 * with -a another loopback address such as 127.0.0.2); port 0 picks a free
 * one. Once it listens it prints the port on standard output
 * and closes it, so a test can wait for that line. SCRIPT is a
 * comma-separated list of behaviours, one per request in turn, the last
 * repeating. It serves its own CLOCK_REALTIME plus SHIFT seconds (decimal,
 * signed, up to nine fractional digits); with -T, the Unix time SECONDS
 * (decimal) as of its start plus SHIFT, running on CLOCK_MONOTONIC, so that
 * a client that steps the clock of the machine they share does not move
 * the time served.
 *
 * With -r the clock served runs PPM parts per million fast (negative: slow)
 * against that clock: at the anchor, -A (Unix seconds; default: its start),
 * it serves that clock plus SHIFT, and the difference grows by PPM from
 * there, so that servers started apart with the same -s, -r and -A serve
 * one clock. PPM is decimal, to 0.001, within 100000.
 *
 * With -j each request is taken to have travelled up to IN-MS on its way in
 * and its reply up to OUT-MS on its way out (milliseconds, decimal), drawn
 * at random and apart: the path is asymmetric, and no client can remove the
 * error that makes. With -L that percentage of the requests (decimal) is
 * lost. -S seeds the draws, for a run that repeats. A delayed reply waits
 * in a queue, so other clients are not held up.
 *
 * Each request is logged as one line
 * "MONOTONIC-NS LENGTH LI-VN-MODE TRANSMIT-HEX SOURCE-PORT BEHAVIOUR", so a
 * test can count queries, measure their spacing and check their form; a
 * request -L drops is logged with the behaviour "lost".
 * SIGTERM ends it with status 0; a failure of its own is status 111. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum behaviour {
    GOOD, SILENT, SHORT, MODE3, VERSION0, VERSION5, BADORIGIN, ZEROORIGIN,
    ZERORECV, ZEROXMT, LI3, STRATUM16, ROOTDIST, REVERSED, NEGDELAY, SLOW,
    KOD, KOD_BADORIGIN, KOD_BINARY, FLOOD, WRONGPORT, DUP, GUARD, GUARDKOD, LATE,
};

static const char* const names[] = {
    "good", "silent", "short", "mode3", "version0", "version5", "badorigin", "zeroorigin",
    "zerorecv", "zeroxmt", "li3", "stratum16", "rootdist", "reversed", "negdelay", "slow",
    NULL, NULL, "kod-binary", "flood", "wrongport", "dup", "guard", "guardkod", "late",
};

/* guard and guardkod behave as ntpd does with "restrict limited": a request
 * less than this after the one before is dropped, or answered with a RATE
 * kiss. The client's spacing is 2 s; the margin is for scheduling. */
static const int64_t GUARD_NS = 1900000000;

/* One step of the script: a behaviour and, for a kiss-o'-death, its code. */
struct step {
    enum behaviour b;
    char code[4];
    const char* name;
};

#define MAXSTEPS 64
static struct step script[MAXSTEPS];
static int nsteps;
static volatile sig_atomic_t stop;

static const int64_t NS = 1000000000;

static void die(const char* what)
{
    fprintf(stderr, "fakentp: fatal: %s: %s\n", what, strerror(errno));
    exit(111);
}

static void usage(const char* why)
{
    fprintf(stderr, "fakentp: %s\nusage: fakentp [-4|-6] -p PORT [-a ADDRESS] [-s SHIFT] [-T SECONDS]"
                    " [-r PPM [-A SECONDS]] [-j IN-MS,OUT-MS] [-L PERCENT] [-S SEED] [-l LOGFILE] SCRIPT\n", why);
    exit(100);
}

static void on_term(int sig)
{
    (void)sig;
    stop = 1;
}

/* A signed decimal number of seconds, to nanoseconds; 0 if it is not one. */
static int parse_shift(const char* s, int64_t* out)
{
    int neg = *s == '-';
    int64_t sec = 0, frac = 0, scale = NS;
    if (*s == '-' || *s == '+')
        s++;
    if (*s < '0' || *s > '9')
        return 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        if (sec > 9000000000)
            return 0;
        sec = sec * 10 + (*s - '0');
    }
    if (*s == '.')
        for (s++; *s >= '0' && *s <= '9'; s++) {
            if (scale == 1)
                return 0;
            scale /= 10;
            frac += (*s - '0') * scale;
        }
    if (*s)
        return 0;
    *out = neg ? -(sec * NS + frac) : sec * NS + frac;
    return 1;
}

static void parse_script(char* s)
{
    for (char* tok = strtok(s, ","); tok; tok = strtok(NULL, ",")) {
        struct step st = {GOOD, {0}, tok};
        size_t n = strlen(tok);
        unsigned i;
        if (nsteps == MAXSTEPS)
            usage("script too long");
        for (i = 0; i < sizeof names / sizeof names[0]; i++)
            if (names[i] && !strcmp(tok, names[i]))
                break;
        st.b = (enum behaviour)i;
        if (i == sizeof names / sizeof names[0]) {
            /* kod-CODE, or kod-CODE-badorigin: a kiss-o'-death with a
             * four-character code. */
            if (strncmp(tok, "kod-", 4) || (n != 8 && (n != 18 || strcmp(tok + 8, "-badorigin"))))
                usage("unknown behaviour in the script");
            st.b = n == 8 ? KOD : KOD_BADORIGIN;
            memcpy(st.code, tok + 4, 4);
        }
        script[nsteps++] = st;
    }
    if (nsteps == 0)
        usage("empty script");
}

static int64_t now_ns(clockid_t clock)
{
    struct timespec ts;
    if (clock_gettime(clock, &ts) != 0)
        die("unable to read the clock");
    return (int64_t)ts.tv_sec * NS + ts.tv_nsec;
}

/* The clock the time served runs on: this machine's, or with -T a clock
 * of its own. */
static int64_t fixed = -1, fixed_start;

static int64_t base_ns(void)
{
    if (fixed < 0)
        return now_ns(CLOCK_REALTIME);
    return fixed + (now_ns(CLOCK_MONOTONIC) - fixed_start);
}

/* The time served at a reading of that clock: shifted, and running at
 * -r's rate from the anchor. The rate is in parts per 10^9 and within
 * 10^8, so no product here passes 2^62 in any year a clock can read. */
static int64_t shift, rate, anchor = -1;

static int64_t served_at(int64_t base)
{
    int64_t d = base - anchor;
    return base + shift + d / NS * rate + d % NS * rate / NS;
}

/* splitmix64: the draws of -j and -L, repeatable with -S. */
static uint64_t seed;

static uint64_t draw(void)
{
    uint64_t z = seed += 0x9e3779b97f4a7c15u;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

/* Nanoseconds from 0 to max, evenly. */
static int64_t draw_ns(int64_t max)
{
    return max > 0 ? (int64_t)(draw() % (uint64_t)(max + 1)) : 0;
}

static void put32(unsigned char* p, uint32_t v)
{
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

/* Unix nanoseconds to an NTP timestamp; the era wraps as it does on the
 * wire, so a shifted clock past 2036 is served as a real one would be. */
static void put_time(unsigned char* p, int64_t ns)
{
    int64_t sec = ns / NS, rem = ns % NS;
    if (rem < 0) {
        rem += NS;
        sec--;
    }
    put32(p, (uint32_t)((uint64_t)sec + 2208988800u));
    put32(p + 4, (uint32_t)(((uint64_t)rem << 32) / (uint64_t)NS));
}

/* A kiss-o'-death as real servers send it: LI 3, stratum 0, the code as
 * reference identifier, the timestamps as in any reply. */
static void kod(unsigned char* r, const char* code)
{
    r[0] |= 0xc0;
    r[1] = 0;
    memcpy(r + 12, code, 4);
}

static void sleep_ns(int64_t ns)
{
    struct timespec ts = {(time_t)(ns / NS), (long)(ns % NS)};
    while (!stop && nanosleep(&ts, &ts) != 0)
        if (errno != EINTR)
            die("unable to sleep");
}

static void send_to(int fd, const unsigned char* p, size_t len, const struct sockaddr* to, socklen_t tolen)
{
    /* A client that has gone (a flood or a late duplicate can outlive it)
     * is no failure of the server. */
    if (sendto(fd, p, len, 0, to, tolen) < 0 && errno != ECONNREFUSED)
        fprintf(stderr, "fakentp: warning: unable to sendto: %s\n", strerror(errno));
}

/* Replies held back by -j, each until the monotonic time it is due. */
struct pending {
    int64_t due;
    int fd;
    size_t len;
    struct sockaddr_storage to;
    socklen_t tolen;
    unsigned char p[48];
};
#define MAXPENDING 64
static struct pending queue[MAXPENDING];
static int npending;

/* Sends now, or with a due time (not negative) later. */
static void send_at(int64_t due, int fd, const unsigned char* p, size_t len,
    const struct sockaddr_storage* to, socklen_t tolen)
{
    if (due < 0) {
        send_to(fd, p, len, (const struct sockaddr*)to, tolen);
        return;
    }
    if (npending == MAXPENDING) {
        fprintf(stderr, "fakentp: warning: %d replies held already: one dropped\n", MAXPENDING);
        return;
    }
    struct pending* q = &queue[npending++];
    q->due = due;
    q->fd = fd;
    q->len = len;
    q->to = *to;
    q->tolen = tolen;
    memcpy(q->p, p, len);
}

/* Sends the replies that are due; returns the time to the next, or -1. */
static int64_t send_due(void)
{
    int64_t now = now_ns(CLOCK_MONOTONIC), next = -1;
    for (int i = 0; i < npending;) {
        if (queue[i].due <= now) {
            send_to(queue[i].fd, queue[i].p, queue[i].len, (struct sockaddr*)&queue[i].to, queue[i].tolen);
            queue[i] = queue[--npending];
            continue;
        }
        if (next < 0 || queue[i].due - now < next)
            next = queue[i].due - now;
        i++;
    }
    return next;
}

/* A datagram, and how long ago it arrived: the kernel stamps its arrival,
 * so that a server woken late does not serve a late receive time. Without
 * a stamp that reads sensibly (a C library or emulator that has none), 0. */
static ssize_t receive(int fd, unsigned char* q, size_t size, struct sockaddr_storage* from,
    socklen_t* fromlen, int64_t* age)
{
    union {
        char buf[CMSG_SPACE(sizeof(struct timespec))];
        struct cmsghdr align;
    } c;
    struct iovec iov = {q, size};
    struct msghdr m;
    memset(&m, 0, sizeof m);
    m.msg_name = from;
    m.msg_namelen = *fromlen;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    m.msg_control = c.buf;
    m.msg_controllen = sizeof c.buf;
    ssize_t n = recvmsg(fd, &m, 0);
    *fromlen = m.msg_namelen;
    *age = 0;
    /* The stamp is the one message asked for. */
    struct cmsghdr* h = CMSG_FIRSTHDR(&m);
    if (n >= 0 && h && h->cmsg_level == SOL_SOCKET && h->cmsg_type == SCM_TIMESTAMPNS
        && h->cmsg_len == CMSG_LEN(sizeof(struct timespec))) {
        struct timespec ts;
        memcpy(&ts, CMSG_DATA(h), sizeof ts);
        int64_t a = now_ns(CLOCK_REALTIME) - ((int64_t)ts.tv_sec * NS + ts.tv_nsec);
        if (a >= 0 && a < NS)
            *age = a;
    }
    return n;
}

static int open_socket(int family, int port, const char* at, int* bound_port)
{
    struct sockaddr_storage ss;
    socklen_t len;
    int one = 1;
    int fd = socket(family, SOCK_DGRAM, 0);
    if (fd < 0)
        die("unable to socket");
    memset(&ss, 0, sizeof ss);
    if (family == AF_INET6) {
        struct sockaddr_in6* a = (struct sockaddr_in6*)&ss;
        a->sin6_family = AF_INET6;
        a->sin6_port = htons((uint16_t)port);
        a->sin6_addr = in6addr_loopback;
        if (at && inet_pton(AF_INET6, at, &a->sin6_addr) != 1)
            usage("bad address");
        len = sizeof *a;
        if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0)
            die("unable to setsockopt IPV6_V6ONLY");
    } else {
        struct sockaddr_in* a = (struct sockaddr_in*)&ss;
        a->sin_family = AF_INET;
        a->sin_port = htons((uint16_t)port);
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (at && inet_pton(AF_INET, at, &a->sin_addr) != 1)
            usage("bad address");
        len = sizeof *a;
    }
    if (bind(fd, (struct sockaddr*)&ss, len) != 0)
        die("unable to bind");
    /* Best effort: receive() goes without the stamps. */
    (void)setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    if (getsockname(fd, (struct sockaddr*)&ss, &len) != 0)
        die("unable to getsockname");
    *bound_port = ntohs(family == AF_INET6 ? ((struct sockaddr_in6*)&ss)->sin6_port
                                           : ((struct sockaddr_in*)&ss)->sin_port);
    return fd;
}

static void log_request(int fd, int64_t mono, const unsigned char* q, ssize_t n,
    const struct sockaddr_storage* from, const char* behaviour)
{
    char line[160];
    unsigned port = ntohs(from->ss_family == AF_INET6 ? ((const struct sockaddr_in6*)from)->sin6_port
                                                      : ((const struct sockaddr_in*)from)->sin_port);
    int len = snprintf(line, sizeof line, "%lld %ld %02x ", (long long)mono, (long)n, n > 0 ? q[0] : 0);
    for (int i = 40; i < 48; i++)
        len += snprintf(line + len, sizeof line - (size_t)len, "%02x", n >= 48 ? q[i] : 0);
    len += snprintf(line + len, sizeof line - (size_t)len, " %u %s\n", port, behaviour);
    if (fd >= 0 && write(fd, line, (size_t)len) != len)
        die("unable to write the log");
}

/* -j's "IN-MS,OUT-MS" to nanoseconds each, within 10 s; 0 if it is not. */
static int parse_path(char* s, int64_t* in, int64_t* out)
{
    char* comma = strchr(s, ',');
    if (!comma)
        return 0;
    *comma = 0;
    /* Milliseconds read as seconds are a thousand times nanoseconds. */
    if (!parse_shift(s, in) || !parse_shift(comma + 1, out))
        return 0;
    *in /= 1000;
    *out /= 1000;
    return *in >= 0 && *out >= 0 && *in <= 10 * NS && *out <= 10 * NS;
}

int main(int argc, char** argv)
{
    int family = AF_INET, port = -1, logfd = -1, opt;
    const char* at = NULL;
    int64_t path_in = 0, path_out = 0, loss = 0;
    seed = (uint64_t)now_ns(CLOCK_REALTIME) ^ (uint64_t)getpid() << 32;
    while ((opt = getopt(argc, argv, "46a:p:s:T:r:A:j:L:S:l:")) != -1) {
        switch (opt) {
        case '4': family = AF_INET; break;
        case '6': family = AF_INET6; break;
        case 'a':
            at = optarg;
            family = strchr(at, ':') ? AF_INET6 : AF_INET;
            break;
        case 'p': {
            char* end;
            long p = strtol(optarg, &end, 10);
            if (*end || end == optarg || p < 0 || p > 65535)
                usage("bad port");
            port = (int)p;
            break;
        }
        case 's':
            if (!parse_shift(optarg, &shift))
                usage("bad shift");
            break;
        case 'T':
            if (!parse_shift(optarg, &fixed) || fixed < 0)
                usage("bad time");
            fixed_start = now_ns(CLOCK_MONOTONIC);
            break;
        case 'r':
            /* Parts per million read as seconds are parts per 10^9 times
             * 10^6. */
            if (!parse_shift(optarg, &rate) || rate % 1000000 || rate > 100000 * NS || rate < -100000 * NS)
                usage("bad rate");
            rate /= 1000000;
            break;
        case 'A':
            if (!parse_shift(optarg, &anchor) || anchor < 0)
                usage("bad anchor");
            break;
        case 'j':
            if (!parse_path(optarg, &path_in, &path_out))
                usage("bad path delays");
            break;
        case 'L':
            /* A percentage read as seconds: parts per 10^11. */
            if (!parse_shift(optarg, &loss) || loss < 0 || loss > 100 * NS)
                usage("bad loss");
            break;
        case 'S': {
            char* end;
            errno = 0;
            seed = strtoull(optarg, &end, 10);
            if (*end || end == optarg || errno || *optarg == '-')
                usage("bad seed");
            break;
        }
        case 'l':
            logfd = open(optarg, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
            if (logfd < 0)
                die("unable to open the log");
            break;
        default: usage("unknown option");
        }
    }
    if (port < 0 || optind != argc - 1)
        usage("missing port or script");
    parse_script(argv[optind]);
    if (anchor < 0)
        anchor = base_ns();

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_term;
    if (sigaction(SIGTERM, &sa, NULL) != 0 || sigaction(SIGINT, &sa, NULL) != 0)
        die("unable to sigaction");

    int bound, other_port;
    int fd = open_socket(family, port, at, &bound);
    int other = open_socket(family, 0, at, &other_port); /* for wrongport */
    char line[8];
    int len = snprintf(line, sizeof line, "%d\n", bound);
    if (write(1, line, (size_t)len) != len)
        die("unable to write the port");
    close(1);

    int64_t last_request = 0;
    for (long count = 0; !stop;) {
        /* Waits for a request, or for the next reply -j holds back. */
        int64_t wait = send_due();
        struct pollfd pfd = {fd, POLLIN, 0};
        struct timespec ts = {(time_t)(wait / NS), (long)(wait % NS)};
        int ready = ppoll(&pfd, 1, wait < 0 ? NULL : &ts, NULL);
        if (ready < 0 && errno != EINTR)
            die("unable to poll");
        if (ready <= 0)
            continue;

        unsigned char q[512], r[48];
        struct sockaddr_storage from;
        socklen_t fromlen = sizeof from;
        int64_t age;
        ssize_t n = receive(fd, q, sizeof q, &from, &fromlen, &age);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            die("unable to recvfrom");
        }
        int64_t arrived = base_ns() - age, arrived_mono = now_ns(CLOCK_MONOTONIC) - age;
        const struct step* st = &script[count < nsteps ? count : nsteps - 1];
        count++;
        /* The path: a request lost, or one that reached the server later
         * than it came, and whose reply leaves later still. */
        int lost = loss > 0 && draw() % (uint64_t)(100 * NS) < (uint64_t)loss;
        int64_t in = draw_ns(path_in), out = draw_ns(path_out);
        int64_t due = path_in > 0 || path_out > 0 ? arrived_mono + in + out : -1;
        int64_t t2 = served_at(arrived + in);
        log_request(logfd, now_ns(CLOCK_MONOTONIC), q, n, &from, lost ? "lost" : st->name);
        if (lost)
            continue;
        int64_t mono = now_ns(CLOCK_MONOTONIC);
        int too_soon = last_request > 0 && mono - last_request < GUARD_NS;
        last_request = mono;
        if (n < 48 || st->b == SILENT || (st->b == GUARD && too_soon))
            continue;

        /* A good reply; each behaviour then spoils one thing. */
        memset(r, 0, sizeof r);
        r[0] = (unsigned char)((q[0] & 0x38) | 4); /* LI 0, VN copied, mode 4 */
        r[1] = 1;
        r[2] = q[2];
        r[3] = (unsigned char)-20;
        put32(r + 8, 0x00000010);
        memcpy(r + 12, "LOCL", 4);
        put_time(r + 16, t2 - 16 * NS);
        memcpy(r + 24, q + 40, 8);
        put_time(r + 32, t2);

        /* Forged replies ahead of the good one. A flood is paced so that
         * the client's receive buffer never overflows and drops the good
         * one: what is tested is that the client keeps listening. */
        const struct sockaddr* to = (const struct sockaddr*)&from;
        unsigned char forged[48];
        int nforged = st->b == FLOOD ? 1000 : st->b == KOD_BADORIGIN ? 1 : 0;
        memcpy(forged, r, 48);
        put_time(forged + 40, t2);
        if (st->b == KOD_BADORIGIN)
            kod(forged, st->code);
        forged[31] ^= 1;
        for (int i = 0; i < nforged; i++) {
            send_to(fd, forged, 48, to, fromlen);
            if (i % 50 == 49)
                sleep_ns(NS / 1000);
        }

        /* T3 as late as can be, so that the offset served is exact. */
        int64_t t3 = st->b == SLOW ? t2 : served_at(base_ns() + in);
        put_time(r + 40, t3);
        switch (st->b) {
        case MODE3: r[0] = (unsigned char)((r[0] & 0xf8) | 3); break;
        case VERSION0: r[0] = (unsigned char)(r[0] & 0xc7); break;
        case VERSION5: r[0] = (unsigned char)((r[0] & 0xc7) | 5 << 3); break;
        case BADORIGIN: r[31] ^= 1; break;
        case ZEROORIGIN: memset(r + 24, 0, 8); break;
        case ZERORECV: memset(r + 32, 0, 8); break;
        case ZEROXMT: memset(r + 40, 0, 8); break;
        case LI3: r[0] |= 0xc0; break;
        case STRATUM16: r[1] = 16; break;
        case ROOTDIST: put32(r + 8, 0x00020000); break;
        case REVERSED: put_time(r + 40, t2 - NS); break;
        case NEGDELAY: put_time(r + 40, t2 + NS); break;
        case KOD: kod(r, st->code); break;
        case GUARDKOD: if (too_soon) kod(r, "RATE"); break;
        case KOD_BINARY: kod(r, "\x01\x7f\x80\xff"); break;
        default: break;
        }
        if (st->b == SLOW)
            sleep_ns(35 * NS / 10);
        /* A return path 40 ms longer than the way out: the offset of this
         * reply comes out 20 ms low, and its delay 40 ms high. */
        if (st->b == LATE)
            sleep_ns(40 * NS / 1000);
        send_at(due, st->b == WRONGPORT ? other : fd, r, st->b == SHORT ? 47 : 48, &from, fromlen);
        if (st->b == DUP) {
            /* A second answer to the same request, 100 s off the first. */
            put_time(r + 32, t2 + 100 * NS);
            put_time(r + 40, t3 + 100 * NS);
            send_at(due, fd, r, 48, &from, fromlen);
        }
    }
    return 0;
}
