// SPDX-License-Identifier: ISC
// varnel-nts: measures the local clock's offset from NTS servers, with
// authenticated NTP, and writes it as the 16-byte record varnel reads; with
// -k, again and again, for varnel-keep.

#include "nts.h"

int main(int argc, char** argv)
{
    constexpr tool nts = {"varnel-nts: fatal: ", "varnel-nts: warning: ",
        "varnel-nts: usage: varnel-nts [-knv] [-t seconds] [-c count] [-m seconds] "
        "[-d seconds] [-f date] [-i seconds] [-I seconds] [-C cafile]... [-p pool]... "
        "[server...]",
        4460, true, &nts_protocol};
    return tool_main(nts, argc, argv);
}
