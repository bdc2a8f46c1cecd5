// SPDX-License-Identifier: ISC
// varnel-sntp: measures the local clock's offset from NTP servers and writes
// it as the 16-byte record varnel reads, in a single write; with -k, again
// and again, for varnel-keep.

#include "run.h"

int main(int argc, char** argv)
{
    constexpr tool sntp = {"varnel-sntp: fatal: ", "varnel-sntp: warning: ",
        "varnel-sntp: usage: varnel-sntp [-knv] [-t seconds] [-c count] [-m seconds] "
        "[-d seconds] [-f date] [-i seconds] [-I seconds] [-p pool]... [server...]",
        ntp_port, false, nullptr};
    return tool_main(sntp, argc, argv);
}
