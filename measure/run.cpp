// SPDX-License-Identifier: ISC
#include "run.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "addr.h"
#include "byte.h"
#include "carry.h"
#include "check.h"
#include "error.h"
#include "floor.h"
#include "fmt.h"
#include "kfreq.h"
#include "mono.h"
#include "nonce.h"
#include "ntptime.h"
#include "packet.h"
#include "resolve.h"
#include "say.h"
#include "select.h"
#include "str.h"
#include "strerr.h"
#include "timed.h"

namespace {

// No two requests to one server less than 2 s apart: ntpd's guard time,
// below which many public servers drop requests or send RATE, and the
// spacing of its own iburst. Each request that is still unanswered when
// the next is due doubles the spacing, up to a minute.
constexpr int64_t spacing_ns = 2000000000;
constexpr int64_t spacing_max_ns = 64000000000;

// At most this many datagrams are taken from one socket before the clock
// and the other sockets get their turn, so a flood cannot starve them.
constexpr int drain_max = 8;

// Refusals said per address under -n and -v: a flood of bad replies must
// not become a flood of lines.
constexpr int said_max = 8;

// Under -k, a server without a good reply in this many measurements in a
// row is let go, and its name resolved again.
constexpr int lost_max = 3;

enum class req_state : uint8_t { open, closed };

struct request {
    uint64_t nonce; // what its transmit timestamp carried
    uint64_t t1;    // when it left, local NTP time
    int64_t gap_ns; // the floor less the clock at t1
    req_state state;
};

// unused: a free entry. done: asked enough in this measurement. dropped:
// what it gave in this measurement does not count.
enum class srv_state : uint8_t { unused, preparing, active, done, dropped };

// One address asked.
struct server {
    addr named;     // as its source named it: under a protocol, the
                    // address prepared with, which may send us elsewhere
    addr a;         // the address asked
    int fd;
    srv_state state;
    bool banned;    // it told us to go away: never asked again
    int prep_fd;    // what the preparation waits on, while preparing
    short prep_events;
    int src;        // its source
    int vote;       // the addresses of one server name share a vote
    int sent;       // requests made in this measurement, req[0 .. sent - 1]
    request req[requests_max];
    int64_t next_send, spacing; // monotonic nanoseconds
    bool replied;   // something came back from its address and port
    int good;       // good replies in this measurement
    int said;       // refusals said
    int lost;       // measurements in a row without a good reply
    sample best;    // the lowest-delay good sample, once good > 0
    stamp best_at;  // when it was taken
    sample next;    // the next lowest, once good > 1
    stamp next_at;
};

enum class src_kind : uint8_t { literal, name, pool };

// One SERVER argument or pool: what the user named.
struct source {
    src_kind kind;
    const char* text; // the argument
    server_arg arg;
    int share;        // addresses it may bring
    int used;
    bool wanted;      // to be resolved (or, a literal, added) at the next
                      // measurement
};

const tool* tl;
const protocol* proto;
options opt;
int64_t floor_sec;
uint64_t floor_ntp; // the floor as an NTP timestamp
source sources[sources_max];
int nsources;
server servers[max_servers];
resolver resolvers[sources_max]; // one per source
int64_t deadline;

// Addresses that sent DENY or RSTR: a name resolved again may bring them
// back, but they are not asked again.
addr banned[max_servers];
int nbanned;

// What the end of a measurement without a good sample reports.
bool any_sent;           // some request went out
int refused_by = -1;     // the server of the last refusal
verdict refused;
uint32_t refused_refid;
const char* sys_call;    // the last failed call made for a server
int sys_errno;
int unresolved = -1;     // the source of the last name that failed
char unresolved_text[resolve_msg_max];
int unprepared = -1;     // the server whose preparation failed last
const char* unprepared_why;
const char* random_call; // the nonce could not be had: the measurement ends
int random_errno;

unsigned char pkt[datagram_max];
union {
    cmsghdr align;
    unsigned char bytes[CMSG_SPACE(sizeof(timespec))];
} control;

// What a failure's words point into.
char text[addr_text_max];
char num[fmt_max + 1];
char why[reason_max];
char name_text[max_name_len + 1];

bool begun;

void stop_children()
{
    if (!begun)
        return;
    int e = errno;
    for (resolver& r : resolvers)
        resolve_stop(&r);
    if (proto) {
        for (int i = 0; i < max_servers; ++i)
            proto->end(i);
    }
    errno = e;
}

[[noreturn]] void die_sys(const char* call)
{
    stop_children();
    strerr_die(111, tl->fatal, "unable to ", call, ": ", nullptr, nullptr, &strerr_sys);
}

int64_t mono()
{
    int64_t ns;
    if (!mono_now(&ns))
        die_sys("clock_gettime");
    return ns;
}

// The local time as an NTP timestamp, and the floor against it. Where
// time_t is 32 bits, glibc fails this reading after January 2038 rather
// than wrap; the run then ends here instead of measuring from a wrong T1
// or T4.
uint64_t realtime(int64_t* gap_ns)
{
    timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) == -1)
        die_sys("clock_gettime");
    if (gap_ns)
        *gap_ns = ntp_floor(floor_sec, static_cast<int64_t>(ts.tv_sec), ts.tv_nsec).gap_ns;
    return ntp_from_timespec(ts.tv_sec, ts.tv_nsec);
}

