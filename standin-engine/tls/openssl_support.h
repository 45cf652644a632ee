// Small OpenSSL helpers the root CA and the per-host leaf certificates share: owning pointers, PEM text
// out of a memory BIO, a fresh key with its unsigned certificate, and adding one X.509 v3 extension.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace standin {

template <auto Free>
struct OpenSSLDeleter {
    template <class T>
    void operator()(T *p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, OpenSSLDeleter<BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OpenSSLDeleter<X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSSLDeleter<EVP_PKEY_free>>;
using BnPtr = std::unique_ptr<BIGNUM, OpenSSLDeleter<BN_free>>;

// Everything written into a memory BIO so far.
std::string bioText(BIO *bio);

// A fresh P-256 key and an unsigned v3 certificate for it: random 127-bit serial, valid from an hour
// back (for clocks that lag behind ours) until `validitySeconds` from now, no names or extensions yet.
struct NewCertificate {
    KeyPtr key;
    X509Ptr cert;
};
std::optional<NewCertificate> newCertificate(long validitySeconds, std::string &error);
// Gives the certificate a fresh serial and that validity.
void setSerialAndValidity(X509 *cert, long validitySeconds);

// The certificate and the key as PEM text, in that order.
std::pair<std::string, std::string> pemTexts(X509 *cert, EVP_PKEY *key);

// Adds one extension to cert as issuer would state it (issuer == cert for a self-signed certificate).
bool addExtension(X509 *cert, X509 *issuer, int nid, const std::string &value);

} // namespace standin
