// SPDX-License-Identifier: ISC
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

#include "error.h"

namespace {

struct row {
    int code;
    const char* text;
};

// The codes compared against constants, in the order they are searched.
constexpr row rows[] = {
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
};
constexpr size_t nrows = sizeof rows / sizeof rows[0];

constexpr size_t blob_size()
{
    size_t n = 0;
    for (const row& r : rows) {
        for (const char* p = r.text; *p; ++p)
            ++n;
        ++n;
    }
    return n;
}

// The rows above exist only while compiling. What the program carries is
// this: the texts back to back and, per row, the code and where its text
// starts. A table of pointers would cost a relocation per row at every
// start of a position-independent binary, and more bytes than the texts.
struct packed_table {
    int16_t code[nrows];
    uint16_t at[nrows];
    char blob[blob_size()];
};

constexpr packed_table pack()
{
    packed_table t{};
    size_t n = 0;
    for (size_t i = 0; i < nrows; ++i) {
        t.code[i] = static_cast<int16_t>(rows[i].code);
        t.at[i] = static_cast<uint16_t>(n);
        for (const char* p = rows[i].text; *p; ++p)
            t.blob[n++] = *p;
        t.blob[n++] = '\0';
    }
    return t;
}

constexpr packed_table table = pack();
static_assert(sizeof table.blob < 65536, "offsets are 16 bits");
static_assert([] {
    for (const row& r : rows) {
        if (r.code < INT16_MIN || r.code > INT16_MAX)
            return false;
    }
    return true;
}(), "codes are 16 bits");

}

const char* error_str(int code)
{
    // The named codes are read at each call and tested before the table.
    if (code == 0)
        return "no error";
    if (code == error_intr)
        return "interrupted system call";
    if (code == error_nomem)
        return "out of memory";
    if (code == error_noent)
        return "file does not exist";
    if (code == error_txtbsy)
        return "text busy";
    if (code == error_io)
        return "input/output error";
    if (code == error_exist)
        return "file already exists";
    if (code == error_timeout)
        return "timed out";
    if (code == error_inprogress)
        return "operation in progress";
    if (code == error_again)
        return "temporary failure";
    if (code == error_wouldblock)
        return "input/output would block";
    if (code == error_pipe)
        return "broken pipe";
    if (code == error_perm)
        return "permission denied";
    if (code == error_acces)
        return "access denied";
    // The first match wins: where two names share a value (EAGAIN and
    // EWOULDBLOCK on Linux) the earlier test answers.
    for (size_t i = 0; i < nrows; ++i) {
        if (table.code[i] == code)
            return table.blob + table.at[i];
    }
    return "unknown error";
}
