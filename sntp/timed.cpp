// SPDX-License-Identifier: ISC
#include "timed.h"

#include <errno.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include "error.h"

namespace {

bool bounded = false;
int64_t deadline;

// Waits until fd takes bytes or ms milliseconds pass; false with ETIMEDOUT
// then. An error or hang-up counts as ready: the write reports it.
bool ready(int fd, int ms)
{
    for (;;) {
        pollfd pfd = {fd, POLLOUT, 0};
        int rc = poll(&pfd, 1, ms);
        if (rc == -1 && errno == error_intr)
            continue;
        if (rc == 0)
            errno = error_timeout;
        return rc == 1;
    }
}

int put(int fd, const char* p, int len)
{
    return static_cast<int>(write(fd, p, static_cast<size_t>(len)));
}

}

void timed_deadline(int64_t mono_ns)
{
    bounded = true;
    deadline = mono_ns;
}

int timed_write(int fd, const char* p, int len)
{
    if (!bounded)
        return put(fd, p, len);
    timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) == -1)
        return -1;
    int64_t now = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    int64_t left = deadline > now ? (deadline - now + 999999) / 1000000 : 0;
    return ready(fd, static_cast<int>(left)) ? put(fd, p, len) : -1;
}

int nowait_write(int fd, const char* p, int len)
{
    return ready(fd, 0) ? put(fd, p, len) : -1;
}
