// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// How long -k waits from one measurement to the next. It starts at the
// shortest and doubles, up to the longest, while the offsets measured stay
// small against their error: the clock is being held, and asking less is
// what a fleet owes the servers. It halves when an offset grows large
// against its error, and doubles after a failure, as a retry should.
struct interval {
    uint64_t ns;
    uint64_t min_ns, max_ns;
    int calm; // measurements in a row whose offset was within their error
};

void interval_start(interval* v, uint64_t min_ns, uint64_t max_ns);

// After a measurement of offset ns whose error (half the delay) was error
// ns.
void interval_good(interval* v, int64_t offset, int64_t error);

void interval_failed(interval* v);
