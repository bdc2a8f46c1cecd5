// SPDX-License-Identifier: ISC
#pragma once

// One link of a chain of texts appended to a diagnostic line. Null texts
// are skipped; a null next ends the chain.
struct strerr {
    const strerr* next;
    const char* text1;
    const char* text2;
    const char* text3;
};

// The link that carries the text of the current system error. Pass its
// address as the chain to end a line with that text.
extern strerr strerr_sys;

// Fills strerr_sys from errno.
void strerr_sysinit();

// Writes one line to standard error: the non-null texts t1 .. t6, then the
// chain's texts, then a newline, with no separators added. errno is taken
// into strerr_sys before anything is written. Write errors are ignored.
void strerr_warn(const char* t1, const char* t2, const char* t3, const char* t4, const char* t5,
    const char* t6, const strerr* chain);

// strerr_warn, then _exit(status): no exit handlers run.
[[noreturn]] void strerr_die(int status, const char* t1, const char* t2, const char* t3,
    const char* t4, const char* t5, const char* t6, const strerr* chain);
