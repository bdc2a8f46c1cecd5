#include "run.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "byte.h"
#include "error.h"
#include "fmt.h"
#include "nonce.h"
#include "ntptime.h"
#include "packet.h"
#include "resolve.h"
#include "say.h"
#include "select.h"
#include "str.h"
#include "strerr.h"

namespace {

constexpr char fatal[] = "varnel-sntp: fatal: ";

// Requests to one server are this far apart, or twice that per RATE kiss.
constexpr int64_t spacing_ns = 500000000;

// At most this many datagrams are taken from one socket before the clock
// and the other sockets get their turn, so a flood cannot starve them.
constexpr int drain_max = 8;

enum class req_state : uint8_t { open, closed };

struct request {
    uint64_t nonce; // what its transmit timestamp carried
    uint64_t t1;    // when it left, local NTP time
    req_state state;
};

enum class srv_state : uint8_t { active, done, dropped };

struct server {
    addr a;
    int fd;
    srv_state state;
    int sent;       // requests made, req[0 .. sent - 1]
    int open;       // of those, still waiting for their answer
    request req[count_max];
    int64_t last_send, next_send, spacing; // monotonic nanoseconds
    bool replied;   // something came back from its address and port
    bool have;      // best holds a good sample
    sample best;    // the lowest-delay good sample so far
};

options opt;
server servers[max_servers];
int nservers;
resolver resolvers[max_servers];
int nresolvers;

// What the end of a run without a good sample reports.
bool any_sent;           // some request went out
int refused_by = -1;     // the server of the last refusal
verdict refused;
uint32_t refused_refid;
const char* sys_call;    // the last failed call made for a server
int sys_errno;
int unresolved = -1;     // the resolver of the last name that failed
char unresolved_text[resolve_msg_max];

unsigned char pkt[256];
union {
    cmsghdr align;
    unsigned char bytes[CMSG_SPACE(sizeof(timespec))];
} control;

void stop_children()
{
    int e = errno;
    for (int i = 0; i < nresolvers; ++i)
        resolve_stop(&resolvers[i]);
    errno = e;
}

[[noreturn]] void fail(int status, const char* t1, const char* t2, const char* t3, const char* t4)
{
    stop_children();
    strerr_die(status, fatal, t1, t2, t3, t4, nullptr, nullptr);
}

[[noreturn]] void die_sys(const char* call)
{
    stop_children();
    strerr_die(111, fatal, "unable to ", call, ": ", nullptr, nullptr, &strerr_sys);
}

int64_t mono()
{
    timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) == -1)
        die_sys("clock_gettime");
    return static_cast<int64_t>(ts.tv_sec) * ns_per_sec + ts.tv_nsec;
}

// The local time as an NTP timestamp. Where time_t is 32 bits, glibc fails
// this reading after January 2038 rather than wrap; the run then ends here
// instead of measuring from a wrong T1 or T4.
uint64_t realtime()
{
    timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) == -1)
        die_sys("clock_gettime");
    return ntp_from_timespec(ts.tv_sec, ts.tv_nsec);
}

void server_error(server& s, const char* call)
{
    sys_call = call;
    sys_errno = errno;
    say_error(s.a, call, sys_errno);
}

void drop(server& s)
{
    // A close of our own socket cannot fail in a way worth reporting.
    if (s.fd >= 0)
        close(s.fd);
    s.fd = -1;
    s.state = srv_state::dropped;
    s.have = false;
}

// Errors a connected UDP socket reports for ICMP messages about earlier
// datagrams: worth a line, but no reason to stop asking.
bool transient(int e)
{
    return e == ECONNREFUSED || e == EHOSTUNREACH || e == ENETUNREACH || e == EHOSTDOWN
        || e == ENETDOWN;
}

