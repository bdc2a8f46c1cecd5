// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>

// Whether a DNS name of a certificate (a dNSName, or the CN of one without
// subjectAltName) names the host asked, as RFC 6125 has them matched:
// letters without regard to case, a final dot ignored, and a wildcard only
// as the whole left-most label, standing for one label of the host and
// only above two labels more, so that "*", "*.com", "l*t" and "*.*.example"
// match nothing. A name has no '*'.
bool dns_match(const char* pattern, size_t plen, const char* name, size_t nlen);
