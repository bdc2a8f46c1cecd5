/* SPDX-License-Identifier: ISC */
/* shiftrecv: an LD_PRELOAD companion to libfaketime for NTP servers under
 * test. libfaketime shifts the clock a server reads but not the kernel's
 * receive timestamps, which reach it as control messages of recvmsg and
 * recvmmsg; a server that uses them would then see its receive time off its
 * transmit time by the whole shift. This adds the same shift, read from
 * FAKETIME ("+3.25", "-0.375": signed decimal seconds), to every
 * SO_TIMESTAMP, SO_TIMESTAMPNS and SO_TIMESTAMPING message. Zero
 * timestamps (the unused slots of SO_TIMESTAMPING) stay zero. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>

static const int64_t NS = 1000000000;

/* The shift in nanoseconds; 0 if FAKETIME is absent or not of that form. */
static int64_t shift(void)
{
    static int64_t ns;
    static int known;
    if (known)
        return ns;
    const char* s = getenv("FAKETIME");
    int64_t sec = 0, frac = 0, scale = NS;
    int neg = s && *s == '-';
    if (s && (*s == '+' || *s == '-')) {
        for (s++; *s >= '0' && *s <= '9' && sec < 1000000000; s++)
            sec = sec * 10 + (*s - '0');
        if (*s == '.')
            for (s++; *s >= '0' && *s <= '9' && scale > 1; s++)
                frac += (*s - '0') * (scale /= 10);
        if (*s == 0)
            ns = neg ? -(sec * NS + frac) : sec * NS + frac;
    }
    known = 1;
    return ns;
}

static void shift_ts(struct timespec* t)
{
    if (t->tv_sec == 0 && t->tv_nsec == 0)
        return;
    int64_t v = (int64_t)t->tv_sec * NS + t->tv_nsec + shift();
    int64_t rem = v % NS;
    if (rem < 0)
        rem += NS;
    t->tv_sec = (time_t)((v - rem) / NS);
    t->tv_nsec = (long)rem;
}

static void shift_msg(struct msghdr* m)
{
    for (struct cmsghdr* c = CMSG_FIRSTHDR(m); c; c = CMSG_NXTHDR(m, c)) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        unsigned char* data = CMSG_DATA(c);
        if (c->cmsg_type == SCM_TIMESTAMP) {
            struct timeval tv;
            memcpy(&tv, data, sizeof tv);
            struct timespec ts = {tv.tv_sec, tv.tv_usec * 1000};
            shift_ts(&ts);
            tv.tv_sec = ts.tv_sec;
            tv.tv_usec = ts.tv_nsec / 1000;
            memcpy(data, &tv, sizeof tv);
        } else if (c->cmsg_type == SCM_TIMESTAMPNS || c->cmsg_type == SCM_TIMESTAMPING) {
            size_t n = c->cmsg_type == SCM_TIMESTAMPNS ? 1 : 3;
            for (size_t i = 0; i < n; i++) {
                struct timespec ts;
                memcpy(&ts, data + i * sizeof ts, sizeof ts);
                shift_ts(&ts);
                memcpy(data + i * sizeof ts, &ts, sizeof ts);
            }
        }
    }
}

ssize_t recvmsg(int fd, struct msghdr* m, int flags)
{
    static ssize_t (*real)(int, struct msghdr*, int);
    if (!real)
        real = (ssize_t(*)(int, struct msghdr*, int))dlsym(RTLD_NEXT, "recvmsg");
    ssize_t n = real(fd, m, flags);
    if (n >= 0)
        shift_msg(m);
    return n;
}

int recvmmsg(int fd, struct mmsghdr* v, unsigned int len, int flags, struct timespec* timeout)
{
    static int (*real)(int, struct mmsghdr*, unsigned int, int, struct timespec*);
    if (!real)
        real = (int (*)(int, struct mmsghdr*, unsigned int, int, struct timespec*))dlsym(RTLD_NEXT, "recvmmsg");
    int n = real(fd, v, len, flags, timeout);
    for (int i = 0; i < n; i++)
        shift_msg(&v[i].msg_hdr);
    return n;
}
