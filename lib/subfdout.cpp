// SPDX-License-Identifier: ISC
#include "substdio.h"

char subfd_outbuf[512];

static substdio outstream = {subfd_outbuf, 0, sizeof subfd_outbuf, 1, substdio_syswrite};

substdio* subfdout = &outstream;
