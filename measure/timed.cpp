// SPDX-License-Identifier: ISC
#include "timed.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "error.h"
#include "mono.h"

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
    int64_t now;
    if (!mono_now(&now))
        return -1;
    return ready(fd, mono_ms(now, deadline)) ? put(fd, p, len) : -1;
}

int nowait_write(int fd, const char* p, int len)
{
    return ready(fd, 0) ? put(fd, p, len) : -1;
}
