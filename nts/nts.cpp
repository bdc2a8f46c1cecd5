// SPDX-License-Identifier: ISC
#include "nts.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "byte.h"
#include "ef.h"
#include "error.h"
#include "floor.h"
#include "fmt.h"
#include "ke.h"
#include "mono.h"
#include "name.h"
#include "nonce.h"
#include "ntpserver.h"
#include "resolve.h"
#include "siv.h"
#include "str.h"
#include "strerr.h"
#include "substdio.h"
#include "tls.h"

namespace {

constexpr uint16_t ntp_default_port = 123;
constexpr uint32_t kiss_ntsn = 0x4e54534e; // "NTSN"

// Under -k a key exchange serves for a day at most: then the server's
// certificate is checked again, and keys that have done a day's work are
// retired. Sooner when the cookies run out or the server refuses one.
constexpr int64_t exchange_life_ns = 86400 * int64_t{1000000000};

enum class phase : uint8_t { connect, handshake, ask, answer, resolve, ready, failed };

// One server address: its key exchange, then what the NTP requests need.
struct peer {
    phase ph;
    int fd;                // the key exchange's TCP socket
    addr ke;               // its address
    const char* name;      // the host name asked (name_len bytes), or null
    int name_len;
    dates d;
    ke_reply reply;        // the exchange's result, and the cookie jar after it
    unsigned char c2s[siv_key_size], s2c[siv_key_size];
    int64_t from, until;   // the certificates' window, under dates::server
    addr ntp;
    int64_t since;         // when the exchange ended, monotonic
    bool nak;              // the server refused a cookie
    union {
        // Until the NTP server is known: the reply's bytes not yet taken,
        // and the resolver for a server name the exchange gave.
        struct {
            unsigned char buf[ke_chunk_max];
            size_t have;
            uint32_t total;
            resolver res;
        } kx;
        // Then: the identifier each request carried.
        unsigned char uid[requests_max][uid_size];
    };
};

// Key exchanges and what they give take room: at most this many servers
// hold a slot at once, and a slot is given back when its server is done.
constexpr int peers_max = 8;
peer peers[peers_max];
bool slot_used[peers_max];
int slot_of[max_servers];
int64_t floor_sec;
dates run_dates; // one rule for the whole run
char why_text[max_servers][96];
substdio* said; // where the lines of -n and -v go, if anywhere

// "key exchange: " and the three texts, kept per peer.
const char* why_of(int i, const char* a, const char* b, const char* c)
{
    char* out = why_text[i];
    int n = 0;
    const char* parts[] = {"key exchange: ", a, b, c};
    for (const char* t : parts) {
        int l = str_len(t);
        if (l > 95 - n)
            l = 95 - n;
        byte_copy(out + n, l, t);
        n += l;
    }
    out[n] = '\0';
    return out;
}

// "key exchange: ", what, and the text for errno e unless it is 0.
const char* sys_why(int i, const char* what, int e)
{
    return why_of(i, what, e ? ": " : "", e ? error_str(e) : "");
}

prep at(peer& p, const addr& a)
{
    p.ntp = a;
    p.ph = phase::ready;
    return prep::ready;
}

// Where record 6 sends the requests, but never to an address that is not
// a single host's.
prep to(int i, const addr& a, const char** why)
{
    if (!unicast(a)) {
        *why = why_of(i, "NTP server ", peers[slot_of[i]].reply.server, ": not a unicast address");
        return prep::failed;
    }
    return at(peers[slot_of[i]], a);
}

void close_fd(peer& p)
{
    if (p.fd >= 0)
        close(p.fd);
    p.fd = -1;
}

// Whether the clock may not have been set yet: it reads below the floor,
// or no further above it than the time since boot, which is where the floor
// step at boot leaves a clock that nothing set since. A minute more allows
// for the clocks' drift. A clock that cannot be read counts as unset too.
bool clock_unset()
{
    timespec real, boot;
    if (clock_gettime(CLOCK_REALTIME, &real) == -1 || clock_gettime(CLOCK_BOOTTIME, &boot) == -1)
        return true;
    return static_cast<int64_t>(real.tv_sec) < floor_sec + static_cast<int64_t>(boot.tv_sec) + 60;
}

void begin(int i, const addr& a, const char* name, int name_len)
{
    int k = 0;
    while (k < peers_max && slot_used[k])
        ++k;
    if (k == peers_max) {
        slot_of[i] = -1;
        sys_why(i, "more than 8 servers at once", 0);
        return;
    }
    slot_of[i] = k;
    slot_used[k] = true;
    peer& p = peers[k];
    p = {};
    p.fd = -1;
    p.ke = a;
    p.name = name;
    p.name_len = name_len;
    p.d = run_dates;
    p.ph = phase::failed;
    p.fd = socket(a.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (p.fd == -1) {
        sys_why(i, "unable to socket", errno);
        return;
    }
    sockaddr_storage sa;
    socklen_t len = addr_sockaddr(a, &sa);
    if (connect(p.fd, reinterpret_cast<sockaddr*>(&sa), len) == -1 && errno != EINPROGRESS) {
        sys_why(i, "unable to connect", errno);
        return;
    }
    p.ph = phase::connect;
}

// The NTP server the exchange named, as an address: record 6 a numeric
// address, or the name asked; any other name is resolved.
prep target(int i, const char** why)
{
    peer& p = peers[slot_of[i]];
    uint16_t port = p.reply.port ? p.reply.port : ntp_default_port;
    addr same = p.ke;
    same.port = port;
    if (!p.reply.server[0])
        return at(p, same);
    server_arg a = ntp_server_parse(p.reply.server, port);
    if (a.kind == arg_kind::literal)
        return to(i, a.a, why);
    if (a.kind == arg_kind::bad) {
        *why = "key exchange: bad NTP server name";
        return prep::failed;
    }
    if (p.name
        && dns_match(p.reply.server, static_cast<size_t>(str_len(p.reply.server)), p.name,
            static_cast<size_t>(p.name_len)))
        return at(p, same);
    p.kx.res = {};
    p.kx.res.name = p.reply.server;
    p.kx.res.name_len = str_len(p.reply.server);
    p.kx.res.port = port;
    const char* call = nullptr;
    if (!resolve_start(&p.kx.res, 10, &call)) {
        p.kx.res.fd = -1;
        *why = sys_why(i, call, errno);
        return prep::failed;
    }
    p.ph = phase::resolve;
    return prep::wait;
}

prep finish(int i, const char** why)
{
    peer& p = peers[slot_of[i]];
    if (!tls_keys(i, p.c2s, p.s2c)) {
        *why = "key exchange: no keys exported";
        return prep::failed;
    }
    if (p.d == dates::server && !tls_window(i, &p.from, &p.until)) {
        *why = "key exchange: certificate dates unreadable";
        return prep::failed;
    }
    tls_end(i);
    close_fd(p);
    mono_now(&p.since);
    return target(i, why);
}

prep step(int i, addr* ntp, int* fd, short* events, const char** why)
{
    if (slot_of[i] < 0) {
        *why = why_text[i];
        return prep::failed;
    }
    peer& p = peers[slot_of[i]];
    *fd = p.fd;
    for (;;) {
        tls_io r = tls_io::done;
        switch (p.ph) {
        case phase::failed:
            *why = why_text[i];
            return prep::failed;
        case phase::connect: {
            int e = 0;
            socklen_t el = sizeof e;
            pollfd pf = {p.fd, POLLOUT, 0};
            if (poll(&pf, 1, 0) == 0) {
                *events = POLLOUT;
                return prep::wait;
            }
            if (getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &e, &el) == -1)
                e = errno;
            if (e) {
                *why = sys_why(i, "unable to connect", e);
                return prep::failed;
            }
            if (!tls_begin(i, p.fd, p.name, p.name_len, p.ke, p.d, why))
                return prep::failed;
            p.ph = phase::handshake;
            continue;
        }
        case phase::handshake:
            r = tls_handshake(i, why);
            if (r == tls_io::done) {
                ke_request(p.kx.buf);
                p.ph = phase::ask;
                continue;
            }
            break;
        case phase::ask:
            r = tls_send(i, p.kx.buf, ke_request_size, why);
            if (r == tls_io::done) {
                p.kx.have = 0;
                p.ph = phase::answer;
                continue;
            }
            break;
        case phase::answer: {
            size_t got = 0;
            r = tls_recv(i, p.kx.buf + p.kx.have, sizeof p.kx.buf - p.kx.have, &got, why);
            if (r != tls_io::done)
                break;
            p.kx.have += got;
            p.kx.total += static_cast<uint32_t>(got);
            size_t used = 0;
            // The stream's end before End of Message cuts the reply short;
            // a real reply is a kilobyte, and one that goes on is none.
            ke_status st = got == 0            ? ke_status::truncated
                : p.kx.total > ke_reply_max ? ke_status::too_long
                                            : ke_feed(&p.reply, p.kx.buf, p.kx.have, &used);
            if (st == ke_status::done) {
                prep f = finish(i, why);
                if (f != prep::ready)
                    return f;
                *ntp = p.ntp;
                return prep::ready;
            }
            if (st != ke_status::more) {
                char text[ke_text_max];
                ke_text(st, p.reply, text);
                *why = sys_why(i, text, 0);
                return prep::failed;
            }
            // Keep what is not yet a whole record.
            for (size_t k = used; k < p.kx.have; ++k)
                p.kx.buf[k - used] = p.kx.buf[k];
            p.kx.have -= used;
            continue;
        }
        case phase::resolve: {
            *fd = p.kx.res.fd;
            *events = POLLIN;
            const char* call = nullptr;
            bool failed = false;
            if (!resolve_read(&p.kx.res, &call, &failed)) {
                if (failed) {
                    *why = sys_why(i, call, errno);
                    return prep::failed;
                }
                return prep::wait;
            }
            addr list[resolve_max_addrs];
            const char* text = nullptr;
            if (resolve_result(p.kx.res, list, &text) <= 0) {
                *why = "key exchange: NTP server name not resolved";
                return prep::failed;
            }
            prep f = to(i, list[0], why);
            *ntp = p.ntp;
            return f;
        }
        case phase::ready:
            *ntp = p.ntp;
            return prep::ready;
        }
        if (r == tls_io::failed)
            return prep::failed;
        *fd = p.fd;
        *events = r == tls_io::want_write ? POLLOUT : POLLIN;
        return prep::wait;
    }
}

size_t seal(int i, int req, unsigned char* out, uint64_t nonce, const char** why)
{
    peer& p = peers[slot_of[i]];
    ke_reply& jar = p.reply;
    if (jar.cookies == 0) {
        *why = "no cookies left";
        return 0;
    }
    int64_t now = 0;
    mono_now(&now);
    unsigned char siv_nonce[siv_nonce_size];
    const char* call = nullptr;
    // The pool was seeded for the nonce a moment ago: no wait here.
    if (!random_get(p.uid[req], uid_size, now + 1000000000, &call)
        || !random_get(siv_nonce, sizeof siv_nonce, now + 1000000000, &call)) {
        *why = "unable to get random numbers";
        return 0;
    }
    // Each cookie goes out once: a second use would link our requests.
    int c = --jar.cookies;
    size_t ad_len = 0, tag_at = 0;
    size_t len = ef_request(out, datagram_max, nonce, p.uid[req], jar.cookie[c],
        jar.cookie_len[c], siv_nonce, &ad_len, &tag_at);
    if (len == 0 || !siv_seal(p.c2s, out, ad_len, siv_nonce, sizeof siv_nonce, out + tag_at)) {
        *why = "unable to seal a request";
        return 0;
    }
    return len;
}

void take_cookie(const unsigned char* cookie, size_t len, void* ctx)
{
    ke_reply& jar = *static_cast<ke_reply*>(ctx);
    if (jar.cookies == ke_cookies_max || len > ke_cookie_max)
        return;
    byte_copy(reinterpret_cast<char*>(jar.cookie[jar.cookies]), static_cast<int>(len),
        reinterpret_cast<const char*>(cookie));
    jar.cookie_len[jar.cookies++] = static_cast<uint16_t>(len);
}

unsigned char plain[datagram_max];

verdict open(int i, int req, const unsigned char* in, size_t len, const ntp_packet& pk)
{
    peer& p = peers[slot_of[i]];
    ef_reply r;
    ef_status st = ef_parse(in, len, &r);
    bool ours = r.uid
        && byte_equal(reinterpret_cast<const char*>(r.uid), uid_size,
            reinterpret_cast<const char*>(p.uid[req]));
    // A NAK cannot be authenticated: our identifier in it is what shows it
    // answers us.
    if (ours && st == ef_status::no_auth && pk.stratum == 0 && pk.refid == kiss_ntsn) {
        p.nak = true;
        return verdict::nts_nak;
    }
    if (st != ef_status::ok || !ours)
        return verdict::unauthenticated;
    if (!siv_open(p.s2c, in, r.ad_len, r.nonce, r.nonce_len, r.ct, r.ct_len, plain))
        return verdict::unauthenticated;
    // The fresh cookies it brings; fields that are not whole bring none.
    ef_cookies(plain, r.ct_len - siv_tag_size, take_cookie, &p.reply);
    return verdict::good;
}

verdict vouch(int i, int64_t server_sec)
{
    peer& p = peers[slot_of[i]];
    if (p.d == dates::server && (server_sec < p.from || server_sec > p.until))
        return verdict::outside_validity;
    return verdict::good;
}

bool fresh(int i)
{
    if (slot_of[i] < 0)
        return false;
    const peer& p = peers[slot_of[i]];
    int64_t now = 0;
    return p.ph == phase::ready && p.reply.cookies > 0 && !p.nak && mono_now(&now)
        && now - p.since < exchange_life_ns;
}

void end(int i)
{
    tls_end(i);
    if (slot_of[i] < 0)
        return;
    peer& p = peers[slot_of[i]];
    close_fd(p);
    // The resolver shares its room with the identifiers: only while it
    // runs is it one.
    if (p.ph == phase::resolve)
        resolve_stop(&p.kx.res);
    p.ph = phase::failed;
    slot_used[slot_of[i]] = false;
    slot_of[i] = -1;
}

// A CA certificate that did not load, said as a line of -n and -v.
void skipped(const char* file, int n, const char* why)
{
    if (!said)
        return;
    char num[fmt_max];
    substdio_puts(said, file);
    substdio_puts(said, ": skipped certificate ");
    substdio_put(said, num, fmt_ulong(num, static_cast<uint64_t>(n)));
    substdio_puts(said, ": ");
    substdio_puts(said, why);
    substdio_putsflush(said, "\n");
}

void setup(const options& o, const char* fatal)
{
    for (int& k : slot_of)
        k = -1;
    floor_sec = o.floor_set ? o.floor : floor_build;
    run_dates = clock_unset() ? dates::server : dates::clock;
    said = o.human ? subfdout : o.verbose ? subfderr : nullptr;
    const char* why = nullptr;
    const char* file = nullptr;
    if (!tls_setup(o.cafiles, o.ncafiles, run_dates, skipped, &why, &file))
        strerr_die(111, fatal, why, file, nullptr, nullptr, nullptr, nullptr);
}

}

const protocol nts_protocol = {setup, begin, step, seal, open, vouch, fresh, end};
