// SPDX-License-Identifier: ISC
#include "error.h"

#include <errno.h>

int error_intr = EINTR;
int error_nomem = ENOMEM;
int error_noent = ENOENT;
int error_txtbsy = ETXTBSY;
int error_io = EIO;
int error_exist = EEXIST;
int error_timeout = ETIMEDOUT;
int error_inprogress = EINPROGRESS;
int error_again = EAGAIN;
int error_wouldblock = EWOULDBLOCK;
int error_pipe = EPIPE;
int error_perm = EPERM;
int error_acces = EACCES;
