// SPDX-License-Identifier: ISC
#include "ntpserver.h"

#include <netinet/in.h>

server_arg ntp_server_parse(const char* record6, uint16_t port)
{
    // One colon would read as a port; two or more make an IPv6 address.
    int colons = 0;
    for (const char* p = record6; *p; ++p)
        colons += *p == ':';
    if (colons == 1)
        return {arg_kind::bad, {}, nullptr, 0};
    return server_parse(record6, port);
}

bool unicast(const addr& a)
{
    addr c = a;
    addr_canonical(&c);
    if (c.family == AF_INET)
        return c.ip[0] != 0 && c.ip[0] < 224;
    if (c.ip[0] == 0xff)
        return false;
    for (unsigned char b : c.ip) {
        if (b)
            return true;
    }
    return false;
}
