/* SPDX-License-Identifier: ISC */
/* The floor: the least any program of varnel's design can do. One read of
 * the record, a clock reading, the sleep to the shifted whole second, a
 * second reading, the sum with one carry, the setting, the exit; no
 * diagnostics, nothing else. */
#include <stdint.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

static unsigned char buf[16];
static struct timeval tv;

static uint32_t be32(const unsigned char* p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

int main(void)
{
    if (read(0, buf, sizeof buf) != (ssize_t)sizeof buf)
        _exit(111);
    uint32_t sec = be32(buf + 4), usec = be32(buf + 8) / 1000;
    gettimeofday(&tv, 0);
    struct timeval wait = {0, (suseconds_t)(1000000 - ((uint32_t)tv.tv_usec + usec) % 1000000)};
    select(1, 0, 0, 0, &wait);
    gettimeofday(&tv, 0);
    uint32_t u = (uint32_t)tv.tv_usec + usec;
    uint64_t s = (uint64_t)tv.tv_sec + (uint64_t)(int64_t)(int32_t)sec;
    if (u > 999999) {
        u -= 1000000;
        s += 1;
    }
    tv.tv_sec = (time_t)s;
    tv.tv_usec = (suseconds_t)u;
    if (settimeofday(&tv, 0) == -1)
        _exit(111);
    _exit(0);
}
