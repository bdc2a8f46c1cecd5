// SPDX-License-Identifier: ISC
#include "tls.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wolf.h"
#include <wolfssl/internal.h>

#include "byte.h"
#include "error.h"
#include "mono.h"
#include "name.h"
#include "nonce.h"
#include "run.h"
#include "siv.h"
#include "x509date.h"

#ifndef VARNEL_CA_BUNDLE
#define VARNEL_CA_BUNDLE "/etc/ssl/certs/ca-certificates.crt"
#endif

namespace {

constexpr char alpn[] = "ntske/1";
constexpr char label[] = "EXPORTER-network-time-security";

// What one step takes from the socket at most: however fast a server
// sends, the step ends and the other servers and the deadline get their
// turn. wolfSSL reads a record's header and then its body, no more.
constexpr int step_max = 4096;

struct session {
    WOLFSSL* ssl;
    int fd;
    dates d;
    bool window_ok;
    bool flooded; // more than tls_in_max bytes came
    int64_t from, until;
    int verify_error; // what the verify callback refused first, else 0
    int step_left;
    uint32_t in;
    const char* name; // the host name asked, or null for the address
    int name_len;
    addr a;
};

WOLFSSL_CTX* ctx;
session sessions[max_servers];
bool random_failed; // the pool was not seeded by the deadline, in this step

// The session of slot i, for one step: its share of bytes, and no reason
// but this step's own.
session& stepping(int i)
{
    session& s = sessions[i];
    s.step_left = step_max;
    random_failed = false;
    return s;
}

// A socket's answer as wolfSSL's I/O callbacks give it.
int io_result(ssize_t r, int again)
{
    if (r >= 0)
        return static_cast<int>(r);
    if (errno == error_again || errno == error_wouldblock)
        return again;
    if (errno == error_intr)
        return WOLFSSL_CBIO_ERR_ISR;
    if (errno == EPIPE)
        return WOLFSSL_CBIO_ERR_CONN_CLOSE;
    return errno == ECONNRESET ? WOLFSSL_CBIO_ERR_CONN_RST : WOLFSSL_CBIO_ERR_GENERAL;
}

// wolfSSL's reading from the socket, counted.
int take(WOLFSSL*, char* buf, int sz, void* c)
{
    session& s = *static_cast<session*>(c);
    int64_t now = 0;
    if (s.step_left == 0 || !mono_now(&now) || now >= run_deadline())
        return WOLFSSL_CBIO_ERR_WANT_READ;
    if (s.in == tls_in_max) {
        s.flooded = true;
        return WOLFSSL_CBIO_ERR_GENERAL;
    }
    uint32_t n = tls_in_max - s.in;
    if (n > static_cast<uint32_t>(s.step_left))
        n = static_cast<uint32_t>(s.step_left);
    if (sz >= 0 && n > static_cast<uint32_t>(sz))
        n = static_cast<uint32_t>(sz);
    ssize_t r = recv(s.fd, buf, n, 0);
    if (r == 0)
        return WOLFSSL_CBIO_ERR_CONN_CLOSE;
    if (r > 0) {
        s.step_left -= static_cast<int>(r);
        s.in += static_cast<uint32_t>(r);
    }
    return io_result(r, WOLFSSL_CBIO_ERR_WANT_READ);
}

int give(WOLFSSL*, char* buf, int sz, void* c)
{
    session& s = *static_cast<session*>(c);
    return io_result(send(s.fd, buf, static_cast<size_t>(sz), MSG_NOSIGNAL),
        WOLFSSL_CBIO_ERR_WANT_WRITE);
}

// A certificate of the chain as wolfSSL reads it, without a check: for
// its names and dates. wolfSSL has read the same bytes in the handshake.
struct decoded {
    DecodedCert c;
    bool ok;
    explicit decoded(const WOLFSSL_BUFFER_INFO& der)
    {
        wc_InitDecodedCert(&c, der.buffer, der.length, nullptr);
        ok = wc_ParseCert(&c, CERT_TYPE, NO_VERIFY, nullptr) == 0;
    }
    ~decoded() { wc_FreeDecodedCert(&c); }
};

// Whether the leaf is for what s asked: a name by its DNS names in
// subjectAltName, or its CN when it has no subjectAltName at all; an
// address by its IP addresses there, byte for byte, and by nothing else.
bool named(const session& s, const DecodedCert& c)
{
    bool ok = false;
    int n = s.a.family == AF_INET ? 4 : 16;
    for (DNS_entry* e = c.altNames; e && !ok; e = e->next) {
        ok = s.name ? e->type == ASN_DNS_TYPE
                && dns_match(e->name, static_cast<size_t>(e->len), s.name,
                    static_cast<size_t>(s.name_len))
                    : e->type == ASN_IP_TYPE && e->len == n
                && byte_equal(e->name, n, reinterpret_cast<const char*>(s.a.ip));
    }
    if (s.name && !c.extSubjAltNameSet && c.subjectCN) {
        ok = dns_match(c.subjectCN, static_cast<size_t>(c.subjectCNLen), s.name,
            static_cast<size_t>(s.name_len));
    }
    return ok;
}

// A notBefore or notAfter as wolfSSL leaves it: the element whole, its tag
// UTCTime or GeneralizedTime, its length in one byte.
bool date(const byte* p, int len, int64_t* sec)
{
    return p && len > 2 && asn1_time(p[0] == 0x18, p + 2, static_cast<size_t>(len - 2), sec);
}

// Every certificate of the chain passes through here. Under dates::server
// a date outside its window is no reason to refuse: the clock that said so
// is not set. Nothing else is forgiven (the chain's signatures, its CA, key
// sizes and usage, the name), and the window is kept for the time the
// server will tell.
int verify(int ok, WOLFSSL_X509_STORE_CTX* st)
{
    session* s = static_cast<session*>(st->userCtx);
    if (!s)
        return 0;
    int e = ok ? 0 : st->error;
    if (s->d == dates::server && (e == ASN_BEFORE_DATE_E || e == ASN_AFTER_DATE_E))
        e = 0;
    if (st->error_depth == 0) {
        // The leaf's names; under dates::server every certificate's dates.
        int last = s->d == dates::server || st->totalCerts == 0 ? st->totalCerts : 1;
        bool leaf_named = false;
        s->window_ok = last > 0;
        s->from = INT64_MIN;
        s->until = INT64_MAX;
        for (int k = 0; k < last; ++k) {
            decoded d(st->certs[k]);
            int64_t f, u;
            bool read = d.ok && date(d.c.beforeDate, d.c.beforeDateLen, &f)
                && date(d.c.afterDate, d.c.afterDateLen, &u);
            s->window_ok = s->window_ok && read;
            if (read && f > s->from)
                s->from = f;
            if (read && u < s->until)
                s->until = u;
            leaf_named = leaf_named || (k == 0 && d.ok && named(*s, d.c));
        }
        if (e == 0 && !leaf_named)
            e = DOMAIN_NAME_MISMATCH;
    }
    if (e && !s->verify_error)
        s->verify_error = e;
    return e == 0;
}

// Why a step failed, in words: the certificate's faults by name, for the
// user who has to mend them; the rest as a class.
const char* failure(session& s, int err)
{
    if (random_failed)
        return "key exchange: unable to get seeded random numbers";
    if (s.flooded)
        return "key exchange: reply too long";
    int v = s.verify_error;
    if (v == ASN_BEFORE_DATE_E)
        return "key exchange: certificate not yet valid";
    if (v == ASN_AFTER_DATE_E)
        return "key exchange: certificate expired";
    if (v == DOMAIN_NAME_MISMATCH)
        return "key exchange: certificate for another name";
    if (v == ASN_NO_SIGNER_E)
        return "key exchange: certificate from an unknown CA";
    if (v != 0)
        return "key exchange: certificate refused";
    if (err == SOCKET_PEER_CLOSED_E || err == SOCKET_ERROR_E)
        return "key exchange: connection closed";
    // A server without TLS 1.3 says so with a protocol_version alert.
    WOLFSSL_ALERT_HISTORY h = {};
    if (err == VERSION_ERROR || err == MATCH_SUITE_ERROR
        || (wolfSSL_get_alert_history(s.ssl, &h) == WOLFSSL_SUCCESS
            && h.last_rx.code == protocol_version))
        return "key exchange: no TLS 1.3";
    if (err == UNKNOWN_ALPN_PROTOCOL_NAME_E)
        return "key exchange: no ALPN ntske/1";
    return "key exchange: TLS failed";
}

tls_io io(session& s, int rc, const char** why)
{
    int err = wolfSSL_get_error(s.ssl, rc);
    if (err == WOLFSSL_ERROR_WANT_READ)
        return tls_io::want_read;
    if (err == WOLFSSL_ERROR_WANT_WRITE)
        return tls_io::want_write;
    *why = failure(s, err);
    return tls_io::failed;
}

// A CA file is read a piece at a time and handed to wolfSSL one PEM
// certificate at a time, so that one it refuses is skipped and said, in a
// file of its own as in a bundle. A root's PEM is below 3 KB.
constexpr char begin_mark[] = "-----BEGIN CERTIFICATE-----";
constexpr char end_mark[] = "-----END CERTIFICATE-----";
char pem[8192];

// Where mark first starts in pem[0 .. have), or have.
size_t find(size_t have, const char* mark, size_t len)
{
    for (size_t k = 0; k + len <= have; ++k) {
        if (byte_equal(pem + k, static_cast<int>(len), mark))
            return k;
    }
    return have;
}

// The certificates of file: how many it holds, or -1 when it cannot be read.
int load(const char* file, int verify, tls_skip skip)
{
    int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd == -1)
        return -1;
    size_t have = 0, gone = 0;
    bool eof = false;
    int n = 0;
    for (;;) {
        byte_copy(pem, static_cast<int>(have - gone), pem + gone);
        have -= gone;
        while (!eof && have < sizeof pem) {
            ssize_t r = read(fd, pem + have, sizeof pem - have);
            if (r == -1 && errno == error_intr)
                continue;
            if (r == -1) {
                close(fd);
                return -1;
            }
            eof = r == 0;
            have += static_cast<size_t>(r);
        }
        gone = find(have, begin_mark, sizeof begin_mark - 1);
        if (gone == have && eof)
            break;
        if (gone == have) {
            // Keep what may be the start of a mark.
            gone = have - (sizeof begin_mark - 2);
            continue;
        }
        if (gone > 0)
            continue;
        size_t end = find(have, end_mark, sizeof end_mark - 1);
        ++n;
        if (end == have) {
            // Cut short, or longer than any certificate: past its mark.
            skip(file, n, "refused");
            gone = sizeof begin_mark - 1;
            continue;
        }
        gone = end + sizeof end_mark - 1;
        // What wolfSSL's loading of a CA buffer does, and no more: its own
        // would bring in its reader of private keys, which a client with
        // no certificate of its own never uses.
        DerBuffer* der = nullptr;
        int rc = PemToDer(reinterpret_cast<unsigned char*>(pem), static_cast<long>(gone), CA_TYPE,
            &der, nullptr, nullptr, nullptr);
        if (rc == 0)
            rc = AddCA(wolfSSL_CTX_GetCertManager(ctx), &der, WOLFSSL_USER_CA, verify);
        else
            FreeDer(&der);
        if (rc != WOLFSSL_SUCCESS) {
            skip(file, n,
                rc == ASN_AFTER_DATE_E    ? "expired"
                    : rc == ASN_BEFORE_DATE_E ? "not yet valid"
                                              : "refused");
        }
    }
    close(fd);
    return n;
}

}

