// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

#include "addr.h"

// Where the requests go once a key exchange names a server (RFC 8915,
// section 4.1.7): record 6 is a host name or an address alone, never with a
// port, which is record 7's; port is that. Anything else is bad.
server_arg ntp_server_parse(const char* record6, uint16_t port);

// Whether a is an address a request may go to: not unspecified (0.0.0.0/8,
// ::), multicast (224.0.0.0/4, ff00::/8), nor reserved or broadcast
// (240.0.0.0/4). An IPv4-mapped address is taken as the IPv4 one it maps.
bool unicast(const addr& a);
