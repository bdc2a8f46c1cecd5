// SPDX-License-Identifier: ISC
#include "mono.h"

#include <time.h>

namespace {

bool read(clockid_t clock, int64_t* ns)
{
    timespec ts;
    if (clock_gettime(clock, &ts) == -1)
        return false;
    *ns = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    return true;
}

}

bool mono_now(int64_t* ns)
{
    return read(CLOCK_MONOTONIC, ns);
}

bool mono_raw(int64_t* ns)
{
    return read(CLOCK_MONOTONIC_RAW, ns);
}

int mono_ms(int64_t now, int64_t until)
{
    if (until <= now)
        return 0;
    int64_t ms = (until - now + 999999) / 1000000;
    return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}
