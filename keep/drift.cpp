// SPDX-License-Identifier: ISC
#include "drift.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "byte.h"
#include "div.h"
#include "fmt.h"
#include "kernel.h"
#include "str.h"

namespace {

// The file holds thousandths of a ppm: 125 / 8192 of a ppm * 2^16.
constexpr uint32_t milli_max = 50000000;

}

bool scan_fixed(const char* s, int places, uint32_t* v)
{
    uint64_t n = 0;
    int frac = -1; // digits after the point, once there is one
    if (*s < '0' || *s > '9')
        return false;
    for (; *s; ++s) {
        if (*s == '.' && frac < 0) {
            frac = 0;
            continue;
        }
        if (*s < '0' || *s > '9' || frac == places)
            return false;
        n = n * 10 + static_cast<uint64_t>(*s - '0');
        frac += frac >= 0;
        if (n >> 32)
            return false;
    }
    if (frac == 0)
        return false;
    for (frac = frac < 0 ? 0 : frac; frac < places; ++frac)
        n *= 10;
    *v = static_cast<uint32_t>(n);
    return !(n >> 32);
}

drift_status drift_parse(const char* text, int len, int64_t* scaled)
{
    char buf[drift_line_max];
    if (len > 0 && text[len - 1] == '\n')
        --len;
    if (len <= 0 || len >= drift_line_max)
        return drift_status::corrupt;
    byte_copy(buf, len, text);
    buf[len] = '\0';
    bool minus = buf[0] == '-';
    uint32_t milli;
    if (!scan_fixed(buf + (minus || buf[0] == '+'), 3, &milli))
        return drift_status::corrupt;
    if (milli > milli_max)
        return drift_status::beyond;
    int64_t m = minus ? -int64_t{milli} : int64_t{milli};
    *scaled = div64(m * 8192 + (m < 0 ? -62 : 62), 125);
    return drift_status::ok;
}

int drift_format(char* out, int64_t scaled)
{
    // Rounded to the nearest thousandth.
    int64_t m = (scaled * 125 + (scaled < 0 ? -4096 : 4096)) / 8192;
    uint32_t milli = static_cast<uint32_t>(m < 0 ? -m : m);
    int len = 0;
    out[len++] = m < 0 ? '-' : '+';
    len += fmt_ulong(out + len, milli / 1000);
    out[len++] = '.';
    for (uint32_t d = 100; d; d /= 10)
        out[len++] = static_cast<char>('0' + milli / d % 10);
    out[len++] = '\n';
    return len;
}

drift_status drift_read(const char* path, int64_t* scaled)
{
    char buf[drift_line_max + 1];
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd == -1)
        return drift_status::unreadable;
    ssize_t got = read(fd, buf, sizeof buf);
    int e = errno;
    close(fd);
    errno = e;
    // Whole in one read, being far shorter than a page; a file that fills
    // the buffer is too long to be one.
    if (got == -1)
        return drift_status::unreadable;
    return drift_parse(buf, static_cast<int>(got), scaled);
}

bool drift_write(const char* path, int64_t scaled, const char** call)
{
    char line[drift_line_max];
    char name[drift_name_max + 8];
    int len = drift_format(line, scaled);
    int n = str_len(path);
    byte_copy(name, n, path);
    byte_copy(name + n, 5, ".new");
    *call = "open";
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd == -1)
        return false;
    // A line this short goes out in one write, or the medium is full.
    ssize_t w = write(fd, line, static_cast<size_t>(len));
    *call = w != len ? "write" : "fsync";
    if (w >= 0 && w != len)
        errno = ENOSPC;
    bool ok = w == len && fsync(fd) == 0;
    if (ok) {
        *call = "close";
        ok = close(fd) == 0;
    } else {
        int e = errno;
        close(fd);
        errno = e;
    }
    if (ok) {
        *call = "rename";
        ok = rename(name, path) == 0;
    }
    if (!ok) {
        int e = errno;
        unlink(name);
        errno = e;
        return false;
    }
    // The rename itself lasts once the folder is on the medium.
    while (n > 0 && name[n - 1] != '/')
        --n;
    if (n == 0)
        name[n++] = '.';
    name[n] = '\0';
    *call = "fsync";
    fd = open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd == -1)
        return false;
    ok = fsync(fd) == 0;
    int e = errno;
    close(fd);
    errno = e;
    return ok;
}
