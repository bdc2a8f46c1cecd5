#include <unistd.h>

#include "substdio.h"

namespace {

// write(2) in the shape of a stream's write operation. Lengths here never
// exceed an int, so neither conversion loses anything.
int sys_write(int fd, const char* p, int len)
{
    return static_cast<int>(write(fd, p, static_cast<size_t>(len)));
}

}

char subfd_errbuf[256];

// Constant-initialised: no constructor runs before main.
static substdio errstream = {subfd_errbuf, 0, sizeof subfd_errbuf, 2, sys_write};

substdio* subfderr = &errstream;
