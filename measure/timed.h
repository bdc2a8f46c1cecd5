// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// Writes to standard output and standard error that never hold the run past
// its deadline: a reader that stops reading (a pipe nobody drains, a
// terminal on hold) must not keep the program from ending, nor from
// measuring. What cannot go out in time is dropped, and the write fails with
// ETIMEDOUT. The waits are polls; the descriptors' flags, which other
// processes share, are left alone.

// From now on writes wait at most until this moment of the monotonic clock,
// in nanoseconds. Before the first call they wait as long as it takes.
void timed_deadline(int64_t mono_ns);

// write(2) under that rule, in the shape of a substdio write operation: it
// first waits for the descriptor to take bytes, at most until the deadline
// and not at all once it has passed. For the result, which is worth the
// wait. A line of up to PIPE_BUF bytes goes out whole or not at all.
int timed_write(int fd, const char* p, int len);

// The same without any wait: for diagnostics, which must not stop the
// measuring while a reader lags.
int nowait_write(int fd, const char* p, int len);
