// SPDX-License-Identifier: ISC
// libFuzzer target for the key exchange's record reader: whatever the
// bytes, no undefined behaviour, nothing read past them, and the same
// verdict and cookies whether the reply comes whole or in pieces as TLS
// records would cut it. The first byte sets the size of the pieces.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ke.h"

namespace {

void require(bool ok)
{
    if (!ok)
        abort();
}

// Reads in as a reader would, keeping what was not taken; returns the
// final status.
ke_status read_all(const uint8_t* in, size_t len, size_t piece, ke_reply* r)
{
    static unsigned char held[ke_chunk_max];
    size_t have = 0, at = 0;
    memset(r, 0, sizeof *r);
    for (;;) {
        size_t room = sizeof held - have;
        size_t take = len - at < piece ? len - at : piece;
        if (take > room)
            take = room;
        memcpy(held + have, in + at, take);
        have += take;
        at += take;
        size_t used = 0;
        ke_status st = ke_feed(r, held, have, &used);
        require(used <= have);
        memmove(held, held + used, have - used);
        have -= used;
        if (st != ke_status::more)
            return st;
        // A reader whose buffer is full and nothing taken would wait
        // forever: the reader must never be left so.
        require(have < sizeof held || at == len);
        if (at == len)
            return st;
    }
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    size_t piece = data[0] % 64 + 1;
    static ke_reply whole, cut;
    ke_status a = read_all(data + 1, size - 1, size, &whole);
    ke_status b = read_all(data + 1, size - 1, piece, &cut);
    require(a == b);
    require(whole.cookies == cut.cookies && whole.port == cut.port);
    require(memcmp(whole.cookie, cut.cookie, sizeof whole.cookie) == 0);
    require(strcmp(whole.server, cut.server) == 0);
    require(whole.cookies >= 0 && whole.cookies <= ke_cookies_max);
    for (int k = 0; k < whole.cookies; ++k)
        require(whole.cookie_len[k] > 0 && whole.cookie_len[k] <= ke_cookie_max);
    if (a == ke_status::done)
        require(whole.cookies > 0 && whole.aead);
    char text[ke_text_max];
    require(strlen(ke_text(a, whole, text)) < ke_text_max);
    return 0;
}
