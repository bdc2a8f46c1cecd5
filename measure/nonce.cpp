// SPDX-License-Identifier: ISC
#include "nonce.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include "error.h"
#include "mono.h"

namespace {

int dev_random = -1;
int dev_urandom = -1;
bool no_getrandom; // the kernel answered ENOSYS
bool seeded;       // /dev/random was readable once

bool open_once(int* fd, const char* path, const char* call, const char** why)
{
    if (*fd >= 0)
        return true;
    *fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (*fd == -1) {
        *why = call;
        return false;
    }
    return true;
}

// Waits until /dev/random is readable, or the deadline. Where getrandom
// exists but still says EAGAIN after that (kernels before 5.6 signal an
// entropy estimate there, not the pool's initialisation), it waits a little
// before asking again rather than spin.
bool wait_seeded(int64_t deadline, bool again, const char** call)
{
    if (!open_once(&dev_random, "/dev/random", "open /dev/random", call))
        return false;
    for (;;) {
        int64_t now;
        if (!mono_now(&now)) {
            *call = "clock_gettime";
            return false;
        }
        if (now >= deadline) {
            errno = error_timeout;
            *call = "get seeded random numbers";
            return false;
        }
        int left = mono_ms(now, deadline);
        pollfd p = {dev_random, POLLIN, 0};
        int rc = poll(again ? nullptr : &p, again ? 0 : 1, again && left > 20 ? 20 : left);
        if (rc == -1 && errno == error_intr)
            continue;
        if (rc == -1) {
            *call = "poll /dev/random";
            return false;
        }
        if (again || rc == 1)
            return true;
    }
}

bool from_urandom(unsigned char* p, size_t n, const char** call)
{
    if (!open_once(&dev_urandom, "/dev/urandom", "open /dev/urandom", call))
        return false;
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(dev_urandom, p + got, n - got);
        if (r == -1 && errno == error_intr)
            continue;
        if (r <= 0) {
            if (r == 0)
                errno = error_io;
            *call = "read /dev/urandom";
            return false;
        }
        got += static_cast<size_t>(r);
    }
    return true;
}

}

bool random_get(void* out, size_t n, int64_t deadline_ns, const char** call)
{
    unsigned char* p = static_cast<unsigned char*>(out);
    bool waited = false;
    size_t got = 0;
    while (got < n) {
        if (no_getrandom) {
            if (!seeded && !wait_seeded(deadline_ns, false, call))
                return false;
            seeded = true;
            return from_urandom(p + got, n - got, call);
        }
        // At most 256 bytes a call: those never come short from a seeded pool.
        size_t want = n - got > 256 ? 256 : n - got;
        ssize_t r = getrandom(p + got, want, GRND_NONBLOCK);
        if (r == static_cast<ssize_t>(want)) {
            got += want;
            continue;
        }
        if (r == -1 && errno == error_intr)
            continue;
        if (r == -1 && errno == ENOSYS) {
            no_getrandom = true;
            continue;
        }
        if (r == -1 && errno == error_again) {
            // Not seeded yet: wait for the kernel to say it is.
            if (!wait_seeded(deadline_ns, waited, call))
                return false;
            waited = true;
            continue;
        }
        if (r >= 0)
            errno = error_io;
        *call = "getrandom";
        return false;
    }
    return true;
}

uint64_t nonce_get(int64_t deadline_ns, const char** call)
{
    uint64_t v = 0;
    while (v == 0) {
        if (!random_get(&v, sizeof v, deadline_ns, call))
            return 0;
    }
    return v;
}

uint64_t jitter_get()
{
    uint64_t v = 0;
    if (getrandom(&v, sizeof v, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof v))
        return v;
    // Unseeded or missing: the nanoseconds since boot, and of the clock,
    // scattered by a multiplier, differ enough between devices to spread them.
    // A reading that fails leaves zero, which only makes the spread smaller.
    timespec a = {}, b = {};
    if (clock_gettime(CLOCK_MONOTONIC, &a) == -1)
        a = {};
    if (clock_gettime(CLOCK_REALTIME, &b) == -1)
        b = {};
    uint64_t x = static_cast<uint64_t>(a.tv_nsec) ^ static_cast<uint64_t>(b.tv_nsec) << 30
        ^ static_cast<uint64_t>(getpid()) << 20;
    return x * 0x9e3779b97f4a7c15u;
}