stamp stamp_now()
{
    stamp s;
    s.real = realtime(nullptr);
    if (!mono_raw(&s.raw))
        die_sys("clock_gettime");
    return s;
}

// The time a server tells, in seconds since 1970: the local clock now, a
// moment after the reply's arrival, plus the offset measured.
int64_t server_time(int64_t offset)
{
    timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) == -1)
        die_sys("clock_gettime");
    return static_cast<int64_t>(ts.tv_sec) + offset / ns_per_sec;
}

int index_of(const server& s)
{
    return static_cast<int>(&s - servers);
}

// Says the call that failed for a server, and returns its errno: the line
// itself may fail and change errno.
int server_error(server& s, const char* call)
{
    int e = errno;
    sys_call = call;
    sys_errno = e;
    say_error(s.a, call, e);
    return e;
}

void close_socket(server& s)
{
    // A close of our own socket cannot fail in a way worth reporting.
    if (s.fd >= 0)
        close(s.fd);
    s.fd = -1;
}

// Ends a server for this measurement. A one-shot run lets go of all it
// holds at once; under -k, a server that is merely done keeps its socket
// and what it was prepared with for the next measurement.
void stop(server& s, srv_state st)
{
    s.state = st;
    if (st == srv_state::dropped)
        s.good = 0;
    if (opt.keep && st == srv_state::done)
        return;
    close_socket(s);
    if (proto)
        proto->end(index_of(s));
}

// Errors a connected UDP socket reports for ICMP messages about earlier
// datagrams: worth a line, but no reason to stop asking.
bool transient(int e)
{
    return e == ECONNREFUSED || e == EHOSTUNREACH || e == ENETUNREACH || e == EHOSTDOWN
        || e == ENETDOWN;
}

// The good replies of a vote so far.
int votes_good(int vote)
{
    int n = 0;
    for (const server& s : servers) {
        if (s.state != srv_state::unused && s.vote == vote && s.state != srv_state::dropped)
            n += s.good;
    }
    return n;
}

// The server's UDP socket, connected to its address.
void open_socket(server& s)
{
    const addr& a = s.a;
    s.fd = socket(a.family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s.fd == -1) {
        server_error(s, "socket");
        stop(s, srv_state::dropped);
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
        stop(s, srv_state::dropped);
    }
}

