// SPDX-License-Identifier: ISC
#include "resolve.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "byte.h"
#include "error.h"
#include "str.h"
#include "substdio.h"

namespace {

constexpr unsigned char kind_addrs = 'A';
constexpr unsigned char kind_error = 'E';

// In the child: resolve, write the answer, exit. Nothing here returns.
[[noreturn]] void child(const resolver& r, int fd)
{
    static char name[max_name_len + 1];
    static unsigned char msg[resolve_msg_max];
    byte_copy(name, r.name_len, r.name);
    name[r.name_len] = '\0';

    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(name, nullptr, &hints, &res);
    int len;
    if (rc != 0) {
        const char* text = rc == EAI_SYSTEM ? error_str(errno) : gai_strerror(rc);
        len = str_len(text);
        if (len > resolve_msg_max - 1)
            len = resolve_msg_max - 1;
        msg[0] = kind_error;
        byte_copy(reinterpret_cast<char*>(msg + 1), len, text);
        len += 1;
    } else {
        int n = 0;
        for (addrinfo* ai = res; ai && n < resolve_max_addrs; ai = ai->ai_next) {
            unsigned char* e = msg + 2 + 17 * n;
            for (int i = 0; i < 17; ++i)
                e[i] = 0;
            if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
                e[0] = 4;
                byte_copy(reinterpret_cast<char*>(e + 1), 4,
                    reinterpret_cast<const char*>(&reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr));
            } else if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6)) {
                e[0] = 6;
                byte_copy(reinterpret_cast<char*>(e + 1), 16,
                    reinterpret_cast<const char*>(&reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr));
            } else {
                continue;
            }
            ++n;
        }
        msg[0] = kind_addrs;
        msg[1] = static_cast<unsigned char>(n);
        len = 2 + 17 * n;
    }
    // One write below PIPE_BUF arrives whole; if the parent is gone there is
    // no one left to tell.
    _exit(write_all([](int f, const char* p, int l) {
        return static_cast<int>(write(f, p, static_cast<size_t>(l)));
    }, fd, reinterpret_cast<const char*>(msg), len) == 0 ? 0 : 1);
}

// In the child, first: it keeps nothing of the parent's but the pipe, so
// that neither the pipe to varnel nor a socket stays open through it, and it
// ends with the parent. The kernel kills it when the parent dies; the alarm
// is the second line, for signals a parent left ignored or blocked.
void alone(int keep, pid_t parent, unsigned alarm_s)
{
    sigset_t none;
    sigemptyset(&none);
    if (sigprocmask(SIG_SETMASK, &none, nullptr) == -1 || signal(SIGALRM, SIG_DFL) == SIG_ERR
        || prctl(PR_SET_PDEATHSIG, SIGKILL) == -1)
        _exit(1);
    // The parent may have died before the request above took hold.
    if (getppid() != parent)
        _exit(1);
    alarm(alarm_s);
    rlimit rl;
    int top = 1024;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0)
        top = rl.rlim_cur < 65536 ? static_cast<int>(rl.rlim_cur) : 65536;
    // Closing a descriptor that is not open fails harmlessly.
    for (int fd = 0; fd < top; ++fd) {
        if (fd != keep)
            close(fd);
    }
    // The resolver's own files and sockets must not land on 0, 1 or 2 where
    // a stray write could reach them; /dev/null holds those numbers.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fd != keep && open("/dev/null", O_RDWR) == -1)
            _exit(1);
    }
}

}

bool resolve_start(resolver* r, unsigned alarm_s, const char** call)
{
    int fds[2];
    pid_t parent = getpid();
    r->pid = 0;
    r->fd = -1;
    r->got = 0;
    if (pipe(fds) == -1) {
        *call = "pipe";
        return false;
    }
    pid_t pid = fork();
    if (pid == -1) {
        int e = errno;
        close(fds[0]);
        close(fds[1]);
        errno = e;
        *call = "fork";
        return false;
    }
    if (pid == 0) {
        alone(fds[1], parent, alarm_s);
        child(*r, fds[1]);
    }
    // Without closing its own write end the parent would never see the end
    // of the answer. close cannot fail here for a descriptor just made.
    close(fds[1]);
    r->pid = pid;
    r->fd = fds[0];
    return true;
}

bool resolve_read(resolver* r, const char** call, bool* failed)
{
    *failed = false;
    ssize_t n = read(r->fd, r->msg + r->got, sizeof r->msg - static_cast<size_t>(r->got));
    if (n == -1) {
        if (errno == error_intr || errno == error_again)
            return false;
        *call = "read";
        *failed = true;
        return false;
    }
    r->got += static_cast<int>(n);
    if (n > 0 && r->got < resolve_msg_max)
        return false;
    // End of the answer (or more than any answer can be): reap the child.
    close(r->fd);
    r->fd = -1;
    while (waitpid(r->pid, nullptr, 0) == -1) {
        if (errno != error_intr) {
            *call = "waitpid";
            *failed = true;
            r->pid = 0;
            return false;
        }
    }
    r->pid = 0;
    return true;
}

void resolve_stop(resolver* r)
{
    // The child is ours and not yet reaped, so its pid cannot have been
    // reused: the kill reaches only it. Failures are ignored, as there is
    // nothing more to do about a child that is already gone.
    if (r->pid > 0) {
        kill(r->pid, SIGKILL);
        while (waitpid(r->pid, nullptr, 0) == -1 && errno == error_intr) {
        }
        r->pid = 0;
    }
    if (r->fd >= 0) {
        close(r->fd);
        r->fd = -1;
    }
}

int resolve_result(const resolver& r, addr* out, const char** text)
{
    static char why[resolve_msg_max];
    *text = "no answer from the resolver";
    if (r.got >= 1 && r.msg[0] == kind_error) {
        byte_copy(why, r.got - 1, reinterpret_cast<const char*>(r.msg + 1));
        why[r.got - 1] = '\0';
        *text = why;
        return -1;
    }
    if (r.got < 2 || r.msg[0] != kind_addrs || r.msg[1] > resolve_max_addrs
        || r.got != 2 + 17 * r.msg[1])
        return -1;
    int n = r.msg[1];
    if (n == 0) {
        *text = "no address";
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        const unsigned char* e = r.msg + 2 + 17 * i;
        if (e[0] != 4 && e[0] != 6)
            return -1;
        out[i] = {};
        out[i].family = e[0] == 4 ? AF_INET : AF_INET6;
        out[i].port = r.port;
        byte_copy(reinterpret_cast<char*>(out[i].ip), 16, reinterpret_cast<const char*>(e + 1));
        addr_canonical(&out[i]);
    }
    return n;
}
