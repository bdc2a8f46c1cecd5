#include <unistd.h>

#include "substdio.h"

namespace {

int sys_write(int fd, const char* p, int len)
{
    return static_cast<int>(write(fd, p, static_cast<size_t>(len)));
}

}

char subfd_outbuf[512];

static substdio outstream = {subfd_outbuf, 0, sizeof subfd_outbuf, 1, sys_write};

substdio* subfdout = &outstream;
