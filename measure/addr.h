// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>
#include <sys/socket.h>

// A server's address: an IPv4 or IPv6 address and a UDP port, in a form
// that compares and copies as plain bytes.
struct addr {
    uint8_t family; // AF_INET or AF_INET6
    uint16_t port;
    unsigned char ip[16]; // 4 or 16 bytes used, network order
};

bool addr_equal(const addr& a, const addr& b);

// An IPv4-mapped IPv6 address (::ffff:192.0.2.1) becomes the IPv4 address it
// stands for, so that one server written both ways is one server.
void addr_canonical(addr* a);

// A SERVER argument taken apart: a numeric address, or a host name to be
// resolved (name .. name + name_len, not NUL-terminated) with a port.
enum class arg_kind { literal, name, bad };

struct server_arg {
    arg_kind kind;
    addr a;            // literal: the whole address; name: the port only
    const char* name;  // name: points into the argument
    int name_len;
};

constexpr uint16_t ntp_port = 123;
constexpr int max_name_len = 253;

// Reads "host", "host:port", "192.0.2.1:123", "[2001:db8::1]",
// "[2001:db8::1]:123" or "2001:db8::1", with default_port when none is
// given. A numeric address is taken by
// inet_pton and never reaches the resolver. A port is 1..65535 in decimal.
// A host name is letters, digits, '-', '.' and '_', at most 253 of them;
// one that the resolver would read as an IPv4 address in a short form
// (127.1, 2130706433, 0x7f.1) is refused, as no host is named so.
server_arg server_parse(const char* text, uint16_t default_port = ntp_port);

// Fills a socket address for a; returns its length.
socklen_t addr_sockaddr(const addr& a, sockaddr_storage* sa);

// Reads a socket address back; false when it is neither IPv4 nor IPv6.
bool addr_from_sockaddr(const sockaddr_storage& sa, socklen_t len, addr* a);

// "127.0.0.1:123" or "[::1]:123", NUL-terminated, in out (addr_text_max
// bytes).
constexpr int addr_text_max = 64;
const char* addr_text(const addr& a, char* out);
