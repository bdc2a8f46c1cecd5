// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// What the keeper learns from the measurements: how fast the oscillator
// runs against true time, and where true time stands.
//
// Each measurement is taken as a point: the raw monotonic clock when it came
// (the oscillator itself, which nothing the keeper does can move) and the
// true time less that raw clock, u = offset + (realtime - raw). Neither
// depends on how the clock was slewed, stepped or corrected in frequency,
// so the history needs no rewriting when the keeper acts, and its slope is
// the oscillator's error: the correction the kernel must make.
//
// The history is kept against a reference line through its first point at
// the frequency known then: x, the raw clock since, in steps of 65.5 us; y, how
// far u lies off the line, in nanoseconds; 32 bits each, the arithmetic a
// small CPU does well. The line through the points is fitted by Theil and
// Sen's estimator (the median of the slopes between pairs of points, here
// those half the history apart or more, then the median level), which a
// few wild points cannot drag as they drag least squares. A point far off the line (a popcorn spike: a reply delayed one
// way, a server's hiccup) is held back until the next one says whether the
// world really moved.

struct point {
    int64_t raw; // ns
    int64_t u;   // ns
};

constexpr int history_max = 8;

// How a point was taken: into the history; held, a spike, apart from it;
// confirming the held one, the history then starting afresh from the two
// (a jump of the time measured, which says nothing of the rate: the rate
// stands until a third point comes);
// or starting it afresh alone: with fewer than spike_points there is no
// scatter to judge a spike by, and a point so far off the line that no
// oscillator within correction_max could have put it there is a jump, not
// a rate.
enum class take : uint8_t { used, held, confirmed, restarted };

struct estimate {
    int n;
    int64_t ref_raw, ref_u; // the reference line's first point
    int64_t ref_freq;       // and its slope, ppm * 2^16
    int32_t x[history_max]; // steps of 2^16 ns since ref_raw
    int32_t y[history_max]; // ns off the reference line
    int32_t slope;          // the fitted line's, against the reference
    int32_t level;          // its y at x = 0
    int32_t scatter;        // ns: the points' spread about it, once n >=
                            // spike_points
    int64_t freq;           // ppm * 2^16: ref_freq + slope, the oscillator's
                            // error; the caller's until n >= 2
    int64_t spread;         // ppm * 2^16: how well freq is known, from the
                            // scatter over the span; INT64_MAX before that
    point held;
    bool holding;
    bool rate_kept;         // the history restarted from a confirmed jump:
                            // its rate stands until a third point
    int32_t last;           // the newest point's distance off the fitted line
};

// Takes p, which must come after every point before it.
take estimate_add(estimate* e, const point& p);

// A point is a spike when it lies this many times the scatter off the
// line, and at least spike_floor_ns: a clock held to microseconds must
// still take a measurement a little worse than the last. Below
// spike_points points the scatter says too little to judge by.
constexpr int spike_points = 4;

// So many newest points off the line the same way, each by more than the
// scatter, end the line: the older points go. With six points and more.
constexpr int run_points = 3;
constexpr int32_t spike_times = 5;
constexpr int32_t spike_floor_ns = 250000;
