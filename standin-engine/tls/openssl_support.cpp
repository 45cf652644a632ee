// Small OpenSSL helpers shared by the root CA and the leaf certificates.
#include "tls/openssl_support.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace standin {

std::string bioText(BIO *bio)
{
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

std::optional<NewCertificate> newCertificate(long validitySeconds, std::string &error)
{
    NewCertificate made {KeyPtr(EVP_EC_gen("P-256")), X509Ptr(X509_new())};
    if (!made.key || !made.cert) {
        error = "could not create a key";
        return std::nullopt;
    }
    X509 *cert = made.cert.get();
    X509_set_version(cert, 2);
    setSerialAndValidity(cert, validitySeconds);
    X509_set_pubkey(cert, made.key.get());
    return made;
}

void setSerialAndValidity(X509 *cert, long validitySeconds)
{
    BnPtr serial(BN_new());
    BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert));
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), validitySeconds);
}

std::pair<std::string, std::string> pemTexts(X509 *cert, EVP_PKEY *key)
{
    BioPtr certOut(BIO_new(BIO_s_mem()));
    BioPtr keyOut(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(certOut.get(), cert);
    PEM_write_bio_PrivateKey(keyOut.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    return {bioText(certOut.get()), bioText(keyOut.get())};
}

bool addExtension(X509 *cert, X509 *issuer, int nid, const std::string &value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!extension)
        return false;
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

} // namespace standin
