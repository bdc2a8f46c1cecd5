// SPDX-License-Identifier: ISC
#include "estimate.h"

#include "div.h"
#include "kfreq.h"

namespace {

// x counts steps of 2^16 ns, 65.5 us: over a history of 2^46 ns it stays
// below 2^30. A slope of one ns per step is 10^6 ppm * 2^16.
constexpr int x_shift = 16;
constexpr int64_t slope_unit = 1000000;

int32_t work[history_max * (history_max - 1) / 2];
int32_t dev[history_max];

int32_t clamp32(int64_t v)
{
    return static_cast<int32_t>(v < -INT32_MAX ? -INT32_MAX : v > INT32_MAX ? INT32_MAX : v);
}

int32_t magnitude(int32_t v)
{
    return v < 0 ? -v : v;
}

// The median of work[0 .. n - 1], sorting them; the upper one of an even
// count.
int32_t median(int n)
{
    for (int i = 1; i < n; ++i) {
        int32_t v = work[i];
        int j = i;
        for (; j > 0 && work[j - 1] > v; --j)
            work[j] = work[j - 1];
        work[j] = v;
    }
    return work[n / 2];
}

// How far (x, y) lies off the fitted line, in ns.
int32_t off_line(const estimate& e, int32_t x, int32_t y)
{
    return clamp32(int64_t{y} - e.level - div64(int64_t{e.slope} * x, slope_unit));
}

// p against the reference line; false when it lies more than 32 bits of
// nanoseconds (2.1 s) off it, or 2^46 ns (19 h) past its first point: no
// measurement of the same clock, or the reference's rate far off the truth.
bool place(const estimate& e, const point& p, int32_t* x, int32_t* y)
{
    int64_t d = p.raw - e.ref_raw;
    if (d < 0 || d >= int64_t{1} << 46)
        return false;
    int64_t dy = p.u - e.ref_u - ppm_of(e.ref_freq, d);
    *x = static_cast<int32_t>(d >> x_shift);
    *y = clamp32(dy);
    return dy == *y;
}

// Drops the oldest k points; the reference moves to the new oldest along
// its own rate, so x stays small and y as it was. Returns how far x moved.
int32_t drop(estimate* e, int k)
{
    int32_t x0 = e->x[k];
    e->ref_u += ppm_of(e->ref_freq, int64_t{x0} << x_shift);
    e->ref_raw += int64_t{x0} << x_shift;
    for (int i = k; i < e->n; ++i) {
        e->x[i - k] = e->x[i] - x0;
        e->y[i - k] = e->y[i];
    }
    e->n -= k;
    return x0;
}

void fit(estimate* e)
{
    // Only the pairs half the history or more apart: a slope over a short
    // span carries the points' scatter divided by little, and a median of
    // many such is no better than one.
    int n = e->n, k = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = i + (n + 1) / 2; j < n; ++j) {
            int32_t dx = e->x[j] - e->x[i];
            if (dx > 0)
                work[k++] = clamp32(div64((int64_t{e->y[j]} - e->y[i]) * slope_unit, dx));
        }
    }
    e->slope = k > 0 && !(e->rate_kept && n < 3) ? median(k) : 0;
    e->level = 0;
    for (int i = 0; i < n; ++i)
        work[i] = dev[i] = off_line(*e, e->x[i], e->y[i]);
    e->level = median(n);
    for (int i = 0; i < n; ++i)
        work[i] = magnitude(dev[i] - e->level);
    // The median distance from the line, times 3/2: about the standard
    // deviation, were the spread normal. Below three points it says nothing.
    e->scatter = n < spike_points ? 0 : clamp32(int64_t{median(n)} * 3 / 2);
    e->freq = e->ref_freq + e->slope;
    // About the standard error of a slope fitted to three points over the
    // span; more points only narrow it.
    int32_t span = e->x[n - 1] - e->x[0];
    e->spread = n < spike_points || span == 0 ? INT64_MAX : div64(int64_t{e->scatter} * 2 * slope_unit, span);
    e->last = off_line(*e, e->x[n - 1], e->y[n - 1]);
    // The newest points all off the line the same way, each by more than
    // the scatter: the line no longer fits the clock as it is now. Its older
    // points were measured before the rate was known (a sample carried
    // forward at the wrong rate), or the rate has moved since. They go.
    if (n < spike_points + 2)
        return;
    for (int i = n - run_points; i < n; ++i) {
        int32_t r = dev[i] - e->level;
        if (magnitude(r) <= e->scatter || (r < 0) != (e->last < 0))
            return;
    }
    drop(e, n - run_points);
    fit(e);
}

// Starts the history afresh from p, against a line at the rate known now.
void restart(estimate* e, const point& p)
{
    e->ref_raw = p.raw;
    e->ref_u = p.u;
    e->ref_freq = e->freq;
    e->x[0] = e->y[0] = 0;
    e->n = 1;
    e->holding = false;
    fit(e);
}

}

take estimate_add(estimate* e, const point& p)
{
    int32_t x, y;
    int n = e->n;
    if (n == 0 || !place(*e, p, &x, &y) || x <= e->x[n - 1]) {
        restart(e, p);
        return take::restarted;
    }
    int32_t r = off_line(*e, x, y);
    if (n < spike_points && magnitude(r) * slope_unit > correction_max * (x - e->x[n - 1])) {
        restart(e, p);
        return take::restarted;
    }
    int64_t bound = int64_t{e->scatter} * spike_times;
    if (bound < spike_floor_ns)
        bound = spike_floor_ns;
    if (n >= spike_points && magnitude(r) > bound) {
        int32_t hx, hy;
        if (e->holding && place(*e, e->held, &hx, &hy)) {
            int32_t rh = off_line(*e, hx, hy);
            if ((rh < 0) == (r < 0) && magnitude(rh) > bound) {
                restart(e, e->held);
                e->rate_kept = true;
                estimate_add(e, p);
                return take::confirmed;
            }
        }
        e->held = p;
        e->holding = true;
        return take::held;
    }
    // The oldest goes to make room.
    if (n == history_max) {
        x -= drop(e, 1);
        --n;
    }
    e->x[n] = x;
    e->y[n] = y;
    e->n = n + 1;
    e->holding = false;
    fit(e);
    return take::used;
}
