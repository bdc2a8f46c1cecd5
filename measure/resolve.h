// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include "addr.h"

// Host names are resolved in a child process: the resolver allocates, may
// wait on the network for many seconds, and on some C libraries picks
// guessable DNS IDs. Here it runs apart, in a forked child that writes the
// addresses it finds into a pipe and exits. The parent only ever reads
// bytes from the pipe, polls it against its own deadline beside its NTP
// sockets, and kills and reaps the child when time is up.

constexpr int resolve_max_addrs = 16;
// The child's whole answer, in one write smaller than PIPE_BUF: a kind byte,
// then a count and per address its family (4 or 6) and 16 address bytes, or
// the error text.
constexpr int resolve_msg_max = 2 + resolve_max_addrs * 17;

struct resolver {
    const char* name; // into the argument, name_len bytes
    int name_len;
    uint16_t port;
    pid_t pid;        // the child, 0 once reaped
    int fd;           // the pipe's read end, -1 once closed
    unsigned char msg[resolve_msg_max];
    int got;
};

// Forks the child for r->name. The child gives up by itself after
// alarm_s seconds should the parent be gone. Returns false with *call set
// ("pipe", "fork") and errno on failure; nothing is left running then.
bool resolve_start(resolver* r, unsigned alarm_s, const char** call);

// Reads what the child wrote, once the pipe is readable. Returns true when
// the answer is complete: the pipe is closed and the child reaped. Returns
// false when more is to come, or on a system error with *call set.
bool resolve_read(resolver* r, const char** call, bool* failed);

// Kills and reaps the child if it still runs, and closes the pipe.
void resolve_stop(resolver* r);

// The addresses of a complete answer, with r->port; their number, or -1 when
// the name did not resolve, with *text saying why.
int resolve_result(const resolver& r, addr* out, const char** text);