// wolfSSL's every random byte: keys, the client random, blinding.
extern "C" int varnel_random_block(unsigned char* output, unsigned int sz)
{
    const char* call = nullptr;
    if (random_get(output, sz, run_deadline(), &call))
        return 0;
    random_failed = true;
    return -1;
}

bool tls_setup(const char* const* cafiles, int n, dates d, tls_skip skip, const char** why,
    const char** file)
{
    *file = nullptr;
    *why = "unable to start TLS";
    if (wolfSSL_Init() != WOLFSSL_SUCCESS)
        return false;
    ctx = wolfSSL_CTX_new(wolfTLSv1_3_client_method());
    if (!ctx)
        return false;
    static const char* const bundle[] = {VARNEL_CA_BUNDLE};
    if (n == 0) {
        cafiles = bundle;
        n = 1;
    }
    // A root is loaded whatever the local clock says of its dates when
    // that clock is not set: at 1970 every root would seem not yet valid.
    for (int k = 0; k < n; ++k) {
        if (load(cafiles[k], d == dates::server ? VERIFY_SKIP_DATE : VERIFY, skip) <= 0) {
            *why = "unable to load CA certificates from ";
            *file = cafiles[k];
            return false;
        }
    }
    wolfSSL_CTX_set_verify(ctx, WOLFSSL_VERIFY_PEER, verify);
    return true;
}

