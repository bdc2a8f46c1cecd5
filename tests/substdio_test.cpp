// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include "fake.h"
#include "substdio.h"

namespace {

enum class verb { put, bput, putflush, flush };

struct put_case {
    const char* name;
    verb how;
    int preload;             // bytes already buffered (put first, no write)
    int len;                 // bytes then put
    std::deque<int> script;  // what the write operation does, call by call
    std::vector<int> writes; // length offered in each call, in order
    int used;                // bytes left buffered
    int result;
    int err = 0;             // errno after a failure
};

const put_case put_cases[] = {
    {"fits", verb::put, 0, 100, {}, {}, 100, 0},
    {"exactly fills", verb::put, 56, 200, {}, {}, 256, 0},
    {"flush then buffer", verb::put, 200, 100, {}, {200}, 100, 0},
    {"longer than buffer goes direct", verb::put, 0, 300, {}, {300}, 0, 0},
    {"flush then direct", verb::put, 10, 300, {}, {10, 300}, 0, 0},
    {"chunk then remainder buffered", verb::put, 0, 8192 + 108, {}, {8192}, 108, 0},
    {"chunk then remainder direct", verb::put, 0, 8192 + 300, {}, {8192, 300}, 0, 0},
    {"zero put", verb::put, 10, 0, {}, {}, 10, 0},
    {"zero bput", verb::bput, 10, 0, {}, {}, 10, 0},
    {"bput fills then buffers", verb::bput, 0, 300, {}, {256}, 44, 0},
    {"bput over several buffers", verb::bput, 200, 600, {}, {256, 256, 256}, 32, 0},
    {"putflush", verb::putflush, 10, 5, {}, {10, 5}, 0, 0},
    {"zero putflush still flushes", verb::putflush, 10, 0, {}, {10}, 0, 0},
    {"flush of empty stream", verb::flush, 0, 0, {}, {}, 0, 0},
    {"short write continues", verb::flush, 256, 0, {100}, {256, 156}, 0, 0},
    {"EINTR retried with same span", verb::flush, 50, 0, {-EINTR, -EINTR}, {50, 50, 50}, 0, 0},
    {"no progress retried", verb::flush, 10, 0, {0, 0}, {10, 10, 10}, 0, 0},
    {"no progress bounded", verb::flush, 10, 0, std::deque<int>(64, 0), std::vector<int>(64, 10),
        0, -1, EIO},
    {"error drops buffer", verb::flush, 50, 0, {-EBADF}, {50}, 0, -1, EBADF},
    {"error in put's flush", verb::put, 200, 100, {-EBADF}, {200}, 0, -1, EBADF},
    {"error in bput's flush", verb::bput, 200, 100, {-EPIPE}, {256}, 0, -1, EPIPE},
};

void PrintTo(const put_case& c, std::ostream* os) { *os << c.name; }

class Put : public testing::TestWithParam<put_case> {};

TEST_P(Put, WritesAndBuffers)
{
    const put_case& c = GetParam();
    char buffer[256];
    substdio s = {buffer, 0, sizeof buffer, 7, fake_write::op};
    std::string all;
    for (int i = 0; i < c.preload + c.len; ++i)
        all += static_cast<char>('a' + i % 26 + (i < c.preload ? 0 : 'A' - 'a'));
    ASSERT_EQ(substdio_put(&s, all.data(), c.preload), 0);
    fake_write::reset();
    fake_write::script = c.script;

    const char* p = all.data() + c.preload;
    int r = c.how == verb::put    ? substdio_put(&s, p, c.len)
        : c.how == verb::bput     ? substdio_bput(&s, p, c.len)
        : c.how == verb::putflush ? substdio_putflush(&s, p, c.len)
                                  : substdio_flush(&s);

    EXPECT_EQ(r, c.result);
    if (r == -1) {
        EXPECT_EQ(errno, c.err);
    }
    std::vector<int> writes;
    for (const auto& call : fake_write::calls) {
        writes.push_back(static_cast<int>(call.bytes.size()));
        EXPECT_EQ(call.fd, 7);
    }
    EXPECT_EQ(writes, c.writes);
    EXPECT_EQ(s.used, c.used);
    if (r == 0) { // every byte, once and in order: taken, then still buffered
        EXPECT_EQ(fake_write::out + std::string(buffer, static_cast<size_t>(s.used)), all);
    }
}

INSTANTIATE_TEST_SUITE_P(Stream, Put, testing::ValuesIn(put_cases),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(Stream, TextFormsStopAtTheNul)
{
    char buffer[4];
    substdio s = {buffer, 0, sizeof buffer, 1, fake_write::op};
    fake_write::reset();
    EXPECT_EQ(substdio_puts(&s, "abc"), 0);
    EXPECT_EQ(substdio_bputs(&s, "defgh"), 0);
    EXPECT_EQ(substdio_putsflush(&s, "ijklmnopq"), 0);
    EXPECT_EQ(fake_write::out, "abcdefghijklmnopq");
}

}
