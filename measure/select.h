// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

#include "check.h"

// Choosing one offset among the servers' best samples.
//
// Each sample stands for an interval [offset - d, offset + d] that holds the
// true offset if its server told the truth: d is half the delay (the most
// the path's asymmetry can move the offset), plus the root distance (the
// server's own error bound), plus the server's precision, plus
// select_slack_ns for our own timestamps. The intervals that a majority of
// the servers share make the truechimers; a server whose interval misses
// that intersection is a falseticker and is outvoted. This is Marzullo's
// intersection as in the first step of RFC 5905's clock select: with n
// servers, try to find a point shared by n, then n - 1, ... intervals, while
// more than half of them still agree.
//
// The truechimers' offsets are then combined by their median (with an even
// number, the midpoint of the middle two), so that no single server's
// claims decide the result: a server that claims a tiny distance can only
// move the median as far as an honest neighbour stands.

constexpr int64_t select_slack_ns = 1000000;

// The half width d of a sample's interval, in nanoseconds.
int64_t select_distance(const sample& s);

enum class select_result { chosen, no_majority };

// Chooses among n samples (n <= select_max). On chosen, *offset is the
// median of the truechimers' offsets, truechimer[i] tells for each sample
// whether it agreed with the majority, and *chimers counts them.
constexpr int select_max = 16;
select_result select_offset(const sample* s, int n, int64_t* offset, bool* truechimer,
    int* chimers);
