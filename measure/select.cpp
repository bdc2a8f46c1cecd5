// SPDX-License-Identifier: ISC
#include "select.h"

#include "ntptime.h"

namespace {

struct edge {
    int64_t at;
    int kind; // -1 the low end of an interval, +1 its high end
};

edge edges[2 * select_max];

// Sorted by position; at the same position a low end comes first, so that
// intervals that only touch still overlap.
void sort(edge* e, int n)
{
    for (int i = 1; i < n; ++i) {
        edge x = e[i];
        int j = i;
        for (; j > 0 && (e[j - 1].at > x.at || (e[j - 1].at == x.at && e[j - 1].kind > x.kind));
             --j)
            e[j] = e[j - 1];
        e[j] = x;
    }
}

}

int64_t select_distance(const sample& s)
{
    // A precision of a second or coarser counts as a second.
    int64_t prec = ns_per_sec;
    if (s.precision < 0)
        prec = s.precision <= -31 ? 0 : ns_per_sec >> -s.precision;
    // Each term is bounded by the checks (delay 3 s, root distance 1.5 s),
    // so neither the sum nor the interval ends can overflow.
    return s.delay / 2 + static_cast<int64_t>(s.root_distance) + prec + select_slack_ns;
}

select_result select_offset(const sample* s, int n, int64_t* offset, bool* truechimer,
    int* chimers)
{
    int64_t dist[select_max];
    for (int i = 0; i < n; ++i) {
        dist[i] = select_distance(s[i]);
        edges[2 * i] = {s[i].offset - dist[i], -1};
        edges[2 * i + 1] = {s[i].offset + dist[i], +1};
    }
    sort(edges, 2 * n);

    // Allow f falsetickers, fewest first, while the rest are a majority.
    for (int f = 0; 2 * f < n; ++f) {
        int need = n - f;
        int64_t lo = 0, hi = 0;
        bool have_lo = false, have_hi = false;
        int count = 0;
        for (int i = 0; i < 2 * n && !have_lo; ++i) {
            count -= edges[i].kind;
            if (count >= need) {
                lo = edges[i].at;
                have_lo = true;
            }
        }
        count = 0;
        for (int i = 2 * n - 1; i >= 0 && !have_hi; --i) {
            count += edges[i].kind;
            if (count >= need) {
                hi = edges[i].at;
                have_hi = true;
            }
        }
        if (!have_lo || !have_hi)
            continue;

        // The truechimers are the intervals that reach into [lo, hi]; their
        // offsets, in order, give the median.
        int64_t sorted[select_max];
        int m = 0;
        for (int i = 0; i < n; ++i) {
            truechimer[i] = s[i].offset + dist[i] >= lo && s[i].offset - dist[i] <= hi;
            if (!truechimer[i])
                continue;
            int j = m++;
            for (; j > 0 && sorted[j - 1] > s[i].offset; --j)
                sorted[j] = sorted[j - 1];
            sorted[j] = s[i].offset;
        }
        // The two middle offsets lie within 2^32 s of each other, so their
        // difference cannot overflow.
        int64_t a = sorted[(m - 1) / 2], b = sorted[m / 2];
        *offset = a + (b - a) / 2;
        *chimers = m;
        return select_result::chosen;
    }
    return select_result::no_majority;
}
