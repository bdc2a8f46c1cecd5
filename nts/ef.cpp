// SPDX-License-Identifier: ISC
#include "ef.h"

#include "be.h"
#include "packet.h"

namespace {

constexpr uint16_t ef_uid = 0x0104;
constexpr uint16_t ef_cookie = 0x0204;
constexpr uint16_t ef_auth = 0x0404;

size_t pad4(size_t n)
{
    return (n + 3) & ~size_t{3};
}

void copy(unsigned char* to, const unsigned char* from, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        to[i] = from[i];
}

// Walks the fields of in[0 .. len): each at least its 4-byte head, a
// multiple of 4 long, and within the bytes. Returns false on the first
// that is not, else calls f(type, body, body_len, offset) for each.
template <typename F> bool walk(const unsigned char* in, size_t len, F f)
{
    size_t at = 0;
    while (at < len) {
        if (len - at < 4)
            return false;
        size_t n = be16(in + at + 2);
        if (n < 4 || n % 4 != 0 || n > len - at)
            return false;
        if (!f(be16(in + at), in + at + 4, n - 4, at))
            return false;
        at += n;
    }
    return true;
}

}

size_t ef_request(unsigned char* out, size_t cap, uint64_t nonce, const unsigned char* uid,
    const unsigned char* cookie, size_t cookie_len, const unsigned char* siv_nonce,
    size_t* ad_len, size_t* tag_at)
{
    size_t cookie_field = 4 + pad4(cookie_len);
    size_t auth_field = 4 + 4 + siv_nonce_size + siv_tag_size;
    size_t len = ntp_size + 4 + uid_size + cookie_field + auth_field;
    if (len > cap || cookie_field > 0xffff)
        return 0;
    ntp_request(out, nonce);
    unsigned char* p = out + ntp_size;
    put_be16(p, ef_uid);
    put_be16(p + 2, static_cast<uint16_t>(4 + uid_size));
    copy(p + 4, uid, uid_size);
    p += 4 + uid_size;
    put_be16(p, ef_cookie);
    put_be16(p + 2, static_cast<uint16_t>(cookie_field));
    copy(p + 4, cookie, cookie_len);
    for (size_t i = 4 + cookie_len; i < cookie_field; ++i)
        p[i] = 0;
    p += cookie_field;
    *ad_len = static_cast<size_t>(p - out);
    put_be16(p, ef_auth);
    put_be16(p + 2, static_cast<uint16_t>(auth_field));
    put_be16(p + 4, static_cast<uint16_t>(siv_nonce_size));
    put_be16(p + 6, static_cast<uint16_t>(siv_tag_size));
    copy(p + 8, siv_nonce, siv_nonce_size);
    *tag_at = *ad_len + 8 + siv_nonce_size;
    return len;
}

ef_status ef_parse(const unsigned char* in, size_t len, ef_reply* r)
{
    *r = {};
    if (len < ntp_size)
        return ef_status::malformed;
    int uids = 0;
    bool bad_auth = false;
    bool ok = walk(in + ntp_size, len - ntp_size,
        [&](uint16_t type, const unsigned char* body, size_t n, size_t at) {
            // Nothing may follow the Authenticator: it would be unauthenticated.
            if (r->ad_len)
                return false;
            if (type == ef_uid) {
                ++uids;
                r->uid = n == uid_size ? body : nullptr;
            } else if (type == ef_auth) {
                r->ad_len = ntp_size + at;
                if (n < 4) {
                    bad_auth = true;
                    return true;
                }
                size_t nl = be16(body), cl = be16(body + 2);
                // The nonce and the ciphertext, each padded to 4 bytes,
                // within the body.
                if (pad4(nl) > n - 4 || pad4(cl) > n - 4 - pad4(nl) || nl == 0
                    || cl < siv_tag_size) {
                    bad_auth = true;
                    return true;
                }
                r->nonce = body + 4;
                r->nonce_len = nl;
                r->ct = body + 4 + pad4(nl);
                r->ct_len = cl;
            }
            return true;
        });
    if (!ok)
        return ef_status::malformed;
    if (uids != 1 || !r->uid)
        return ef_status::no_uid;
    if (!r->ad_len || bad_auth)
        return ef_status::no_auth;
    return ef_status::ok;
}

bool ef_cookies(const unsigned char* in, size_t len,
    void (*take)(const unsigned char* cookie, size_t len, void* ctx), void* ctx)
{
    return walk(in, len, [&](uint16_t type, const unsigned char* body, size_t n, size_t) {
        if (type == ef_cookie && n > 0)
            take(body, n, ctx);
        return true;
    });
}
