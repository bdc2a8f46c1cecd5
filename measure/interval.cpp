// SPDX-License-Identifier: ISC
#include "interval.h"

namespace {

// Doubles after this many calm measurements in a row: one could be luck,
// and a doubling too soon, while the keeper still learns the rate, costs
// the clock a millisecond for a while.
constexpr int calm_needed = 2;
// Halves at an offset this many times its error: the clock drifts away
// between measurements faster than they can show.
constexpr int64_t wild = 4;

uint64_t magnitude(int64_t v)
{
    return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

void longer(interval* v)
{
    v->ns = v->ns > v->max_ns / 2 ? v->max_ns : v->ns * 2;
    v->calm = 0;
}

}

void interval_start(interval* v, uint64_t min_ns, uint64_t max_ns)
{
    *v = {min_ns, min_ns, max_ns, 0};
}

void interval_good(interval* v, int64_t offset, int64_t error)
{
    uint64_t o = magnitude(offset), e = magnitude(error);
    if (o > e * wild) {
        v->ns = v->ns / 2 < v->min_ns ? v->min_ns : v->ns / 2;
        v->calm = 0;
    } else if (o <= e) {
        if (++v->calm == calm_needed)
            longer(v);
    } else {
        v->calm = 0;
    }
}

void interval_failed(interval* v)
{
    longer(v);
}
