// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// The command line: varnel-sntp [-knv] [-t seconds] [-c count] [-m seconds]
// [-d seconds] [-f date] [-i seconds] [-I seconds] [-p pool]... [server...];
// varnel-nts takes [-C cafile]... as well.

constexpr uint64_t deadline_default_ns = 5000000000;
constexpr uint64_t deadline_min_ns = 100000000;
constexpr uint64_t deadline_max_ns = 60000000000;
constexpr uint64_t delay_max_ns = 3600000000000;
constexpr int count_default = 1;
constexpr int count_max = 8;
// Under -k a measurement is a burst: the lower delay of two replies, 2 s
// apart, so that one slow datagram does not steer the clock.
constexpr int count_keep = 2;
// -k's interval between measurements: from -i to -I, 1 s to 2^17 s (36 h,
// as ntpd's longest poll).
constexpr uint64_t interval_min_ns = 64000000000;
constexpr uint64_t interval_max_ns = 1024000000000;
constexpr uint64_t interval_floor_ns = 1000000000;
constexpr uint64_t interval_ceiling_ns = 131072000000000;

// At most this many SERVER arguments and pools together: each is at least
// one address, and the address table holds 16.
constexpr int sources_max = 16;
constexpr int cafiles_max = 8;

struct options {
    bool human = false;   // -n: lines on standard output, no record
    bool verbose = false; // -v: the same lines on standard error
    uint64_t deadline_ns = deadline_default_ns;
    int count = count_default; // good replies wanted from each server
    bool count_set = false;
    bool keep = false;    // -k: measure again and again
    uint64_t interval_min_ns = ::interval_min_ns; // -i
    uint64_t interval_max_ns = ::interval_max_ns; // -I
    bool capped = false;
    uint64_t cap_ns = 0;  // -m: the largest offset magnitude accepted
    uint64_t delay_ns = 0; // -d: the longest random wait before starting
    bool floor_set = false;
    int64_t floor = 0;    // -f: seconds since 1970; else the build's floor
    const char* pools[sources_max] = {}; // -p, in order
    int npools = 0;
    bool tls = false;     // set by the caller: -C is an option
    const char* cafiles[cafiles_max] = {}; // -C, in order
    int ncafiles = 0;
    int first = 0;        // argv index of the first server
};

enum class opt_error {
    none,
    usage,    // unknown option, missing value, or no server and no pool
    deadline, // -t not a decimal from 0.1 to 60
    count,    // -c not 1 to 8
    cap,      // -m not a decimal number of seconds
    delay,    // -d not a decimal from 0 to 3600
    floor,    // -f not a date
    interval, // -i or -I not a decimal from 1 to 131072
    sources,  // more than 16 servers and pools
    order,    // -i above -I
    cafiles,  // more than 8 -C
};

// Reads the options up to the first argument that is not one, or "--".
// On an error about a value, *bad is that value. -i and -I only go with -k;
// under -k, -c defaults to count_keep.
opt_error options_parse(int argc, char** argv, options* o, const char** bad);
