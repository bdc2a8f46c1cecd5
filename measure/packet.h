// SPDX-License-Identifier: ISC
#pragma once

#include <stddef.h>
#include <stdint.h>

// The 48-byte NTP header (RFC 5905, section 7.3), decoded field by field.
// Extension fields and a MAC may follow it; they are not read.
struct ntp_packet {
    uint8_t leap;       // LI: 3 means the server's clock is unsynchronised
    uint8_t version;    // VN
    uint8_t mode;       // 3 client, 4 server
    uint8_t stratum;    // 0 kiss-o'-death, 1..15 synchronised, 16 and up unsynchronised
    int8_t poll;        // log2 seconds
    int8_t precision;   // log2 seconds
    uint32_t root_delay; // 16.16 seconds
    uint32_t root_disp;  // 16.16 seconds
    uint32_t refid;     // the kiss code when stratum is 0
    uint64_t ref;       // T of the server's last setting
    uint64_t org;       // what the server received as our transmit timestamp
    uint64_t rec;       // T2: the request's arrival at the server
    uint64_t xmt;       // T3: the reply's departure from the server
};

constexpr size_t ntp_size = 48;
constexpr uint8_t ntp_version = 4;
constexpr uint8_t ntp_mode_client = 3;
constexpr uint8_t ntp_mode_server = 4;

// Fills a client request: LI 0, VN 4, mode 3, every other field zero but the
// transmit timestamp, which carries the nonce. Nothing of the local clock
// goes out: the reply must echo the nonce, and the send time stays here.
void ntp_request(unsigned char* out, uint64_t nonce);

// Decodes a packet of len bytes. Returns false, leaving p alone, when it is
// shorter than the header.
bool ntp_parse(const unsigned char* in, size_t len, ntp_packet* p);
