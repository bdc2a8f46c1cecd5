// SPDX-License-Identifier: ISC
#include "substdio.h"

char subfd_errbuf[256];

// Constant-initialised: no constructor runs before main.
static substdio errstream = {subfd_errbuf, 0, sizeof subfd_errbuf, 2, substdio_syswrite};

substdio* subfderr = &errstream;
