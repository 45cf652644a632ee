// Root CA generation and description with OpenSSL.
#include "tls/root_ca.h"

#include "core/data_file.h"
#include "tls/openssl_support.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace standin {

std::optional<CertificateFacts> describeCertificate(const std::string &pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert)
        return std::nullopt;

    CertificateFacts facts;
    facts.certPEM = pem;

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (X509_digest(cert.get(), EVP_sha256(), digest, &digestLength) != 1)
        return std::nullopt;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < digestLength; ++i) {
        if (i)
            facts.fingerprint.push_back(':');
        facts.fingerprint.push_back(kHex[digest[i] >> 4]);
        facts.fingerprint.push_back(kHex[digest[i] & 0xF]);
    }

    std::tm expiry {};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(cert.get()), &expiry) == 1) {
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &expiry);
        facts.notAfter = text;
    }

    BioPtr name(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(name.get(), X509_get_subject_name(cert.get()), 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    facts.subject = bioText(name.get());
    return facts;
}

std::optional<std::pair<std::string, std::string>> makeSelfSignedCA(const std::string &commonName,
                                                                    std::string &error)
{
    auto made = newCertificate(10L * 365 * 24 * 3600, error);
    if (!made)
        return std::nullopt;
    const X509Ptr &cert = made->cert;
    const KeyPtr &key = made->key;

    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>("Kestrion"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);

    if (!addExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE")
        || !addExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign")
        || !addExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash")
        || X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        error = "could not sign the certificate";
        return std::nullopt;
    }

    return pemTexts(cert.get(), key.get());
}

RootCA::RootCA(std::filesystem::path directory)
    : m_directory(std::move(directory))
{
    recover();
}

std::filesystem::path RootCA::certificatePath() const
{
    return m_directory / "kestrion-root-ca.pem";
}

std::filesystem::path RootCA::keyPath() const
{
    return m_directory / "kestrion-root-ca.key";
}

std::filesystem::path RootCA::nextKeyPath() const
{
    return m_directory / "kestrion-root-ca.next.key";
}

std::filesystem::path RootCA::nextCertificatePath() const
{
    return m_directory / "kestrion-root-ca.next.pem";
}

std::filesystem::path RootCA::previousKeyPath() const
{
    return m_directory / "kestrion-root-ca.previous.key";
}

// The new key is written (and installed) before the new certificate, so a next certificate left without
// a next key means the key is already in place and only the certificate is missing; every other
// leftover is a pair that was never installed, and the old one stands.
void RootCA::recover()
{
    std::error_code ec;
    const bool nextKey = std::filesystem::exists(std::filesystem::symlink_status(nextKeyPath(), ec));
    const bool nextCertificate = std::filesystem::exists(std::filesystem::symlink_status(nextCertificatePath(), ec));
    if (nextCertificate && !nextKey)
        std::filesystem::rename(nextCertificatePath(), certificatePath(), ec);
    std::filesystem::remove(nextKeyPath(), ec);
    std::filesystem::remove(nextCertificatePath(), ec);
    std::filesystem::remove(previousKeyPath(), ec);
}

std::optional<CertificateFacts> RootCA::readLocked(std::string &problem) const
{
    const auto pem = readFileIfPresent(certificatePath());
    const auto key = readFileIfPresent(keyPath());
    if (!pem)
        return std::nullopt; // none generated yet
    auto facts = describeCertificate(*pem);
    if (!facts) {
        problem = "its certificate " + certificatePath().string() + " can't be read";
        return std::nullopt;
    }
    BioPtr keyIn(key ? BIO_new_mem_buf(key->data(), static_cast<int>(key->size())) : nullptr);
    KeyPtr privateKey(keyIn ? PEM_read_bio_PrivateKey(keyIn.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!privateKey) {
        problem = "its key " + keyPath().string() + " can't be read";
        return std::nullopt;
    }
    BioPtr certIn(BIO_new_mem_buf(pem->data(), static_cast<int>(pem->size())));
    X509Ptr cert(PEM_read_bio_X509(certIn.get(), nullptr, nullptr, nullptr));
    if (!cert || X509_check_private_key(cert.get(), privateKey.get()) != 1) {
        problem = "its key " + keyPath().string() + " does not belong to its certificate";
        return std::nullopt;
    }
    return facts;
}

std::optional<CertificateFacts> RootCA::current() const
{
    std::lock_guard lock(m_mutex);
    std::string problem;
    return readLocked(problem);
}

std::optional<std::string> RootCA::problem() const
{
    std::lock_guard lock(m_mutex);
    std::string problem;
    readLocked(problem);
    if (problem.empty())
        return std::nullopt;
    return problem;
}

std::optional<CertificateFacts> RootCA::generate(std::string &error, std::error_code *failure)
{
    auto made = makeSelfSignedCA("Kestrion Local Root CA", error);
    if (!made)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    // Counted however it ends: even a replacement undone has touched the files.
    struct Count {
        std::atomic<std::uint64_t> &generation;
        ~Count() { ++generation; }
    } count {m_generation};
    std::error_code ec;
    std::filesystem::create_directories(m_directory, ec);
    ::chmod(m_directory.c_str(), 0700);
    const auto discard = [this] {
        std::error_code ignored;
        std::filesystem::remove(nextKeyPath(), ignored);
        std::filesystem::remove(nextCertificatePath(), ignored);
        std::filesystem::remove(previousKeyPath(), ignored);
    };
    // Both whole on the disk (readable by the user alone from their creation) before either replaces
    // anything: a disk that fills up on the way leaves the old pair as it was.
    const std::error_code written = saveFileReplacing(nextKeyPath(), made->second);
    const std::error_code failed = written ? written : saveFileReplacing(nextCertificatePath(), made->first);
    if (failed) {
        discard();
        if (failure)
            *failure = failed;
        error = "could not write the new CA under " + m_directory.string() + ": " + failed.message()
                + "; the current CA stays in use";
        return std::nullopt;
    }
    // The old key stays reachable until the certificate is in place, so a failed last step can be undone.
    const bool hadKey = std::filesystem::exists(keyPath(), ec);
    if (hadKey && ::link(keyPath().c_str(), previousKeyPath().c_str()) != 0) {
        discard();
        error = "could not keep the current CA key aside while replacing it: " + std::string(std::strerror(errno))
                + "; the current CA stays in use";
        return std::nullopt;
    }
    std::filesystem::rename(nextKeyPath(), keyPath(), ec);
    if (!ec) {
        std::filesystem::rename(nextCertificatePath(), certificatePath(), ec);
        if (ec && hadKey) {
            std::error_code ignored;
            std::filesystem::rename(previousKeyPath(), keyPath(), ignored);
        }
    }
    if (ec) {
        discard();
        if (failure)
            *failure = ec;
        error = "could not put the new CA in place under " + m_directory.string() + ": " + ec.message()
                + "; the current CA stays in use";
        return std::nullopt;
    }
    std::filesystem::remove(previousKeyPath(), ec);
    return describeCertificate(made->first);
}

} // namespace standin