bool tls_begin(int i, int fd, const char* name, int name_len, const addr& a, dates d,
    const char** why)
{
    session& s = sessions[i];
    s = {};
    s.fd = fd;
    s.d = d;
    s.name = name;
    s.name_len = name_len;
    s.a = a;
    s.ssl = wolfSSL_new(ctx);
    *why = "key exchange: unable to start TLS";
    if (!s.ssl)
        return false;
    wolfSSL_SetCertCbCtx(s.ssl, &s);
    wolfSSL_SSLSetIORecv(s.ssl, take);
    wolfSSL_SSLSetIOSend(s.ssl, give);
    wolfSSL_SetIOReadCtx(s.ssl, &s);
    wolfSSL_SetIOWriteCtx(s.ssl, &s);
    // The exporter needs the handshake's secrets kept.
    wolfSSL_KeepArrays(s.ssl);
    if (wolfSSL_UseALPN(s.ssl, const_cast<char*>(alpn), sizeof alpn - 1,
            WOLFSSL_ALPN_FAILED_ON_MISMATCH)
        != WOLFSSL_SUCCESS)
        return false;
    // A name goes out as SNI, which carries names only.
    return !name
        || wolfSSL_UseSNI(s.ssl, WOLFSSL_SNI_HOST_NAME, name, static_cast<word16>(name_len))
        == WOLFSSL_SUCCESS;
}

