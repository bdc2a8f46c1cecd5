// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>
#include <stdint.h>

// The NTS key exchange's records (RFC 8915, section 4): a 16-bit word whose
// top bit marks the record critical and whose rest is its type, a 16-bit
// body length, the body.

// A reply brings eight cookies. Four are kept: each good reply brings a
// fresh one, and a one-shot run asks a server a few times at most.
constexpr int ke_cookies_max = 4;
// Cookies are opaque to us; a server's are around 100 bytes.
constexpr size_t ke_cookie_max = 192;
constexpr size_t ke_name_max = 253;
// A whole reply at most: eight cookies and the rest come to a kilobyte.
constexpr uint32_t ke_reply_max = 16384;
// What a reader must hold at once: a record's header and the largest body
// kept. Longer records of no interest are skipped as they stream past.
constexpr size_t ke_chunk_max = 4 + 256;

constexpr uint16_t aead_aes_siv_cmac_256 = 15;

// What the client asks: NTPv4, AES-SIV-CMAC-256, End of Message.
constexpr size_t ke_request_size = 16;
void ke_request(unsigned char* out);

struct ke_reply {
    unsigned char cookie[ke_cookies_max][ke_cookie_max];
    uint16_t cookie_len[ke_cookies_max];
    int cookies;
    char server[ke_name_max + 1]; // record 6, NUL-terminated; empty when none
    uint16_t port;                // record 7; 0 when none
    uint16_t code;                // the Error or Warning code
    uint16_t type;                // the unknown critical type
    // Where the reading stands.
    bool protocol;
    bool aead;
    uint32_t skip;                // bytes of a long record still to pass over
};

enum class ke_status : uint8_t {
    done,        // a whole, good reply, up to and with End of Message
    more,        // good so far, but not yet whole: read on
    error,       // an Error record, with its code
    warning,     // a Warning record, with its code
    critical,    // an unknown critical record, with its type
    malformed,   // a record of the wrong length or a value out of range
    no_protocol, // no NTPv4 in Next Protocol, or it came twice or not at all
    no_aead,     // no AES-SIV-CMAC-256, or none chosen
    no_cookies,  // End of Message without a single cookie
    truncated,   // the stream ended before End of Message (the caller's verdict)
    too_long,    // more than ke_reply_max bytes (the caller's verdict too)
};

// Takes the next len bytes of a reply, r zeroed before the first. It reads
// whole records and sets *used to the bytes it took; the caller keeps the
// rest and brings it again with more, at most ke_chunk_max bytes in all.
// Never reads past len.
ke_status ke_feed(ke_reply* r, const unsigned char* in, size_t len, size_t* used);

// A line's worth of text for a status that is not done or more, such as
// "Error record, code 1"; out holds ke_text_max bytes.
constexpr int ke_text_max = 64;
const char* ke_text(ke_status st, const ke_reply& r, char* out);
