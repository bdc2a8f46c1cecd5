#pragma once

#include <stdint.h>

// A fresh random 64-bit value, never zero, for a request's transmit
// timestamp. From getrandom(2) without blocking; where that is missing, or
// the kernel's pool is not yet initialised at early boot, from /dev/urandom,
// which never blocks. Returns 0 and sets *call ("getrandom", "open
// /dev/urandom" or "read /dev/urandom") with errno on failure.
uint64_t nonce_get(const char** call);
