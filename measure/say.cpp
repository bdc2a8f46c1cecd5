// SPDX-License-Identifier: ISC
#include "say.h"

#include <errno.h>

#include "error.h"
#include "fmt.h"
#include "str.h"

namespace {

substdio* out = nullptr;
int failure = 0;
char num[fmt_max];
char text[addr_text_max];

void put(const char* p, int len)
{
    if (substdio_put(out, p, len) == -1 && !failure)
        failure = errno ? errno : error_io;
}

void puts(const char* s)
{
    put(s, str_len(s));
}

void put_addr(const addr& a)
{
    puts(addr_text(a, text));
}

void end()
{
    put("\n", 1);
    if (substdio_flush(out) == -1 && !failure)
        failure = errno ? errno : error_io;
}

// One line about a server: its address, then the texts.
void say_about(const addr& a, const char* line, const char* more = "")
{
    if (!out)
        return;
    put_addr(a);
    puts(line);
    puts(more);
    end();
}

}

void say_to(substdio* s)
{
    out = s;
}

bool say_on()
{
    return out != nullptr;
}

void say_sample(const addr& a, const sample& s)
{
    if (!out)
        return;
    put_addr(a);
    puts(": stratum ");
    put(num, fmt_ulong(num, s.stratum));
    puts(" offset ");
    put(num, fmt_snsec(num, s.offset));
    puts(" delay ");
    put(num, fmt_nsec(num, static_cast<uint64_t>(s.delay)));
    end();
}

void say_refused(const addr& a, const char* reason)
{
    say_about(a, ": refused: ", reason);
}

void say_error(const addr& a, const char* call, int err)
{
    if (!out)
        return;
    put_addr(a);
    puts(": unable to ");
    puts(call);
    puts(": ");
    puts(error_str(err));
    end();
}

void say_quiet(const addr& a)
{
    say_about(a, ": more refusals not shown");
}

void say_ignored(const addr& a, const char* why)
{
    say_about(a, ": ignored: ", why);
}

void say_unresolved(const char* name, int name_len, const char* why)
{
    if (!out)
        return;
    put(name, name_len);
    puts(": unable to resolve: ");
    puts(why);
    end();
}

void say_silent(const addr& a)
{
    say_about(a, ": no reply");
}

void say_falseticker(const addr& a)
{
    say_about(a, ": falseticker");
}

void say_chosen(int64_t offset, int servers)
{
    if (!out)
        return;
    puts("chosen offset ");
    put(num, fmt_snsec(num, offset));
    if (servers > 1) {
        puts(", the median of ");
        put(num, fmt_ulong(num, static_cast<uint64_t>(servers)));
        puts(" servers");
    }
    end();
}

int say_failed()
{
    return failure;
}