void add_server(const addr& a, int64_t now)
{
    for (int i = 0; i < nservers; ++i) {
        // The same address twice would be asked twice and vote twice.
        if (addr_equal(servers[i].a, a))
            return;
    }
    if (nservers == max_servers) {
        say_ignored(a);
        return;
    }
    server& s = servers[nservers++];
    s = {};
    s.a = a;
    s.fd = -1;
    s.state = srv_state::active;
    s.next_send = now;
    s.spacing = spacing_ns;

    s.fd = socket(a.family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s.fd == -1) {
        server_error(s, "socket");
        drop(s);
        return;
    }
    // Where the kernel stamps each datagram's arrival, T4 is taken from that
    // stamp rather than from a reading after poll wakes up. Where it cannot,
    // the reading stands in, so a failure here changes nothing else.
    int on = 1;
    if (setsockopt(s.fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == -1) {
        // No stamps: arrival() finds no control message and reads the clock.
    }
    // Connected: the kernel picks a random source port for this run, and
    // hands us only datagrams from the server's address and port.
    sockaddr_storage sa;
    socklen_t len = addr_sockaddr(a, &sa);
    if (connect(s.fd, reinterpret_cast<sockaddr*>(&sa), len) == -1) {
        server_error(s, "connect");
        drop(s);
    }
}

void send_request(server& s, int64_t now)
{
    request& r = s.req[s.sent++];
    const char* call = nullptr;
    r.nonce = nonce_get(&call);
    if (r.nonce == 0)
        die_sys(call);
    ntp_request(pkt, r.nonce);
    s.last_send = now;
    s.next_send = now + s.spacing;
    // T1 is read last, right before the datagram leaves.
    r.t1 = realtime();
    ssize_t w = send(s.fd, pkt, ntp_size, 0);
    if (w == static_cast<ssize_t>(ntp_size)) {
        r.state = req_state::open;
        ++s.open;
        any_sent = true;
        return;
    }
    if (w >= 0)
        errno = error_io;
    r.state = req_state::closed;
    server_error(s, "send");
}

void refuse(int i, verdict v, uint32_t refid)
{
    char text[reason_max];
    say_refused(servers[i].a, reason_text(v, refid, text));
    refused_by = i;
    refused = v;
    refused_refid = refid;
}

void handle(int i, size_t len, const sockaddr_storage& from, socklen_t fromlen, uint64_t t4)
{
    server& s = servers[i];
    addr src;
    if (!addr_from_sockaddr(from, fromlen, &src) || !addr_equal(src, s.a)) {
        // Not a reply from the server at all: said, but never reported as
        // the reason the run failed.
        char text[reason_max];
        say_refused(s.a, reason_text(verdict::wrong_source, 0, text));
        return;
    }
    s.replied = true;
    ntp_packet p;
    if (!ntp_parse(pkt, len, &p)) {
        refuse(i, verdict::short_packet, 0);
        return;
    }
    int which = -1;
    for (int r = 0; r < s.sent; ++r) {
        if (s.req[r].nonce == p.org)
            which = r;
    }
    // Only the first answer to a request counts; a copy of it, or a later
    // one, is dropped without a word.
    if (which >= 0 && s.req[which].state == req_state::closed)
        return;
    uint64_t nonce = which >= 0 ? s.req[which].nonce : 0;
    uint64_t t1 = which >= 0 ? s.req[which].t1 : 0;
    sample sm;
    verdict v = reply_check(p, nonce, t1, t4, &sm);
    if (v != verdict::not_server && v != verdict::bad_version && v != verdict::bad_origin) {
        // It echoed the nonce: this is the server's answer, good or not.
        s.req[which].state = req_state::closed;
        --s.open;
    }
    if (v == verdict::good) {
        say_sample(s.a, sm);
        if (!s.have || sm.delay < s.best.delay)
            s.best = sm;
        s.have = true;
        return;
    }
    refuse(i, v, p.refid);
    if (v == verdict::kod_deny || v == verdict::kod_rstr) {
        drop(s);
    } else if (v == verdict::kod_rate) {
        s.spacing *= 2;
        s.next_send = s.last_send + s.spacing;
    }
}

// T4: the kernel's stamp of the arrival if there is one, else now.
// musl's CMSG_NXTHDR masks a length with ~(long)(sizeof(long) - 1), a
// negative constant made unsigned: harmless, but a warning here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-conversion"
uint64_t arrival(msghdr& m)
{
    if (!(m.msg_flags & MSG_CTRUNC)) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS
                && c->cmsg_len == CMSG_LEN(sizeof(timespec))) {
                timespec ts;
                byte_copy(reinterpret_cast<char*>(&ts), sizeof ts,
                    reinterpret_cast<const char*>(CMSG_DATA(c)));
                return ntp_from_timespec(ts.tv_sec, ts.tv_nsec);
            }
        }
    }
    return realtime();
}
#pragma GCC diagnostic pop

