// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// The command line: varnel-sntp [-nv] [-t seconds] [-c count] [-m seconds]
// [-d seconds] [-f date] [-p pool]... [server...]; varnel-nts takes
// [-C cafile]... as well.

constexpr uint64_t deadline_default_ns = 5000000000;
constexpr uint64_t deadline_min_ns = 100000000;
constexpr uint64_t deadline_max_ns = 60000000000;
constexpr uint64_t delay_max_ns = 3600000000000;
constexpr int count_default = 1;
constexpr int count_max = 8;

// At most this many SERVER arguments and pools together: each is at least
// one address, and the address table holds 16.
constexpr int sources_max = 16;
constexpr int cafiles_max = 8;

struct options {
    bool human = false;   // -n: lines on standard output, no record
    bool verbose = false; // -v: the same lines on standard error
    uint64_t deadline_ns = deadline_default_ns;
    int count = count_default; // good replies wanted from each server
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
    sources,  // more than 16 servers and pools
    cafiles,  // more than 8 -C
};

// Reads the options up to the first argument that is not one, or "--".
// On an error about a value, *bad is that value.
opt_error options_parse(int argc, char** argv, options* o, const char** bad);

// Reads a decimal number of seconds, "3", "0.5" or "2.000000001", at most
// nine fractional digits and below 2^32 seconds, into nanoseconds.
bool scan_seconds(const char* s, uint64_t* ns);
