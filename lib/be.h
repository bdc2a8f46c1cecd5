// SPDX-License-Identifier: ISC
#pragma once

#include <stdint.h>

// Big-endian (network order) integers in byte buffers, as the wire formats
// carry them.

inline uint16_t be16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

inline uint32_t be32(const unsigned char* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline uint64_t be64(const unsigned char* p)
{
    return uint64_t{be32(p)} << 32 | be32(p + 4);
}

inline void put_be16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

inline void put_be64(unsigned char* p, uint64_t v)
{
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}
