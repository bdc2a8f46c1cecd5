// SPDX-License-Identifier: ISC
#include "packet.h"

namespace {

uint32_t be32(const unsigned char* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

uint64_t be64(const unsigned char* p)
{
    return uint64_t{be32(p)} << 32 | be32(p + 4);
}

void put_be64(unsigned char* p, uint64_t v)
{
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}

}

void ntp_request(unsigned char* out, uint64_t nonce)
{
    for (size_t i = 0; i < ntp_size; ++i)
        out[i] = 0;
    out[0] = static_cast<unsigned char>(ntp_version << 3 | ntp_mode_client);
    put_be64(out + 40, nonce);
}

bool ntp_parse(const unsigned char* in, size_t len, ntp_packet* p)
{
    if (len < ntp_size)
        return false;
    p->leap = static_cast<uint8_t>(in[0] >> 6);
    p->version = static_cast<uint8_t>(in[0] >> 3 & 7);
    p->mode = static_cast<uint8_t>(in[0] & 7);
    p->stratum = in[1];
    p->poll = static_cast<int8_t>(in[2]);
    p->precision = static_cast<int8_t>(in[3]);
    p->root_delay = be32(in + 4);
    p->root_disp = be32(in + 8);
    p->refid = be32(in + 12);
    p->ref = be64(in + 16);
    p->org = be64(in + 24);
    p->rec = be64(in + 32);
    p->xmt = be64(in + 40);
    return true;
}
