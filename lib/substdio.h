// SPDX-License-Identifier: ISC
#pragma once

// A write operation: takes up to len bytes at p for descriptor fd and returns
// how many it took, or -1 with errno set.
using substdio_op = int (*)(int fd, const char* p, int len);

// A buffered output stream. The bytes put so far sit at buffer[0 .. used-1];
// 0 <= used <= size always holds, and size is at least 1.
struct substdio {
    char* buffer;
    int used;
    int size;
    int fd;
    substdio_op write_op;
};

// Every operation returns 0, or -1 with errno as the write operation left it.
// Lengths are never negative.

// Hands the whole span to op, continuing after short writes and retrying
// after EINTR.
int write_all(substdio_op op, int fd, const char* p, int len);

// Writes out the buffered bytes. The buffer is emptied first, so after a
// failure the bytes it held are gone.
int substdio_flush(substdio* s);

// Appends a span; a span longer than the whole buffer is written straight
// through in chunks of at least 8192 bytes.
int substdio_put(substdio* s, const char* p, int len);

// Appends a span, always through the buffer, a full buffer at a time.
int substdio_bput(substdio* s, const char* p, int len);

// Flushes, then writes the span straight through.
int substdio_putflush(substdio* s, const char* p, int len);

// The same three for NUL-terminated texts, without the NUL.
int substdio_puts(substdio* s, const char* text);
int substdio_bputs(substdio* s, const char* text);
int substdio_putsflush(substdio* s, const char* text);

// write(2) in the shape of a write operation, for streams on descriptors.
int substdio_syswrite(int fd, const char* p, int len);

// The standard-error stream: a 256-byte static buffer over write(2) on
// descriptor 2.
extern char subfd_errbuf[256];
extern substdio* subfderr;

// The standard-output stream: a 512-byte static buffer over write(2) on
// descriptor 1.
extern char subfd_outbuf[512];
extern substdio* subfdout;
