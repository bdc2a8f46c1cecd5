/* SPDX-License-Identifier: ISC */
/* gcc's unwinder (libgcc_eh) comes from Debian's cross compiler, built for
 * glibc, and finds the unwind tables of a code address with glibc's
 * _dl_find_object. The C libraries of the target have no such function.
 * Answering "not found" means an exception thrown here could not be caught
 * and would end the test run through std::terminate: a loud failure. The
 * tests and GoogleTest report through return values and never throw. */
#include <stddef.h>

struct dl_find_object;

int _dl_find_object(void* pc, struct dl_find_object* result);

int _dl_find_object(void* pc, struct dl_find_object* result)
{
    (void)pc;
    (void)result;
    return -1;
}
