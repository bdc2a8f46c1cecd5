// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// Reads a decimal number of seconds, "3", "0.5" or "2.000000001", at most
// nine fractional digits and below 2^32 seconds, into nanoseconds. Nothing
// may follow it.
bool scan_seconds(const char* s, uint64_t* ns);
