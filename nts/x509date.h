// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>
#include <stdint.h>

// "YYMMDDHHMMSSZ" (UTCTime: 1950 to 2049) or "YYYYMMDDHHMMSSZ"
// (GeneralizedTime), as seconds since 1970. Reads nothing past len.
bool asn1_time(bool generalized, const unsigned char* p, size_t len, int64_t* sec);
