// SPDX-License-Identifier: ISC
#include "options.h"

#include "floor.h"
#include "scan.h"

namespace {

constexpr uint64_t ns_per_sec = 1000000000;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

}

opt_error options_parse(int argc, char** argv, options* o, const char** bad)
{
    int i = 1;
    bool intervals = false;
    for (; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] != '-' || a[1] == '\0')
            break;
        if (a[1] == '-' && a[2] == '\0') {
            ++i;
            break;
        }
        for (const char* p = a + 1; *p; ++p) {
            char opt = *p;
            if (opt == 'n') {
                o->human = true;
                continue;
            }
            if (opt == 'v') {
                o->verbose = true;
                continue;
            }
            if (opt == 'k') {
                o->keep = true;
                continue;
            }
            if (opt != 't' && opt != 'c' && opt != 'm' && opt != 'd' && opt != 'f' && opt != 'p'
                && opt != 'i' && opt != 'I' && (opt != 'C' || !o->tls))
                return opt_error::usage;
            // The value is the rest of this argument, or the next one.
            const char* v = p[1] ? p + 1 : (i + 1 < argc ? argv[++i] : nullptr);
            if (!v)
                return opt_error::usage;
            *bad = v;
            uint64_t ns;
            if (opt == 't') {
                if (!scan_seconds(v, &ns) || ns < deadline_min_ns || ns > deadline_max_ns)
                    return opt_error::deadline;
                o->deadline_ns = ns;
            } else if (opt == 'c') {
                for (const char* d = v; *d; ++d) {
                    if (!is_digit(*d))
                        return opt_error::count;
                }
                if (!scan_seconds(v, &ns) || ns < ns_per_sec
                    || ns > count_max * ns_per_sec)
                    return opt_error::count;
                o->count = static_cast<int>(ns / ns_per_sec);
                o->count_set = true;
            } else if (opt == 'm') {
                if (!scan_seconds(v, &ns))
                    return opt_error::cap;
                o->capped = true;
                o->cap_ns = ns;
            } else if (opt == 'd') {
                if (!scan_seconds(v, &ns) || ns > delay_max_ns)
                    return opt_error::delay;
                o->delay_ns = ns;
            } else if (opt == 'f') {
                if (!floor_parse(v, &o->floor))
                    return opt_error::floor;
                o->floor_set = true;
            } else if (opt == 'i' || opt == 'I') {
                if (!scan_seconds(v, &ns) || ns < interval_floor_ns || ns > interval_ceiling_ns)
                    return opt_error::interval;
                (opt == 'i' ? o->interval_min_ns : o->interval_max_ns) = ns;
                intervals = true;
            } else if (opt == 'C') {
                if (o->ncafiles == cafiles_max)
                    return opt_error::cafiles;
                o->cafiles[o->ncafiles++] = v;
            } else {
                if (o->npools == sources_max)
                    return opt_error::sources;
                o->pools[o->npools++] = v;
            }
            break;
        }
    }
    if ((i >= argc && o->npools == 0) || (intervals && !o->keep))
        return opt_error::usage;
    if (argc - i + o->npools > sources_max)
        return opt_error::sources;
    if (o->interval_min_ns > o->interval_max_ns)
        return opt_error::order;
    if (o->keep && !o->count_set)
        o->count = count_keep;
    o->first = i;
    return opt_error::none;
}
