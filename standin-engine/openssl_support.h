// Small OpenSSL helpers the root CA and the per-host leaf certificates share: owning pointers, PEM text
// out of a memory BIO, and adding one X.509 v3 extension.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

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

// Adds one extension to cert as issuer would state it (issuer == cert for a self-signed certificate).
bool addExtension(X509 *cert, X509 *issuer, int nid, const std::string &value);

} // namespace standin
