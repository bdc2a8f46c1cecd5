// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>
#include <stdint.h>

// A fresh random 64-bit value, never zero, for a request's transmit
// timestamp: the only thing that keeps a forger off the path from fitting
// a reply to it, so it comes only from randomness the kernel says is
// seeded. From getrandom(2) without blocking; while the kernel's pool is not
// yet initialised (early boot on a device without a hardware source), it
// waits for /dev/random to become readable, until the monotonic deadline.
// A kernel without getrandom has its /dev/urandom read once /dev/random was
// readable, the old kernels' sign of a seeded pool. Returns 0 and sets
// *call with errno on failure; ETIMEDOUT when the deadline passed first.
uint64_t nonce_get(int64_t deadline_ns, const char** call);

// n random bytes into out under the same rule, for keys, identifiers and
// the like. Returns false and sets *call with errno on failure.
bool random_get(void* out, size_t n, int64_t deadline_ns, const char** call);

// A random value for spreading the start of many devices apart. It need not
// be secret, so it never waits: from getrandom(2) if the pool is ready, else
// from the clocks, which differ from one device's boot to the next.
uint64_t jitter_get();
