// SPDX-License-Identifier: ISC
#include "substdio.h"

#include <errno.h>
#include <unistd.h>

#include "byte.h"
#include "error.h"
#include "str.h"

namespace {

// A write operation that keeps taking nothing would otherwise hang the
// process for ever, so that many calls in a row without progress give up
// with EIO. Any progress starts the count again.
constexpr int stall_limit = 64;

// Pieces longer than the buffer go out in chunks of at least this size.
constexpr int chunk_min = 8192;

}

int write_all(substdio_op op, int fd, const char* p, int len)
{
    int stalls = 0;
    while (len > 0) {
        int w = op(fd, p, len);
        if (w < 0) {
            if (errno == error_intr)
                continue;
            return -1;
        }
        if (w == 0) {
            if (++stalls == stall_limit) {
                errno = error_io;
                return -1;
            }
            continue;
        }
        stalls = 0;
        if (w > len)
            w = len;
        p += w;
        len -= w;
    }
    return 0;
}

int substdio_flush(substdio* s)
{
    int n = s->used;
    if (n == 0)
        return 0;
    s->used = 0;
    return write_all(s->write_op, s->fd, s->buffer, n);
}

int substdio_bput(substdio* s, const char* p, int len)
{
    for (;;) {
        int room = s->size - s->used;
        if (len <= room) {
            byte_copy(s->buffer + s->used, len, p);
            s->used += len;
            return 0;
        }
        byte_copy(s->buffer + s->used, room, p);
        s->used += room;
        if (substdio_flush(s) == -1)
            return -1;
        p += room;
        len -= room;
    }
}

int substdio_put(substdio* s, const char* p, int len)
{
    if (len > s->size - s->used) {
        if (substdio_flush(s) == -1)
            return -1;
        int n = s->size < chunk_min ? chunk_min : s->size;
        while (len > s->size) {
            if (n > len)
                n = len;
            if (write_all(s->write_op, s->fd, p, n) == -1)
                return -1;
            p += n;
            len -= n;
        }
    }
    byte_copy(s->buffer + s->used, len, p);
    s->used += len;
    return 0;
}

int substdio_putflush(substdio* s, const char* p, int len)
{
    if (substdio_flush(s) == -1)
        return -1;
    return write_all(s->write_op, s->fd, p, len);
}

int substdio_puts(substdio* s, const char* text)
{
    return substdio_put(s, text, str_len(text));
}

int substdio_bputs(substdio* s, const char* text)
{
    return substdio_bput(s, text, str_len(text));
}

int substdio_putsflush(substdio* s, const char* text)
{
    return substdio_putflush(s, text, str_len(text));
}

int substdio_syswrite(int fd, const char* p, int len)
{
    // Lengths here never exceed an int, so neither conversion loses anything.
    return static_cast<int>(write(fd, p, static_cast<size_t>(len)));
}
