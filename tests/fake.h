// SPDX-License-Identifier: ISC
#pragma once

// Fakes of the outside world for the in-process tests.

#include <errno.h>

#include <deque>
#include <string>
#include <vector>

// A write operation that records every call and follows a script: each
// entry is how many bytes the next call takes at most, 0 to take nothing,
// or -E to fail with errno E. Calls beyond the script take everything.
struct fake_write {
    struct call {
        int fd;
        std::string bytes; // what was offered
        bool operator==(const call&) const = default;
    };
    static inline std::vector<call> calls;
    static inline std::deque<int> script;
    static inline std::string out; // what was taken, in order

    static void reset()
    {
        calls.clear();
        script.clear();
        out.clear();
    }

    static int op(int fd, const char* p, int len)
    {
        calls.push_back({fd, std::string(p, static_cast<size_t>(len))});
        int take = len;
        if (!script.empty()) {
            take = script.front();
            script.pop_front();
        }
        if (take < 0) {
            errno = -take;
            return -1;
        }
        if (take > len)
            take = len;
        out.append(p, static_cast<size_t>(take));
        return take;
    }
};