// Goes on with the preparation of server i; once ready it is asked at once.
void prepare(int i, int64_t now)
{
    server& s = servers[i];
    addr ntp;
    const char* reason = nullptr;
    prep p = proto->step(i, &ntp, &s.prep_fd, &s.prep_events, &reason);
    if (p == prep::wait)
        return;
    s.prep_fd = -1;
    if (p == prep::failed) {
        say_refused(s.a, reason);
        unprepared = i;
        unprepared_why = reason;
        stop(s, srv_state::dropped);
        return;
    }
    s.a = ntp;
    s.state = srv_state::active;
    s.next_send = now > s.next_send ? now : s.next_send;
    open_socket(s);
}

// Starts server i on its named address: prepares it, or opens its socket.
void start(int i, int64_t now)
{
    server& s = servers[i];
    s.a = s.named;
    s.prep_fd = -1;
    if (!proto) {
        s.state = srv_state::active;
        open_socket(s);
        return;
    }
    s.state = srv_state::preparing;
    const source& so = sources[s.src];
    bool named = so.kind != src_kind::literal;
    proto->begin(i, s.named, named ? so.arg.name : nullptr, named ? so.arg.name_len : 0);
    prepare(i, now);
}

void add_server(const addr& a, int src, int64_t now)
{
    for (int k = 0; k < nbanned; ++k) {
        if (addr_equal(banned[k], a)) {
            say_ignored(a, "it told us to go away");
            return;
        }
    }
    int free = -1;
    for (int i = 0; i < max_servers; ++i) {
        if (servers[i].state == srv_state::unused) {
            if (free < 0)
                free = i;
            continue;
        }
        // The same address twice would be asked twice and vote twice. What
        // counts is the address as named: a server cannot push another out
        // by sending us to its address.
        if (addr_equal(servers[i].named, a)) {
            say_ignored(a, "named twice");
            return;
        }
    }
    source& so = sources[src];
    if (so.used == so.share || free < 0) {
        say_ignored(a, "beyond its name's share of 16 addresses");
        return;
    }
    ++so.used;
    server& s = servers[free];
    s = {};
    s.named = a;
    s.fd = -1;
    s.src = src;
    // A pool's addresses are servers of their own; a name's are one host.
    s.vote = so.kind == src_kind::pool ? sources_max + free : src;
    s.next_send = now;
    s.spacing = spacing_ns;
    start(free, now);
}

// Lets go of server i for good, so that its source may bring another: a
// pool at once, a name once none of its addresses is left.
void forget(int i)
{
    server& s = servers[i];
    stop(s, srv_state::dropped);
    s.state = srv_state::unused;
    source& so = sources[s.src];
    --so.used;
    if (so.kind == src_kind::pool || so.used == 0)
        so.wanted = true;
}

