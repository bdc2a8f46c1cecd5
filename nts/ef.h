// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>
#include <stdint.h>

// NTP extension fields for NTS (RFC 8915, section 5): after the 48-byte
// header, fields of a 16-bit type, a 16-bit length of the whole field (a
// multiple of 4) and a body.

constexpr size_t uid_size = 32;
constexpr size_t siv_nonce_size = 16;
constexpr size_t siv_tag_size = 16;

// A request: the header (transmit timestamp nonce), our Unique Identifier,
// one cookie, and the Authenticator with an empty plaintext. Everything
// before the Authenticator is its associated data; the caller seals it and
// puts the tag at *tag_at. Returns the request's length, or 0 when it would
// not fit cap bytes.
size_t ef_request(unsigned char* out, size_t cap, uint64_t nonce, const unsigned char* uid,
    const unsigned char* cookie, size_t cookie_len, const unsigned char* siv_nonce,
    size_t* ad_len, size_t* tag_at);

// A reply's fields, located: its Unique Identifier, and its Authenticator,
// which must be the last field.
struct ef_reply {
    const unsigned char* uid;   // null when there is none
    size_t ad_len;              // the bytes before the Authenticator; 0 when none
    const unsigned char* nonce;
    size_t nonce_len;
    const unsigned char* ct;    // the SIV tag, then the encrypted fields
    size_t ct_len;
};

enum class ef_status : uint8_t {
    ok,
    malformed,     // a field past the end, of a bad length, or after the Authenticator
    no_uid,        // no Unique Identifier of 32 bytes, or two
    no_auth,       // no Authenticator, or one too short to hold a tag
};

ef_status ef_parse(const unsigned char* in, size_t len, ef_reply* r);

// Calls take(cookie, len, ctx) for each NTS Cookie field among the
// decrypted fields; false when they are not whole fields.
bool ef_cookies(const unsigned char* in, size_t len,
    void (*take)(const unsigned char* cookie, size_t len, void* ctx), void* ctx);
