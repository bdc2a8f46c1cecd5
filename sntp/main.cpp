// SPDX-License-Identifier: ISC
// varnel-sntp: measures the local clock's offset from NTP servers and writes
// it as the 16-byte record varnel reads, in a single write.

#include "run.h"

int main(int argc, char** argv)
{
    constexpr tool sntp = {"varnel-sntp: fatal: ",
        "varnel-sntp: usage: varnel-sntp [-nv] [-t seconds] [-c count] [-m seconds] "
        "[-d seconds] [-f date] [-p pool]... [server...]",
        ntp_port, false, nullptr};
    return tool_main(sntp, argc, argv);
}
