// SPDX-License-Identifier: ISC
// libFuzzer target for the extension-field reader of NTS replies and for
// the certificate date reader: whatever the bytes, no undefined behaviour,
// nothing read past them, and what is located lies inside the datagram.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "ef.h"
#include "packet.h"
#include "x509date.h"

namespace {

void require(bool ok)
{
    if (!ok)
        abort();
}

bool inside(const uint8_t* base, size_t len, const unsigned char* p, size_t n)
{
    return p >= base && n <= len && static_cast<size_t>(p - base) <= len - n;
}

void count(const unsigned char*, size_t len, void* ctx)
{
    require(len > 0);
    ++*static_cast<int*>(ctx);
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ef_reply r;
    ef_status st = ef_parse(data, size, &r);
    if (st == ef_status::ok) {
        require(inside(data, size, r.uid, uid_size));
        require(r.ad_len >= ntp_size && r.ad_len < size);
        require(inside(data, size, r.nonce, r.nonce_len) && r.nonce_len > 0);
        require(inside(data, size, r.ct, r.ct_len) && r.ct_len >= siv_tag_size);
        require(r.nonce > data + r.ad_len && r.ct >= r.nonce + r.nonce_len);
    }
    // The same bytes as decrypted fields, and as a certificate's dates.
    int cookies = 0;
    ef_cookies(data, size, count, &cookies);
    int64_t sec;
    asn1_time(false, data, size, &sec);
    asn1_time(true, data, size, &sec);
    return 0;
}
