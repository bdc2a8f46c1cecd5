// SPDX-License-Identifier: ISC
#include "packet.h"

#include "be.h"

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
