// SPDX-License-Identifier: ISC
#include "tls.h"

#include "wolf.h"

#include "byte.h"
#include "nonce.h"
#include "run.h"
#include "siv.h"
#include "str.h"
#include "x509date.h"

#ifndef VARNEL_CA_BUNDLE
#define VARNEL_CA_BUNDLE "/etc/ssl/certs/ca-certificates.crt"
#endif

namespace {

constexpr char alpn[] = "ntske/1";
constexpr char label[] = "EXPORTER-network-time-security";

struct session {
    WOLFSSL* ssl;
    dates d;
    bool window_ok;
    int64_t from, until;
    int verify_error; // what the verify callback refused, else 0
};

WOLFSSL_CTX* ctx;
session sessions[max_servers];
bool random_failed; // the pool was not seeded by the deadline

// Every certificate of the chain passes through here. Under dates::server
// a date outside its window is no reason to refuse: the clock that said so
// is not set. The chain's signatures, its CA and the name are still
// checked, and the window is kept for the time the server will tell.
int verify(int ok, WOLFSSL_X509_STORE_CTX* st)
{
    session* s = static_cast<session*>(st->userCtx);
    if (!s)
        return 0;
    if (s->d == dates::server && st->error_depth == 0) {
        s->window_ok = st->totalCerts > 0;
        s->from = INT64_MIN;
        s->until = INT64_MAX;
        for (int k = 0; k < st->totalCerts && s->window_ok; ++k) {
            int64_t f, u;
            s->window_ok = cert_validity(st->certs[k].buffer, st->certs[k].length, &f, &u);
            if (f > s->from)
                s->from = f;
            if (u < s->until)
                s->until = u;
        }
    }
    if (ok)
        return 1;
    if (s->d == dates::server
        && (st->error == ASN_BEFORE_DATE_E || st->error == ASN_AFTER_DATE_E))
        return 1;
    s->verify_error = st->error;
    return 0;
}

// Why a step failed, in words: the certificate's faults by name, for the
// user who has to mend them; the rest as a class.
const char* failure(session& s, int err)
{
    if (random_failed)
        return "key exchange: unable to get seeded random numbers";
    int v = s.verify_error;
    if (v == ASN_BEFORE_DATE_E)
        return "key exchange: certificate not yet valid";
    if (v == ASN_AFTER_DATE_E)
        return "key exchange: certificate expired";
    if (v == DOMAIN_NAME_MISMATCH || v == IPADDR_MISMATCH)
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

bool tls_setup(const char* const* cafiles, int n, dates d, const char** why, const char** file)
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
    unsigned flags = WOLFSSL_LOAD_VERIFY_DEFAULT_FLAGS;
    if (d == dates::server)
        flags |= WOLFSSL_LOAD_FLAG_DATE_ERR_OKAY;
    for (int k = 0; k < n; ++k) {
        if (wolfSSL_CTX_load_verify_locations_ex(ctx, cafiles[k], nullptr, flags)
            != WOLFSSL_SUCCESS) {
            *why = "unable to load CA certificates from ";
            *file = cafiles[k];
            return false;
        }
    }
    wolfSSL_CTX_set_verify(ctx, WOLFSSL_VERIFY_PEER, verify);
    return true;
}

bool tls_begin(int i, int fd, const char* name, const char* ip, dates d, const char** why)
{
    session& s = sessions[i];
    s = {};
    s.d = d;
    s.ssl = wolfSSL_new(ctx);
    *why = "key exchange: unable to start TLS";
    if (!s.ssl)
        return false;
    wolfSSL_SetCertCbCtx(s.ssl, &s);
    if (wolfSSL_set_fd(s.ssl, fd) != WOLFSSL_SUCCESS)
        return false;
    // The exporter needs the handshake's secrets kept.
    wolfSSL_KeepArrays(s.ssl);
    if (wolfSSL_UseALPN(s.ssl, const_cast<char*>(alpn), sizeof alpn - 1,
            WOLFSSL_ALPN_FAILED_ON_MISMATCH)
        != WOLFSSL_SUCCESS)
        return false;
    // A name goes out as SNI, which carries names only; an address is
    // matched against the certificate's IP addresses.
    const char* match = name ? name : ip;
    if (name
        && wolfSSL_UseSNI(s.ssl, WOLFSSL_SNI_HOST_NAME, name, static_cast<word16>(str_len(name)))
            != WOLFSSL_SUCCESS)
        return false;
    if (wolfSSL_check_domain_name(s.ssl, match) != WOLFSSL_SUCCESS)
        return false;
    return true;
}

tls_io tls_handshake(int i, const char** why)
{
    session& s = sessions[i];
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
    session& s = sessions[i];
    int rc = wolfSSL_write(s.ssl, p, static_cast<int>(n));
    if (rc == static_cast<int>(n))
        return tls_io::done;
    return io(s, rc, why);
}

tls_io tls_recv(int i, unsigned char* p, size_t cap, size_t* got, const char** why)
{
    session& s = sessions[i];
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