void receive(int i)
{
    server& s = servers[i];
    for (int k = 0; k < drain_max && s.state == srv_state::active; ++k) {
        sockaddr_storage from;
        iovec iov = {pkt, sizeof pkt};
        msghdr m = {};
        m.msg_name = &from;
        m.msg_namelen = sizeof from;
        m.msg_iov = &iov;
        m.msg_iovlen = 1;
        m.msg_control = control.bytes;
        m.msg_controllen = sizeof control.bytes;
        ssize_t n = recvmsg(s.fd, &m, 0);
        if (n == -1) {
            if (errno == error_intr)
                continue;
            if (errno == error_again || errno == error_wouldblock)
                return;
            server_error(s, "recvmsg");
            if (!transient(errno))
                drop(s);
            return;
        }
        uint64_t t4 = arrival(m);
        handle(i, static_cast<size_t>(n), from, m.msg_namelen, t4);
    }
}

void name_failed(int k, const char* text)
{
    resolver& r = resolvers[k];
    say_unresolved(r.name, r.name_len, text);
    int n = str_len(text);
    if (n > resolve_msg_max - 1)
        n = resolve_msg_max - 1;
    byte_copy(unresolved_text, n, text);
    unresolved_text[n] = '\0';
    unresolved = k;
}

void resolved(int k, int64_t now)
{
    resolver& r = resolvers[k];
    const char* call = nullptr;
    bool failed = false;
    if (!resolve_read(&r, &call, &failed)) {
        if (failed)
            die_sys(call);
        return;
    }
    addr list[resolve_max_addrs];
    const char* text = nullptr;
    int n = resolve_result(r, list, &text);
    if (n < 0) {
        name_failed(k, text);
        return;
    }
    for (int j = 0; j < n; ++j)
        add_server(list[j], now);
}

uint64_t magnitude(int64_t v)
{
    uint64_t u = static_cast<uint64_t>(v);
    return v < 0 ? 0 - u : u;
}

choice conclude()
{
    sample cand[max_servers];
    int owner[max_servers];
    int n = 0;
    for (int i = 0; i < nservers; ++i) {
        if (servers[i].sent > 0 && !servers[i].replied)
            say_silent(servers[i].a);
        if (servers[i].have && servers[i].state != srv_state::dropped) {
            cand[n] = servers[i].best;
            owner[n++] = i;
        }
    }
    char text[addr_text_max];
    char num[fmt_max + 1];
    if (n > 0) {
        int w = 0;
        bool truechimer[max_servers];
        if (select_offset(cand, n, &w, truechimer) == select_result::no_majority)
            fail(111, "servers disagree: no majority", nullptr, nullptr, nullptr);
        for (int i = 0; i < n; ++i) {
            if (!truechimer[i])
                say_falseticker(servers[owner[i]].a);
        }
        const addr& a = servers[owner[w]].a;
        if (opt.capped && magnitude(cand[w].offset) > opt.cap_ns) {
            num[fmt_snsec(num, cand[w].offset)] = '\0';
            fail(111, "offset beyond the cap: ", addr_text(a, text), ": ", num);
        }
        say_chosen(a, cand[w].offset);
        return {a, cand[w]};
    }
    if (refused_by >= 0) {
        char why[reason_max];
        fail(111, "no good reply: ", addr_text(servers[refused_by].a, text), ": ",
            reason_text(refused, refused_refid, why));
    }
    if (!any_sent) {
        // Nothing could even be asked: say why.
        if (sys_call) {
            errno = sys_errno;
            die_sys(sys_call);
        }
        if (unresolved >= 0) {
            resolver& r = resolvers[unresolved];
            static char name[max_name_len + 1];
            byte_copy(name, r.name_len, r.name);
            name[r.name_len] = '\0';
            fail(111, "unable to resolve ", name, ": ", unresolved_text);
        }
    }
    fail(111, "no reply before the deadline", nullptr, nullptr, nullptr);
}

}

