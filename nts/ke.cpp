// SPDX-License-Identifier: ISC
#include "ke.h"

#include "be.h"
#include "byte.h"
#include "fmt.h"
#include "str.h"

namespace {

enum : uint16_t {
    rec_end = 0,
    rec_protocol = 1,
    rec_error = 2,
    rec_warning = 3,
    rec_aead = 4,
    rec_cookie = 5,
    rec_server = 6,
    rec_port = 7,
};
constexpr uint16_t critical_bit = 0x8000;
constexpr uint16_t protocol_ntpv4 = 0;

// A name or address for record 6: what may be resolved or read as an
// address, and nothing that could mislead a line of ours.
bool name_ok(const unsigned char* p, size_t n)
{
    if (n == 0 || n > ke_name_max)
        return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = p[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '-' || c == '.' || c == ':' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

// Takes one whole record.
ke_status record(ke_reply* r, uint16_t word, const unsigned char* body, size_t body_len)
{
    uint16_t type = word & static_cast<uint16_t>(~critical_bit);
    switch (type) {
    case rec_end:
        if (body_len != 0)
            return ke_status::malformed;
        if (!r->protocol)
            return ke_status::no_protocol;
        if (!r->aead)
            return ke_status::no_aead;
        if (r->cookies == 0)
            return ke_status::no_cookies;
        return ke_status::done;
    case rec_protocol:
        // NTPv4 alone, once: a list of several, or a second record, is not
        // an answer to our offer.
        if (r->protocol || body_len != 2 || be16(body) != protocol_ntpv4)
            return ke_status::no_protocol;
        r->protocol = true;
        return ke_status::more;
    case rec_error:
    case rec_warning:
        if (body_len != 2)
            return ke_status::malformed;
        r->code = be16(body);
        return type == rec_error ? ke_status::error : ke_status::warning;
    case rec_aead:
        if (r->aead || body_len != 2 || be16(body) != aead_aes_siv_cmac_256)
            return ke_status::no_aead;
        r->aead = true;
        return ke_status::more;
    case rec_cookie:
        if (body_len == 0 || body_len > ke_cookie_max)
            return ke_status::malformed;
        if (r->cookies < ke_cookies_max) {
            byte_copy(reinterpret_cast<char*>(r->cookie[r->cookies]), static_cast<int>(body_len),
                reinterpret_cast<const char*>(body));
            r->cookie_len[r->cookies++] = static_cast<uint16_t>(body_len);
        }
        return ke_status::more;
    case rec_server:
        if (r->server[0] || !name_ok(body, body_len))
            return ke_status::malformed;
        byte_copy(r->server, static_cast<int>(body_len), reinterpret_cast<const char*>(body));
        r->server[body_len] = '\0';
        return ke_status::more;
    case rec_port:
        if (r->port || body_len != 2 || be16(body) == 0)
            return ke_status::malformed;
        r->port = be16(body);
        return ke_status::more;
    default:
        if (word & critical_bit) {
            r->type = type;
            return ke_status::critical;
        }
        return ke_status::more;
    }
}

}

void ke_request(unsigned char* out)
{
    // Next Protocol (critical): NTPv4; AEAD: AES-SIV-CMAC-256; End of
    // Message (critical).
    static constexpr unsigned char request[ke_request_size] = {0x80, rec_protocol, 0, 2, 0,
        protocol_ntpv4, 0, rec_aead, 0, 2, 0, aead_aes_siv_cmac_256, 0x80, rec_end, 0, 0};
    for (size_t i = 0; i < ke_request_size; ++i)
        out[i] = request[i];
}

ke_status ke_feed(ke_reply* r, const unsigned char* in, size_t len, size_t* used)
{
    size_t at = 0;
    ke_status st = ke_status::more;
    while (st == ke_status::more) {
        if (r->skip > 0) {
            size_t n = len - at < r->skip ? len - at : r->skip;
            at += n;
            r->skip -= static_cast<uint32_t>(n);
            if (r->skip > 0)
                break;
            continue;
        }
        if (len - at < 4)
            break;
        uint16_t word = be16(in + at);
        uint16_t type = word & static_cast<uint16_t>(~critical_bit);
        size_t body_len = be16(in + at + 2);
        if (type > rec_port && !(word & critical_bit) && 4 + body_len > ke_chunk_max) {
            // Of no interest, and longer than we hold: let it pass.
            at += 4;
            r->skip = static_cast<uint32_t>(body_len);
            continue;
        }
        if (4 + body_len > ke_chunk_max)
            return ke_status::malformed;
        if (len - at - 4 < body_len)
            break;
        st = record(r, word, in + at + 4, body_len);
        at += 4 + body_len;
    }
    *used = at;
    return st;
}

const char* ke_text(ke_status st, const ke_reply& r, char* out)
{
    const char* t = "";
    uint16_t num = 0;
    bool with_num = false;
    switch (st) {
    case ke_status::done:
    case ke_status::more:
    case ke_status::truncated:
        t = "truncated reply";
        break;
    case ke_status::error:
        t = "Error record, code ";
        num = r.code;
        with_num = true;
        break;
    case ke_status::warning:
        t = "Warning record, code ";
        num = r.code;
        with_num = true;
        break;
    case ke_status::critical:
        t = "unknown critical record, type ";
        num = r.type;
        with_num = true;
        break;
    case ke_status::malformed:
        t = "malformed record";
        break;
    case ke_status::no_protocol:
        t = "NTPv4 not agreed";
        break;
    case ke_status::no_aead:
        t = "AES-SIV-CMAC-256 not agreed";
        break;
    case ke_status::no_cookies:
        t = "no cookies";
        break;
    case ke_status::too_long:
        t = "reply too long";
        break;
    }
    int n = str_len(t);
    byte_copy(out, n, t);
    if (with_num)
        n += static_cast<int>(fmt_ulong(out + n, num));
    out[n] = '\0';
    return out;
}
