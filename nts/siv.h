// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>

// AEAD_AES_SIV_CMAC_256 (RFC 5297), as NTS uses it: a 32-byte key, the
// associated data and the nonce as the two header inputs, the 16-byte
// synthetic IV as the tag before the ciphertext.
constexpr size_t siv_key_size = 32;

// Seals an empty plaintext: the tag alone, into tag.
bool siv_seal(const unsigned char* key, const unsigned char* ad, size_t ad_len,
    const unsigned char* nonce, size_t nonce_len, unsigned char* tag);

// Opens tag_and_ct (ct_len bytes, the tag first) into plain, ct_len - 16
// bytes; false when it does not verify.
bool siv_open(const unsigned char* key, const unsigned char* ad, size_t ad_len,
    const unsigned char* nonce, size_t nonce_len, const unsigned char* tag_and_ct, size_t ct_len,
    unsigned char* plain);
