#pragma once

#include "addr.h"
#include "check.h"
#include "options.h"

// At most this many server addresses are queried in a run: the socket and
// request tables are static. Addresses beyond it, from names that resolve to
// many, are ignored (and said so under -n and -v); more SERVER arguments
// than this are refused.
constexpr int max_servers = 16;

// The sample chosen, and whose it is.
struct choice {
    addr a;
    sample s;
};

// Queries the servers named by argv[o.first ..] until each has answered
// o.count requests or is given up on, or until the deadline, and chooses an
// offset. Does not return on failure: it dies with the fatal line, status
// 111 (100 for a bad SERVER argument), after killing any resolver child.
choice run(const options& o, int argc, char** argv);
