// SPDX-License-Identifier: ISC
#include "strerr.h"

#include <errno.h>
#include <unistd.h>

#include "error.h"
#include "substdio.h"

strerr strerr_sys;

void strerr_sysinit()
{
    strerr_sys.next = nullptr;
    strerr_sys.text1 = error_str(errno);
    strerr_sys.text2 = "";
    strerr_sys.text3 = "";
}

namespace {

void put(const char* text)
{
    if (text)
        substdio_puts(subfderr, text);
}

}

void strerr_warn(const char* t1, const char* t2, const char* t3, const char* t4, const char* t5,
    const char* t6, const strerr* chain)
{
    // The writes below may change errno, so the cause is taken first.
    strerr_sysinit();

    put(t1);
    put(t2);
    put(t3);
    put(t4);
    put(t5);
    put(t6);
    for (; chain; chain = chain->next) {
        put(chain->text1);
        put(chain->text2);
        put(chain->text3);
    }
    put("\n");
    // There is nowhere left to report a failure to write a diagnostic.
    substdio_flush(subfderr);
}

void strerr_die(int status, const char* t1, const char* t2, const char* t3, const char* t4,
    const char* t5, const char* t6, const strerr* chain)
{
    strerr_warn(t1, t2, t3, t4, t5, t6, chain);
    _exit(status);
}
