// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include "error.h"
#include "fake.h"
#include "strerr.h"
#include "substdio.h"

namespace {

// Points the standard-error stream at the fake write for one test.
class Diagnostics : public testing::Test {
protected:
    void SetUp() override
    {
        saved = subfderr->write_op;
        subfderr->write_op = fake_write::op;
        subfderr->used = 0;
        fake_write::reset();
    }
    void TearDown() override { subfderr->write_op = saved; }
    substdio_op saved = nullptr;
};

const std::string long_text(300, 'x');
const strerr tail = {nullptr, nullptr, "c3", nullptr};
const strerr chain = {&tail, "c1", nullptr, "c2"};

struct warn_case {
    const char* t[6];
    const strerr* chain;
    int err;
    std::string line;
    std::vector<int> writes;
    std::deque<int> script = {};
};

const warn_case warn_cases[] = {
    {{}, nullptr, 0, "\n", {1}},
    {{"varnel: fatal: ", "data split across packets"}, nullptr, EPERM,
        "varnel: fatal: data split across packets\n", {41}},
    {{"varnel: fatal: ", "unable to settimeofday: "}, &strerr_sys, EPERM,
        "varnel: fatal: unable to settimeofday: permission denied\n", {57}},
    {{"varnel: fatal: ", "data split across packets"}, &strerr_sys, EPERM,
        "varnel: fatal: data split across packetspermission denied\n", {58}},
    {{"1", nullptr, "3", "4", nullptr, "6"}, &chain, 0, "1346c1c2c3\n", {11}},
    {{"pre: ", long_text.c_str(), "post"}, nullptr, 0, "pre: " + long_text + "post\n", {5, 300, 5}},
    // errno is taken before the first write, whose failure sets it anew.
    {{long_text.c_str()}, &strerr_sys, EPERM, "permission denied\n", {300, 18}, {-EBADF}},
};

TEST_F(Diagnostics, WarnAssemblesOneLine)
{
    for (const warn_case& c : warn_cases) {
        SetUp();
        fake_write::script = c.script;
        errno = c.err;
        strerr_warn(c.t[0], c.t[1], c.t[2], c.t[3], c.t[4], c.t[5], c.chain);
        std::vector<int> writes;
        for (const auto& call : fake_write::calls) {
            writes.push_back(static_cast<int>(call.bytes.size()));
            EXPECT_EQ(call.fd, 2);
        }
        EXPECT_EQ(fake_write::out, c.line);
        EXPECT_EQ(writes, c.writes) << c.line;
        EXPECT_EQ(subfderr->used, 0);
    }
}

struct text_row {
    int code;
    const char* text;
};

const text_row text_rows[] = {
    {0, "no error"},
    {EINTR, "interrupted system call"},
    {ENOMEM, "out of memory"},
    {ENOENT, "file does not exist"},
    {ETXTBSY, "text busy"},
    {EIO, "input/output error"},
    {EEXIST, "file already exists"},
    {ETIMEDOUT, "timed out"},
    {EINPROGRESS, "operation in progress"},
    {EAGAIN, "temporary failure"},
    {EWOULDBLOCK, "temporary failure"}, // the same value as EAGAIN here
    {EPIPE, "broken pipe"},
    {EPERM, "permission denied"},
    {EACCES, "access denied"},
    {ESRCH, "no such process"},
    {ENXIO, "device not configured"},
    {E2BIG, "argument list too long"},
    {ENOEXEC, "exec format error"},
    {EBADF, "file descriptor not open"},
    {ECHILD, "no child processes"},
    {EDEADLK, "operation would cause deadlock"},
    {EFAULT, "bad address"},
    {ENOTBLK, "not a block device"},
    {EBUSY, "device busy"},
    {EXDEV, "cross-device link"},
    {ENODEV, "device does not support operation"},
    {ENOTDIR, "not a directory"},
    {EISDIR, "is a directory"},
    {EINVAL, "invalid argument"},
    {ENFILE, "system cannot open more files"},
    {EMFILE, "process cannot open more files"},
    {ENOTTY, "not a tty"},
    {EFBIG, "file too big"},
    {ENOSPC, "out of disk space"},
    {ESPIPE, "unseekable descriptor"},
    {EROFS, "read-only file system"},
    {EMLINK, "too many links"},
    {EDOM, "input out of range"},
    {ERANGE, "output out of range"},
    {EALREADY, "operation already in progress"},
    {ENOTSOCK, "not a socket"},
    {EDESTADDRREQ, "destination address required"},
    {EMSGSIZE, "message too long"},
    {EPROTOTYPE, "incorrect protocol type"},
    {ENOPROTOOPT, "protocol not available"},
    {EPROTONOSUPPORT, "protocol not supported"},
    {ESOCKTNOSUPPORT, "socket type not supported"},
    {EOPNOTSUPP, "operation not supported"},
    {EPFNOSUPPORT, "protocol family not supported"},
    {EAFNOSUPPORT, "address family not supported"},
    {EADDRINUSE, "address already used"},
    {EADDRNOTAVAIL, "address not available"},
    {ENETDOWN, "network down"},
    {ENETUNREACH, "network unreachable"},
    {ENETRESET, "network reset"},
    {ECONNABORTED, "connection aborted"},
    {ECONNRESET, "connection reset"},
    {ENOBUFS, "out of buffer space"},
    {EISCONN, "already connected"},
    {ENOTCONN, "not connected"},
    {ESHUTDOWN, "socket shut down"},
    {ETOOMANYREFS, "too many references"},
    {ECONNREFUSED, "connection refused"},
    {ELOOP, "symbolic link loop"},
    {ENAMETOOLONG, "file name too long"},
    {EHOSTDOWN, "host down"},
    {EHOSTUNREACH, "host unreachable"},
    {ENOTEMPTY, "directory not empty"},
    {EUSERS, "too many users"},
    {EDQUOT, "disk quota exceeded"},
    {ESTALE, "stale NFS file handle"},
    {EREMOTE, "too many levels of remote in path"},
    {ENOLCK, "no locks available"},
    {ENOSYS, "system call not available"},
    {ENOSTR, "not a stream device"},
    {ETIME, "timer expired"},
    {ENOSR, "out of stream resources"},
    {ENOMSG, "no message of desired type"},
    {EBADMSG, "bad message type"},
    {EIDRM, "identifier removed"},
    {ENONET, "machine not on network"},
    {ENOLINK, "link severed"},
    {EADV, "advertise error"},
    {ESRMNT, "srmount error"},
    {ECOMM, "communication error"},
    {EPROTO, "protocol error"},
    {EMULTIHOP, "multihop attempted"},
    {EREMCHG, "remote address changed"},
    {-1, "unknown error"},
    {-EPERM, "unknown error"},
    {4095, "unknown error"},
    {ECANCELED, "unknown error"},
};

TEST(ErrorStr, EveryRow)
{
    for (const text_row& r : text_rows)
        EXPECT_STREQ(error_str(r.code), r.text) << "code " << r.code;
}

TEST(ErrorStr, NamedCodesAreReadAtEachCall)
{
    int saved = error_perm;
    error_perm = 4000;
    EXPECT_STREQ(error_str(4000), "permission denied");
    error_perm = saved;
}

}