tls_io tls_handshake(int i, const char** why)
{
    session& s = stepping(i);
    int rc = wolfSSL_connect(s.ssl);
    if (rc != WOLFSSL_SUCCESS)
        return io(s, rc, why);
    // A server that ignored ALPN is not speaking NTS-KE.
    char* proto = nullptr;
    word16 len = 0;
    if (wolfSSL_ALPN_GetProtocol(s.ssl, &proto, &len) != WOLFSSL_SUCCESS
        || len != sizeof alpn - 1 || !proto || !byte_equal(proto, len, alpn)) {
        *why = "key exchange: no ALPN ntske/1";
        return tls_io::failed;
    }
    if (s.d == dates::server && !s.window_ok) {
        *why = "key exchange: certificate dates unreadable";
        return tls_io::failed;
    }
    return tls_io::done;
}

tls_io tls_send(int i, const unsigned char* p, size_t n, const char** why)
{
    session& s = stepping(i);
    int rc = wolfSSL_write(s.ssl, p, static_cast<int>(n));
    if (rc == static_cast<int>(n))
        return tls_io::done;
    return io(s, rc, why);
}

tls_io tls_recv(int i, unsigned char* p, size_t cap, size_t* got, const char** why)
{
    session& s = stepping(i);
    *got = 0;
    int rc = wolfSSL_read(s.ssl, p, static_cast<int>(cap));
    if (rc > 0) {
        *got = static_cast<size_t>(rc);
        return tls_io::done;
    }
    int err = wolfSSL_get_error(s.ssl, rc);
    if (err == WOLFSSL_ERROR_ZERO_RETURN || err == SOCKET_PEER_CLOSED_E)
        return tls_io::done;
    return io(s, rc, why);
}

bool tls_keys(int i, unsigned char* c2s, unsigned char* s2c)
{
    session& s = sessions[i];
    // The context: NTPv4 (0), AES-SIV-CMAC-256 (15), then 0 for the key
    // from client to server and 1 for the other.
    unsigned char context[5] = {0, 0, 0, 15, 0};
    if (wolfSSL_export_keying_material(s.ssl, c2s, siv_key_size, label, sizeof label - 1,
            context, sizeof context, 1)
        != WOLFSSL_SUCCESS)
        return false;
    context[4] = 1;
    return wolfSSL_export_keying_material(s.ssl, s2c, siv_key_size, label, sizeof label - 1,
               context, sizeof context, 1)
        == WOLFSSL_SUCCESS;
}

bool tls_window(int i, int64_t* from, int64_t* until)
{
    session& s = sessions[i];
    *from = s.from;
    *until = s.until;
    return s.window_ok;
}

void tls_end(int i)
{
    session& s = sessions[i];
    if (s.ssl)
        wolfSSL_free(s.ssl);
    s = {};
}
