// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>
#include <stdint.h>

// A certificate's validity (RFC 5280, section 4.1.2.5), read from its DER:
// notBefore and notAfter as seconds since 1970. False when the bytes are
// not a certificate or a date is not one. Reads nothing past len.
bool cert_validity(const unsigned char* der, size_t len, int64_t* from, int64_t* until);

// "YYMMDDHHMMSSZ" (UTCTime: 1950 to 2049) or "YYYYMMDDHHMMSSZ"
// (GeneralizedTime), as seconds since 1970.
bool asn1_time(bool generalized, const unsigned char* p, size_t len, int64_t* sec);
