// SPDX-License-Identifier: ISC
#include "addr.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "byte.h"
#include "fmt.h"
#include "str.h"

namespace {

bool is_name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
        || c == '.' || c == '_';
}

// A port: 1 to 5 digits, 1..65535. Returns 0 for anything else.
uint16_t port_parse(const char* s)
{
    uint32_t v = 0;
    int n = 0;
    for (; *s; ++s, ++n) {
        if (*s < '0' || *s > '9' || n == 5)
            return 0;
        v = v * 10 + static_cast<uint32_t>(*s - '0');
    }
    return v > 65535 ? 0 : static_cast<uint16_t>(v);
}

bool is_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// What inet_aton takes: one to four parts split by dots, each decimal, octal
// or 0x hexadecimal.
bool inet_aton_form(const char* s, int len)
{
    int parts = 1;
    int i = 0;
    for (;;) {
        int start = i;
        if (i + 1 < len && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
            for (i += 2; i < len && is_hex(s[i]); ++i) {
            }
        } else {
            for (; i < len && s[i] >= '0' && s[i] <= '9'; ++i) {
            }
            if (i == start)
                return false;
        }
        if (i == len)
            return true;
        if (s[i] != '.' || ++parts > 4)
            return false;
        ++i;
    }
}

// inet_pton wants a NUL-terminated text; the host part is copied here.
char host[max_name_len + 1];

bool copy_host(const char* s, int len)
{
    if (len <= 0 || len > max_name_len)
        return false;
    byte_copy(host, len, s);
    host[len] = '\0';
    return true;
}

}

bool addr_equal(const addr& a, const addr& b)
{
    if (a.family != b.family || a.port != b.port)
        return false;
    int n = a.family == AF_INET ? 4 : 16;
    for (int i = 0; i < n; ++i) {
        if (a.ip[i] != b.ip[i])
            return false;
    }
    return true;
}

void addr_canonical(addr* a)
{
    static constexpr unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (a->family != AF_INET6)
        return;
    for (int i = 0; i < 12; ++i) {
        if (a->ip[i] != mapped[i])
            return;
    }
    a->family = AF_INET;
    for (int i = 0; i < 4; ++i)
        a->ip[i] = a->ip[12 + i];
    for (int i = 4; i < 16; ++i)
        a->ip[i] = 0;
}

server_arg server_parse(const char* text, uint16_t default_port)
{
    server_arg r = {arg_kind::bad, {}, nullptr, 0};
    r.a.port = default_port;
    const char* h = text;
    int hlen = str_len(text);
    const char* port = nullptr;
    bool v6 = false;

    if (*text == '[') {
        // "[v6]" or "[v6]:port": brackets hold an IPv6 literal, never a name.
        const char* close = text + 1;
        while (*close && *close != ']')
            ++close;
        if (!*close)
            return r;
        h = text + 1;
        hlen = static_cast<int>(close - h);
        if (close[1] == ':')
            port = close + 2;
        else if (close[1])
            return r;
        v6 = true;
    } else {
        // One colon separates a port; more make a bare IPv6 literal.
        const char* colon = nullptr;
        int colons = 0;
        for (const char* p = text; *p; ++p) {
            if (*p == ':') {
                colon = p;
                ++colons;
            }
        }
        if (colons == 1) {
            hlen = static_cast<int>(colon - text);
            port = colon + 1;
        }
        v6 = colons > 1;
    }

    if (port && (r.a.port = port_parse(port)) == 0)
        return r;
    if (!copy_host(h, hlen))
        return r;
    if (v6) {
        if (inet_pton(AF_INET6, host, r.a.ip) != 1)
            return r;
        r.a.family = AF_INET6;
        addr_canonical(&r.a);
        r.kind = arg_kind::literal;
        return r;
    }
    if (inet_pton(AF_INET, host, r.a.ip) == 1) {
        r.a.family = AF_INET;
        r.kind = arg_kind::literal;
        return r;
    }
    // A name never starts with '-' or '.': such an argument is a mistyped
    // option or nothing at all.
    if (h[0] == '-' || h[0] == '.')
        return r;
    for (int i = 0; i < hlen; ++i) {
        if (!is_name_char(h[i]))
            return r;
    }
    if (inet_aton_form(h, h[hlen - 1] == '.' ? hlen - 1 : hlen))
        return r;
    r.kind = arg_kind::name;
    r.name = h;
    r.name_len = hlen;
    return r;
}

socklen_t addr_sockaddr(const addr& a, sockaddr_storage* sa)
{
    // Zeroed first: the padding of sin_zero and sin6_flowinfo/scope must be 0.
    unsigned char* raw = reinterpret_cast<unsigned char*>(sa);
    for (size_t i = 0; i < sizeof *sa; ++i)
        raw[i] = 0;
    if (a.family == AF_INET) {
        sockaddr_in* s4 = reinterpret_cast<sockaddr_in*>(sa);
        s4->sin_family = AF_INET;
        s4->sin_port = htons(a.port);
        byte_copy(reinterpret_cast<char*>(&s4->sin_addr), 4, reinterpret_cast<const char*>(a.ip));
        return sizeof *s4;
    }
    sockaddr_in6* s6 = reinterpret_cast<sockaddr_in6*>(sa);
    s6->sin6_family = AF_INET6;
    s6->sin6_port = htons(a.port);
    byte_copy(reinterpret_cast<char*>(&s6->sin6_addr), 16, reinterpret_cast<const char*>(a.ip));
    return sizeof *s6;
}

bool addr_from_sockaddr(const sockaddr_storage& sa, socklen_t len, addr* a)
{
    *a = {};
    if (sa.ss_family == AF_INET && len >= sizeof(sockaddr_in)) {
        const sockaddr_in* s4 = reinterpret_cast<const sockaddr_in*>(&sa);
        a->family = AF_INET;
        a->port = ntohs(s4->sin_port);
        byte_copy(reinterpret_cast<char*>(a->ip), 4, reinterpret_cast<const char*>(&s4->sin_addr));
        return true;
    }
    if (sa.ss_family == AF_INET6 && len >= sizeof(sockaddr_in6)) {
        const sockaddr_in6* s6 = reinterpret_cast<const sockaddr_in6*>(&sa);
        a->family = AF_INET6;
        a->port = ntohs(s6->sin6_port);
        byte_copy(reinterpret_cast<char*>(a->ip), 16, reinterpret_cast<const char*>(&s6->sin6_addr));
        return true;
    }
    return false;
}

const char* addr_text(const addr& a, char* out)
{
    int n = 0;
    if (a.family == AF_INET6)
        out[n++] = '[';
    // inet_ntop cannot fail here: the family is one it knows and the buffer
    // is longer than INET6_ADDRSTRLEN.
    if (!inet_ntop(a.family, a.ip, out + n, INET6_ADDRSTRLEN))
        out[n] = '\0';
    n += str_len(out + n);
    if (a.family == AF_INET6)
        out[n++] = ']';
    out[n++] = ':';
    n += fmt_ulong(out + n, a.port);
    out[n] = '\0';
    return out;
}
