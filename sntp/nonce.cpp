#include "nonce.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "error.h"

namespace {

int urandom = -1;

// Fills the eight bytes of v from /dev/urandom, opened once.
bool from_urandom(uint64_t* v, const char** call)
{
    if (urandom == -1) {
        urandom = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (urandom == -1) {
            *call = "open /dev/urandom";
            return false;
        }
    }
    unsigned char* p = reinterpret_cast<unsigned char*>(v);
    size_t got = 0;
    while (got < sizeof *v) {
        ssize_t r = read(urandom, p + got, sizeof *v - got);
        if (r == -1 && errno == error_intr)
            continue;
        if (r <= 0) {
            if (r == 0)
                errno = error_io;
            *call = "read /dev/urandom";
            return false;
        }
        got += static_cast<size_t>(r);
    }
    return true;
}

}

uint64_t nonce_get(const char** call)
{
    uint64_t v = 0;
    while (v == 0) {
        ssize_t r = getrandom(&v, sizeof v, GRND_NONBLOCK);
        if (r == static_cast<ssize_t>(sizeof v))
            continue;
        if (r == -1 && errno == error_intr)
            continue;
        // Not there (ENOSYS), not ready (EAGAIN), or a short read.
        if (r == -1 && errno != ENOSYS && errno != error_again) {
            *call = "getrandom";
            return 0;
        }
        if (!from_urandom(&v, call))
            return 0;
    }
    return v;
}
