/* SPDX-License-Identifier: ISC */
/* The wolfSSL that varnel-nts links: a TLS 1.3 client for NTS key
 * establishment (ALPN, SNI, the TLS exporter, X.509 chains of RSA up to 4096
 * bits and ECDSA P-256/P-384 checked against a PEM file of trust anchors) and
 * AES-SIV for the NTP packets. Everything else is left out to keep the
 * static program small. build.sh compiles wolfSSL with this file and installs
 * it as wolfssl/options.h, which programs include before any other wolfSSL
 * header so that they see the same structures. */
#ifndef VARNEL_WOLFSSL_USER_SETTINGS_H
#define VARNEL_WOLFSSL_USER_SETTINGS_H

/* Platform: one thread, portable C (no MIPS assembly). Random bytes come
 * from the program: the kernel's pool once it is seeded, waited for no
 * longer than the run's deadline. wolfSSL's own seeding would call a
 * getrandom() that blocks without bound on a device booting short of
 * entropy, and its DRBG is code the kernel's pool makes needless. */
#define SINGLE_THREADED
/* The program does the socket's reading and writing, counted. */
#define WOLFSSL_USER_IO
#define WOLFSSL_NO_ASM
#define CUSTOM_RAND_GENERATE_BLOCK varnel_random_block
#ifdef __cplusplus
extern "C"
#endif
int varnel_random_block(unsigned char* output, unsigned int sz);
#define HAVE_GMTIME_R
#define NO_WRITEV
#define NO_ERROR_STRINGS
/* No directory of certificates: the program reads its CA files itself. */
#define NO_WOLFSSL_DIR

/* TLS 1.3 client only, without session resumption or client certificates. */
#define WOLFSSL_TLS13
#define WOLFSSL_NO_TLS12
#define NO_OLD_TLS
#define NO_WOLFSSL_SERVER
#define WOLFSSL_NO_CLIENT_AUTH
#define NO_SESSION_CACHE
#define NO_PSK
#define HAVE_TLS_EXTENSIONS
#define HAVE_SUPPORTED_CURVES
#define HAVE_SNI
#define HAVE_ALPN
#define HAVE_HKDF
/* wolfSSL_export_keying_material(); call wolfSSL_KeepArrays() before the
 * handshake, wolfSSL_FreeArrays() after the export. */
#define HAVE_KEYING_MATERIAL

/* Certificates. The verify callback sees every certificate of the chain,
 * valid or not, so that the program can read the validity dates and decide
 * about date errors while its clock is unknown, and it matches the server's
 * name or address itself, so IP addresses in subjectAltName are kept. A
 * chain may reach a trusted root through any path the server sent, such as
 * a cross-signed copy of a root. */
#define WOLFSSL_ASN_TEMPLATE
#define WOLFSSL_ALWAYS_VERIFY_CB
#define WOLFSSL_VERIFY_CB_ALL_CERTS
#define WOLFSSL_ALT_CERT_CHAINS
#define WOLFSSL_IP_ALT_NAME

/* Public keys: RSA to 4096 bits (signatures verified, nothing else) with
 * PSS, ECDSA and ECDHE on P-256 and P-384, one small generic big-number
 * library. SP_INT_BITS is set as without it the library settles on 3072
 * bits and refuses 4096-bit roots. ECC_SHAMIR checks an ECDSA signature in
 * one pass: a quarter of a key exchange's work. */
#define WOLFSSL_SP_MATH_ALL
#define WOLFSSL_SP_SMALL
#define SP_INT_BITS 4096
#define WC_RSA_PSS
#define WC_RSA_BLINDING
#define WOLFSSL_RSA_VERIFY_ONLY
#define WC_NO_RSA_OAEP
#define HAVE_ECC
#define ECC_USER_CURVES
#define HAVE_ECC384
#define ECC_TIMING_RESISTANT
#define ECC_SHAMIR
#define NO_DH
#define NO_DSA

/* Ciphers and hashes: AES-128-GCM for TLS, the suite every TLS 1.3 server
 * must offer, and AES-SIV-CMAC-256 for NTS, whose two keys are AES-128 keys
 * (CMAC and CTR). Nothing decrypts with the AES block function, so its
 * decryption half and large tables are left out. SHA-1 stays: for an anchor
 * without a subject key identifier wolfSSL computes one, and only the SHA-1
 * form matches the authority key identifier of the certificates it signed.
 * SHA-384 and SHA-512 stay for the signatures of certificates. */
#define HAVE_AESGCM
#define GCM_SMALL
#define HAVE_AESGCM_DECRYPT
#define NO_AES_DECRYPT
#define NO_AES_CBC
#define NO_AES_192
#define NO_AES_256
#define WOLFSSL_AES_SMALL_TABLES
#define WOLFSSL_AES_DIRECT
#define WOLFSSL_AES_COUNTER
#define WOLFSSL_CMAC
#define WOLFSSL_AES_SIV
#define WOLFSSL_SHA384
#define WOLFSSL_SHA512
#define USE_SLOW_SHA
#define USE_SLOW_SHA256
#define USE_SLOW_SHA512
#define NO_DES3
#define NO_RC4
#define NO_MD4
#define NO_MD5
#define NO_PWDBASED

#endif
