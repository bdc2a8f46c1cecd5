// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// The drift file: the frequency correction that kept the clock, so that a
// restart begins from it rather than from nothing. One line, the correction
// in ppm as a signed decimal, to a thousandth: "-3012.345".

enum class drift_status : uint8_t {
    ok,
    unreadable, // errno says why
    corrupt,    // not one such number, a newline after it or not
    beyond,     // beyond +-50000 ppm, the most the keeper corrects
};

// The longest name a drift file may have: it and its temporary twin, the
// name with ".new", are made in a buffer of this and a little more.
constexpr int drift_name_max = 255;

// The text of len bytes as a correction in ppm * 2^16.
drift_status drift_parse(const char* text, int len, int64_t* scaled);

// The line for a correction of scaled ppm * 2^16 (within +-50000 ppm),
// into out (drift_line_max bytes); returns its length.
constexpr int drift_line_max = 16;
int drift_format(char* out, int64_t scaled);

drift_status drift_read(const char* path, int64_t* scaled);

// Writes the file so that a crash leaves the old one or the new one, never
// a part: the temporary file written and flushed to the medium, renamed
// over the old, and the folder flushed. False with *call and errno on
// failure; the old file then stands.
bool drift_write(const char* path, int64_t scaled, const char** call);

// Reads an unsigned decimal with at most `places` fractional digits, and
// nothing after it, as an integer in units of 10^-places; false for
// anything else, or a value of 2^32 units or more.
bool scan_fixed(const char* s, int places, uint32_t* v);