choice run(const options& o, int argc, char** argv)
{
    opt = o;
    int64_t now = mono();
    const int64_t deadline = now + static_cast<int64_t>(o.deadline_ns);

    // Every argument is checked before anything is started.
    if (argc - o.first > max_servers)
        fail(100, "more than 16 servers", nullptr, nullptr, nullptr);
    for (int i = o.first; i < argc; ++i) {
        if (server_parse(argv[i]).kind == arg_kind::bad)
            fail(100, "bad server address: ", argv[i], nullptr, nullptr);
    }
    // The child gives up by itself a second after the deadline, should it
    // outlive us.
    unsigned alarm_s = static_cast<unsigned>(o.deadline_ns / ns_per_sec) + 2;
    for (int i = o.first; i < argc; ++i) {
        server_arg sa = server_parse(argv[i]);
        if (sa.kind == arg_kind::literal) {
            add_server(sa.a, now);
            continue;
        }
        resolver& r = resolvers[nresolvers++];
        r = {};
        r.name = sa.name;
        r.name_len = sa.name_len;
        r.port = sa.a.port;
        const char* call = nullptr;
        if (!resolve_start(&r, alarm_s, &call)) {
            --nresolvers;
            die_sys(call);
        }
    }

    pollfd pfd[2 * max_servers];
    int who[2 * max_servers]; // a server's index, or -1 - a resolver's
    for (;;) {
        now = mono();
        // Under -n the lines are the result: losing them is a failure.
        if (int e = opt.human ? say_failed() : 0) {
            errno = e;
            die_sys("write");
        }
        if (now >= deadline)
            break;

        int npfd = 0;
        int64_t wake = deadline;
        for (int i = 0; i < nservers; ++i) {
            server& s = servers[i];
            if (s.state == srv_state::active && s.sent < opt.count && now >= s.next_send)
                send_request(s, now);
            if (s.state == srv_state::active && s.sent == opt.count && s.open == 0) {
                close(s.fd);
                s.fd = -1;
                s.state = srv_state::done;
            }
            if (s.state != srv_state::active)
                continue;
            if (s.sent < opt.count && s.next_send < wake)
                wake = s.next_send;
            pfd[npfd] = {s.fd, POLLIN, 0};
            who[npfd++] = i;
        }
        for (int k = 0; k < nresolvers; ++k) {
            if (resolvers[k].fd >= 0) {
                pfd[npfd] = {resolvers[k].fd, POLLIN, 0};
                who[npfd++] = -1 - k;
            }
        }
        // Done early: every server answered or was given up on.
        if (npfd == 0)
            break;

        // Rounded up to a whole millisecond, so the wait never ends early.
        int64_t wait = (wake - now + 999999) / 1000000;
        int rc = poll(pfd, static_cast<nfds_t>(npfd), static_cast<int>(wait < 0 ? 0 : wait));
        if (rc == -1) {
            if (errno == error_intr)
                continue;
            die_sys("poll");
        }
        for (int j = 0; j < npfd && rc > 0; ++j) {
            if (!pfd[j].revents)
                continue;
            if (who[j] >= 0)
                receive(who[j]);
            else
                resolved(-1 - who[j], mono());
        }
    }

    // Time is up for any name still being resolved.
    for (int k = 0; k < nresolvers; ++k) {
        if (resolvers[k].pid > 0) {
            resolve_stop(&resolvers[k]);
            name_failed(k, error_str(error_timeout));
        }
    }
    return conclude();
}
