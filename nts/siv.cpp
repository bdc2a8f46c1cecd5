// SPDX-License-Identifier: ISC
#include "siv.h"

#include "wolf.h"

#include "ef.h"

bool siv_seal(const unsigned char* key, const unsigned char* ad, size_t ad_len,
    const unsigned char* nonce, size_t nonce_len, unsigned char* tag)
{
    // wolfSSL refuses a null output even for an empty plaintext.
    unsigned char none[1] = {};
    return wc_AesSivEncrypt(key, siv_key_size, ad, static_cast<word32>(ad_len), nonce,
               static_cast<word32>(nonce_len), none, 0, tag, none)
        == 0;
}

bool siv_open(const unsigned char* key, const unsigned char* ad, size_t ad_len,
    const unsigned char* nonce, size_t nonce_len, const unsigned char* tag_and_ct, size_t ct_len,
    unsigned char* plain)
{
    if (ct_len < siv_tag_size)
        return false;
    // The tag is only read, whatever the prototype says.
    return wc_AesSivDecrypt(key, siv_key_size, ad, static_cast<word32>(ad_len), nonce,
               static_cast<word32>(nonce_len), tag_and_ct + siv_tag_size,
               static_cast<word32>(ct_len - siv_tag_size), const_cast<unsigned char*>(tag_and_ct),
               plain)
        == 0;
}
