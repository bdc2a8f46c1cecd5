// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

#include "addr.h"
#include "check.h"
#include "substdio.h"

// The human-readable lines of -n (on standard output) and -v (on standard
// error), one per event, each written out as soon as it is complete:
//
//   127.0.0.1:123: stratum 1 offset +3.250001234 delay 0.000052345
//   127.0.0.1:123: refused: bad origin
//   [::1]:123: unable to connect: network unreachable
//   192.0.2.8:123: refused: bad origin
//   192.0.2.8:123: more refusals not shown
//   [::1]:123: ignored: beyond its name's share of 16 addresses
//   192.0.2.9:123: no reply
//   example.org: unable to resolve: Name or service not known
//   192.0.2.7:123: falseticker
//   chosen offset +3.250001234, the median of 3 servers

// Where the lines go: a stream, or nowhere. A failed write to it is kept
// and reported by say_failed.
void say_to(substdio* s);
bool say_on();

void say_sample(const addr& a, const sample& s);
void say_refused(const addr& a, const char* reason);
void say_error(const addr& a, const char* call, int err);
void say_quiet(const addr& a);
void say_ignored(const addr& a, const char* why);
void say_unresolved(const char* name, int name_len, const char* text);
void say_silent(const addr& a);
void say_falseticker(const addr& a);
void say_chosen(int64_t offset, int servers);

// The errno of the first failed write, or 0.
int say_failed();