void send_request(server& s, int64_t now)
{
    // Unanswered when the next is due: the server is away or slow, ask less.
    if (s.sent > 0 && s.req[s.sent - 1].state == req_state::open)
        s.spacing = s.spacing * 2 > spacing_max_ns ? spacing_max_ns : s.spacing * 2;
    request& r = s.req[s.sent++];
    const char* call = nullptr;
    r.nonce = nonce_get(deadline, &call);
    if (r.nonce == 0) {
        // Without a nonce nothing can be asked safely: the measurement ends.
        --s.sent;
        random_call = call;
        random_errno = errno;
        return;
    }
    size_t len = ntp_size;
    if (proto) {
        const char* reason = nullptr;
        len = proto->seal(index_of(s), s.sent - 1, pkt, r.nonce, &reason);
        if (len == 0) {
            // Nothing left to ask with: what was measured stands.
            --s.sent;
            say_refused(s.a, reason);
            stop(s, srv_state::done);
            return;
        }
    } else {
        ntp_request(pkt, r.nonce);
    }
    s.next_send = now + s.spacing;
    // T1 is read last, right before the datagram leaves.
    r.t1 = realtime(&r.gap_ns);
    ssize_t w = send(s.fd, pkt, len, 0);
    if (w == static_cast<ssize_t>(len)) {
        r.state = req_state::open;
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
    server& s = servers[i];
    if (s.said < said_max) {
        char reason[reason_max];
        say_refused(s.a, reason_text(v, refid, reason));
    } else if (s.said == said_max) {
        say_quiet(s.a);
    }
    if (s.said <= said_max)
        ++s.said;
    if (v != verdict::wrong_source) {
        // Not a reply from the server at all is never reported as the
        // reason the run failed.
        refused_by = i;
        refused = v;
        refused_refid = refid;
    }
}

void handle(int i, size_t len, const sockaddr_storage& from, socklen_t fromlen, uint64_t t4)
{
    server& s = servers[i];
    addr src;
    if (!addr_from_sockaddr(from, fromlen, &src) || !addr_equal(src, s.a)) {
        refuse(i, verdict::wrong_source, 0);
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
    if (proto && which >= 0) {
        // Only what the server's key vouches for is its answer; anything
        // else leaves the request open for the real one.
        verdict a = proto->open(i, which, pkt, len, p);
        if (a != verdict::good) {
            refuse(i, a, p.refid);
            // Our cookie was refused: nothing more can be asked, but what
            // the server vouched for before still stands.
            if (a == verdict::nts_nak)
                stop(s, srv_state::done);
            return;
        }
    }
    request none = {};
    const request& rq = which >= 0 ? s.req[which] : none;
    sample sm;
    verdict v = reply_check(p, rq.nonce, rq.t1, t4, {rq.gap_ns, floor_ntp}, &sm);
    if (v != verdict::not_server && v != verdict::bad_version && v != verdict::bad_origin) {
        // It echoed the nonce: this is the server's answer, good or not.
        s.req[which].state = req_state::closed;
    }
    if (v == verdict::good && proto)
        v = proto->vouch(i, server_time(sm.offset));
    if (v == verdict::good) {
        say_sample(s.a, sm);
        stamp at = stamp_now();
        if (s.good == 0 || sm.delay < s.best.delay) {
            s.next = s.best;
            s.next_at = s.best_at;
            s.best = sm;
            s.best_at = at;
        } else if (s.good == 1 || sm.delay < s.next.delay) {
            s.next = sm;
            s.next_at = at;
        }
        ++s.good;
        return;
    }
    refuse(i, v, p.refid);
    if (v == verdict::kod_deny || v == verdict::kod_rstr) {
        stop(s, srv_state::dropped);
        s.banned = true;
    } else if (v == verdict::kod_rate) {
        // Asked to slow down: no more in this measurement. What the server
        // already gave still counts.
        stop(s, srv_state::done);
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
    return realtime(nullptr);
}
#pragma GCC diagnostic pop

// Takes up to drain_max datagrams from server i's socket; with keep_none,
// every one waiting, unread: late answers to an earlier measurement.
void receive(int i, bool keep_none = false)
{
    server& s = servers[i];
    // A socket holds a few hundred datagrams: a flood still ends.
    for (int k = 0; k < (keep_none ? 1024 : drain_max) && s.fd >= 0; ++k) {
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
            if (!transient(server_error(s, "recvmsg")))
                stop(s, srv_state::dropped);
            return;
        }
        if (!keep_none)
            handle(i, static_cast<size_t>(n), from, m.msg_namelen, arrival(m));
    }
}

void name_failed(int k, const char* what)
{
    resolver& r = resolvers[k];
    say_unresolved(r.name, r.name_len, what);
    int n = str_len(what);
    if (n > resolve_msg_max - 1)
        n = resolve_msg_max - 1;
    byte_copy(unresolved_text, n, what);
    unresolved_text[n] = '\0';
    unresolved = k;
    // Tried again at the next measurement.
    sources[k].wanted = true;
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
    const char* reason = nullptr;
    int n = resolve_result(r, list, &reason);
    if (n < 0) {
        name_failed(k, reason);
        return;
    }
    for (int j = 0; j < n; ++j)
        add_server(list[j], k, now);
}

uint64_t magnitude(int64_t v)
{
    uint64_t u = static_cast<uint64_t>(v);
    return v < 0 ? 0 - u : u;
}

bool failed(failure* f, const char* t1, const char* t2, const char* t3, const char* t4)
{
    *f = {{t1, t2, t3, t4}, false, 0};
    return false;
}

bool failed_sys(failure* f, const char* call, int e)
{
    *f = {{"unable to ", call, ": ", nullptr}, true, e};
    return false;
}

bool conclude(result* res, failure* f)
{
    // Each server's best sample holds for when it was taken: carried to now
    // past whatever slew or step the clock took since, and past what the
    // offset grew by meanwhile where its other samples show it did. A kernel
    // that cannot tell its frequency correction is taken to have none.
    stamp now = stamp_now();
    int64_t kfreq = 0;
    if (!kfreq_read(&kfreq))
        kfreq = 0;
    // One candidate per vote: the lowest-delay sample of its addresses.
    sample cand[max_servers];
    int owner[max_servers];
    int n = 0;
    for (int i = 0; i < max_servers; ++i) {
        server& s = servers[i];
        if (s.state == srv_state::unused)
            continue;
        if (s.sent > 0 && !s.replied)
            say_silent(s.a);
        if (s.good == 0 || s.state == srv_state::dropped)
            continue;
        s.best.offset -= carry_ns(s.best_at, now, kfreq);
        if (s.good > 1) {
            carried best = {s.best.offset, s.best_at.raw, s.best.delay / 2};
            carried next = {s.next.offset - carry_ns(s.next_at, now, kfreq), s.next_at.raw,
                s.next.delay / 2};
            s.best.offset += growth_ns(best, next, now.raw);
        }
        int c = 0;
        while (c < n && servers[owner[c]].vote != s.vote)
            ++c;
        if (c == n) {
            ++n;
        } else if (cand[c].delay <= s.best.delay) {
            continue;
        }
        cand[c] = s.best;
        owner[c] = i;
    }
    if (random_call)
        return failed_sys(f, random_call, random_errno);
    if (n > 0) {
        int64_t offset = 0;
        int chimers = 0;
        bool truechimer[max_servers];
        if (select_offset(cand, n, &offset, truechimer, &chimers) == select_result::no_majority)
            return failed(f, "servers disagree: no majority", nullptr, nullptr, nullptr);
        // The error: half the median delay of those that agree.
        int64_t delays[max_servers];
        int nd = 0;
        for (int i = 0; i < n; ++i) {
            if (!truechimer[i]) {
                say_falseticker(servers[owner[i]].a);
                continue;
            }
            int j = nd++;
            for (; j > 0 && delays[j - 1] > cand[i].delay; --j)
                delays[j] = delays[j - 1];
            delays[j] = cand[i].delay;
        }
        if (opt.capped && magnitude(offset) > opt.cap_ns) {
            num[fmt_snsec(num, offset)] = '\0';
            return failed(f, "offset beyond the cap: ", num, nullptr, nullptr);
        }
        say_chosen(offset, chimers);
        *res = {offset, delays[nd / 2] / 2};
        return true;
    }
    if (refused_by >= 0) {
        return failed(f, "no good reply: ", addr_text(servers[refused_by].a, text), ": ",
            reason_text(refused, refused_refid, why));
    }
    if (!any_sent) {
        // Nothing could even be asked: say why.
        if (unprepared >= 0)
            return failed(f, addr_text(servers[unprepared].a, text), ": ", unprepared_why, nullptr);
        if (sys_call)
            return failed_sys(f, sys_call, sys_errno);
        if (unresolved >= 0) {
            resolver& r = resolvers[unresolved];
            byte_copy(name_text, r.name_len, r.name);
            name_text[r.name_len] = '\0';
            return failed(f, "unable to resolve ", name_text, ": ", unresolved_text);
        }
    }
    return failed(f, "no reply before the deadline", nullptr, nullptr, nullptr);
}

// Reads the sources, pools first, and shares the address table among them:
// a round at a time, each taking one more address while it may, so that no
// name crowds out the others.
void take_sources(int argc, char** argv)
{
    for (int i = 0; i < opt.npools + argc - opt.first; ++i) {
        bool pool = i < opt.npools;
        const char* arg = pool ? opt.pools[i] : argv[opt.first + i - opt.npools];
        source& so = sources[nsources++];
        so = {};
        so.text = arg;
        so.wanted = true;
        so.arg = server_parse(arg, tl->port);
        if (so.arg.kind == arg_kind::bad) {
            strerr_die(100, tl->fatal, "bad server address: ", arg, nullptr, nullptr, nullptr,
                nullptr);
        }
        so.kind = so.arg.kind == arg_kind::literal ? src_kind::literal
            : pool                                 ? src_kind::pool
                                                   : src_kind::name;
    }
    int room = max_servers;
    for (int round = 0; room > 0; ++round) {
        bool took = false;
        for (int i = 0; i < nsources && room > 0; ++i) {
            source& so = sources[i];
            int most = so.kind == src_kind::literal ? 1 : so.kind == src_kind::name ? name_share
                                                                                  : pool_share;
            if (so.share == round && round < most) {
                ++so.share;
                --room;
                took = true;
            }
        }
        if (!took)
            break;
    }
}

// A random wait before anything goes out, so that a fleet powered up
// together does not ask together.
void start_delay()
{
    if (opt.delay_ns == 0)
        return;
    int64_t until = mono() + static_cast<int64_t>(jitter_get() % (opt.delay_ns + 1));
    for (int64_t now = mono(); now < until; now = mono()) {
        int ms = mono_ms(now, until);
        if (poll(nullptr, 0, ms > 1000 ? 1000 : ms) == -1 && errno != error_intr)
            die_sys("poll");
    }
}

// Readies the servers kept from the last measurement for this one: a fresh
// count, the late answers to the last one thrown away, and a new
// preparation for those whose old one no longer serves.
void renew(int64_t now)
{
    for (int i = 0; i < max_servers; ++i) {
        server& s = servers[i];
        if (s.state == srv_state::unused)
            continue;
        s.sent = s.good = s.said = 0;
        s.replied = false;
        s.spacing = spacing_ns;
        bool ready = s.state == srv_state::active || s.state == srv_state::done;
        if (proto && (!ready || !proto->fresh(i))) {
            close_socket(s);
            proto->end(i);
            start(i, now);
        } else if (s.fd < 0) {
            s.state = srv_state::active;
            open_socket(s);
        } else {
            s.state = srv_state::active;
            receive(i, true);
        }
    }
}

// Starts what the sources want: a literal's one address, a name's
// resolution.
void seek(int64_t now)
{
    // The child gives up by itself a second after the deadline, should it
    // outlive us.
    unsigned alarm_s = static_cast<unsigned>(opt.deadline_ns / ns_per_sec) + 2;
    for (int i = 0; i < nsources; ++i) {
        source& so = sources[i];
        if (!so.wanted)
            continue;
        so.wanted = false;
        if (so.kind == src_kind::literal) {
            add_server(so.arg.a, i, now);
            continue;
        }
        resolver& r = resolvers[i];
        r = {};
        r.name = so.arg.name;
        r.name_len = so.arg.name_len;
        r.port = so.arg.a.port;
        const char* call = nullptr;
        if (!resolve_start(&r, alarm_s, &call))
            die_sys(call);
    }
}

// After a measurement under -k: a server that told us to go away, or that
// has given nothing good for a while, is let go.
void tally()
{
    for (int i = 0; i < max_servers; ++i) {
        server& s = servers[i];
        if (s.state == srv_state::unused)
            continue;
        s.lost = s.good > 0 && s.state != srv_state::dropped ? 0 : s.lost + 1;
        if (s.banned && nbanned < max_servers)
            banned[nbanned++] = s.named;
        if (s.banned || s.lost >= lost_max)
            forget(i);
    }
}

}

int64_t run_deadline()
{
    return deadline;
}

void run_begin(const tool& t, const options& o, int argc, char** argv)
{
    tl = &t;
    proto = t.proto;
    opt = o;
    floor_sec = o.floor_set ? o.floor : floor_build;
    floor_ntp = ntp_floor(floor_sec, 0, 0).ntp;
    for (resolver& r : resolvers)
        r.fd = -1;

    // Every argument is checked before anything is started.
    take_sources(argc, argv);
    if (proto)
        proto->setup(o, t.fatal);
    begun = true;
    start_delay();
}

void run_end()
{
    stop_children();
}

bool measure(result* res, failure* f)
{
    int64_t now = mono();
    deadline = now + static_cast<int64_t>(opt.deadline_ns);
    timed_deadline(deadline);
    any_sent = false;
    refused_by = unresolved = unprepared = -1;
    sys_call = random_call = nullptr;
    renew(now);
    seek(now);

    pollfd pfd[max_servers + sources_max];
    int who[max_servers + sources_max]; // a server's index, or -1 - a resolver's
    for (;;) {
        now = mono();
        // Under -n the lines are the result: losing them is a failure.
        if (int e = opt.human ? say_failed() : 0) {
            errno = e;
            die_sys("write");
        }
        if (now >= deadline || random_call)
            break;

        int npfd = 0;
        int64_t wake = deadline;
        for (int i = 0; i < max_servers && !random_call; ++i) {
            server& s = servers[i];
            if (s.state == srv_state::preparing && s.prep_fd >= 0) {
                pfd[npfd] = {s.prep_fd, s.prep_events, 0};
                who[npfd++] = i;
                continue;
            }
            if (s.state != srv_state::active)
                continue;
            // Enough: this server, or the host it is an address of, has
            // given the good replies asked for.
            if (votes_good(s.vote) >= opt.count) {
                stop(s, srv_state::done);
                continue;
            }
            if (s.sent < requests_max && now >= s.next_send)
                send_request(s, now);
            if (s.state != srv_state::active)
                continue;
            if (s.sent < requests_max && s.next_send < wake)
                wake = s.next_send;
            pfd[npfd] = {s.fd, POLLIN, 0};
            who[npfd++] = i;
        }
        for (int k = 0; k < nsources; ++k) {
            if (resolvers[k].fd >= 0) {
                pfd[npfd] = {resolvers[k].fd, POLLIN, 0};
                who[npfd++] = -1 - k;
            }
        }
        // Done early: every server answered enough or was given up on.
        if (npfd == 0 || random_call)
            break;

        int rc = poll(pfd, static_cast<nfds_t>(npfd), mono_ms(now, wake));
        if (rc == -1) {
            if (errno == error_intr)
                continue;
            die_sys("poll");
        }
        for (int j = 0; j < npfd && rc > 0; ++j) {
            if (!pfd[j].revents)
                continue;
            if (who[j] >= 0 && servers[who[j]].state == srv_state::preparing)
                prepare(who[j], mono());
            else if (who[j] >= 0)
                receive(who[j]);
            else
                resolved(-1 - who[j], mono());
        }
    }

    for (int i = 0; i < max_servers; ++i) {
        if (servers[i].state == srv_state::preparing) {
            unprepared = i;
            unprepared_why = "not ready to ask before the deadline";
            stop(servers[i], srv_state::dropped);
        }
    }
    // Time is up for any name still being resolved.
    for (int k = 0; k < nsources; ++k) {
        if (resolvers[k].pid > 0) {
            resolve_stop(&resolvers[k]);
            name_failed(k, error_str(error_timeout));
        }
    }
    bool ok = conclude(res, f);
    if (opt.keep)
        tally();
    return ok;
}

int64_t run(const tool& t, const options& o, int argc, char** argv)
{
    run_begin(t, o, argc, argv);
    result r;
    failure f;
    if (measure(&r, &f))
        return r.offset;
    stop_children();
    errno = f.err;
    strerr_die(111, t.fatal, f.words[0], f.words[1], f.words[2], f.words[3], nullptr,
        f.sys ? &strerr_sys : nullptr);
}
