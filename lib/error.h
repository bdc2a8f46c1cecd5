// SPDX-License-Identifier: ISC
#pragma once

// The errno values code compares against, by name. They are variables, not
// constants, so that every comparison reads the platform's value in one place.
extern int error_intr;
extern int error_nomem;
extern int error_noent;
extern int error_txtbsy;
extern int error_io;
extern int error_exist;
extern int error_timeout;
extern int error_inprogress;
extern int error_again;
extern int error_wouldblock;
extern int error_pipe;
extern int error_perm;
extern int error_acces;

// Returns a short English text for an errno value; never null. Codes it does
// not know, negative ones included, give "unknown error".
const char* error_str(int code);
