// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

#include "options.h"

// At most this many server addresses are queried in a run: the socket and
// request tables are static. The table is shared fairly: each SERVER
// argument and each pool gets a share before any gets a second, a server
// name at most 2 addresses, a pool at most 4, a numeric address 1.
constexpr int max_servers = 16;
constexpr int name_share = 2;
constexpr int pool_share = 4;

// Queries the servers named by argv[o.first ..] and the pools of o until
// each has given o.count good replies or is given up on, or until the
// deadline, and returns the offset chosen: the median of the servers that
// agree, one vote per server named and per address of a pool. Does not
// return on failure: it dies with the fatal line, status 111 (100 for a
// bad SERVER argument), after killing any resolver child.
int64_t run(const options& o, int argc, char** argv);
