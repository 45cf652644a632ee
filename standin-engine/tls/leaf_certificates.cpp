// Issuing and caching per-host leaf certificates with OpenSSL.
#include "tls/leaf_certificates.h"

#include "core/data_file.h"
#include "tls/openssl_support.h"
#include "tls/root_ca.h"

#include <boost/asio/ip/address.hpp>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>
#include <utility>

namespace standin {

namespace {

bool isIpAddress(const std::string &host)
{
    boost::system::error_code ec;
    boost::asio::ip::make_address(host, ec);
    return !ec;
}

// Inode, size and modification time of a file: changes whenever the CA is written anew.
std::string fileIdentity(const std::filesystem::path &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":"
           + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

} // namespace

bool isCertifiableHost(const std::string &host)
{
    if (host.empty() || host.size() > 253)
        return false;
    if (isIpAddress(host))
        return true;
    size_t label = 0;
    for (const char c : host) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
                             || c == '_';
        if (!allowed || ++label > 63)
            return false;
    }
    return label > 0;
}

std::optional<LeafMaterial> issueLeaf(const std::string &caCertPEM, const std::string &caKeyPEM,
                                      const std::string &host, std::chrono::hours validity, std::string &error)
{
    if (!isCertifiableHost(host)) {
        error = "\"" + host + "\" is not a host name or address";
        return std::nullopt;
    }
    BioPtr certIn(BIO_new_mem_buf(caCertPEM.data(), static_cast<int>(caCertPEM.size())));
    BioPtr keyIn(BIO_new_mem_buf(caKeyPEM.data(), static_cast<int>(caKeyPEM.size())));
    X509Ptr caCert(PEM_read_bio_X509(certIn.get(), nullptr, nullptr, nullptr));
    KeyPtr caKey(PEM_read_bio_PrivateKey(keyIn.get(), nullptr, nullptr, nullptr));
    if (!caCert || !caKey || X509_check_private_key(caCert.get(), caKey.get()) != 1) {
        error = "the root CA's certificate and key can't be read or don't belong together";
        return std::nullopt;
    }

    auto made = newCertificate(static_cast<long>(validity.count()) * 3600, error);
    if (!made)
        return std::nullopt;
    const X509Ptr &cert = made->cert;
    X509_NAME *name = X509_get_subject_name(cert.get());
    const std::string commonName = host.size() <= 64 ? host : host.substr(0, 64);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(caCert.get()));

    const std::string altName = (isIpAddress(host) ? "IP:" : "DNS:") + host;
    if (!addExtension(cert.get(), caCert.get(), NID_basic_constraints, "critical,CA:FALSE")
        || !addExtension(cert.get(), caCert.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment")
        || !addExtension(cert.get(), caCert.get(), NID_ext_key_usage, "serverAuth")
        || !addExtension(cert.get(), caCert.get(), NID_subject_alt_name, altName)
        || !addExtension(cert.get(), caCert.get(), NID_subject_key_identifier, "hash")
        || !addExtension(cert.get(), caCert.get(), NID_authority_key_identifier, "keyid:always")
        || X509_sign(cert.get(), caKey.get(), EVP_sha256()) == 0) {
        error = "could not sign a certificate for " + host;
        return std::nullopt;
    }
    auto [certPEM, keyPEM] = pemTexts(cert.get(), made->key.get());
    return LeafMaterial {std::move(certPEM), std::move(keyPEM)};
}

LeafCertificates::LeafCertificates(const RootCA &rootCA)
    : m_rootCA(rootCA)
{
}

bool LeafCertificates::refreshAuthority(std::string &error)
{
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t generation = m_rootCA.generation();
    if (!m_identity.empty() && generation == m_generation && now - m_lookedAt < kLookAgainAfter) {
        if (m_caCertPEM.empty())
            error = "no root CA";
        return !m_caCertPEM.empty();
    }
    m_generation = generation;
    m_lookedAt = now;
    // The key lies beside the certificate under the same name.
    const auto certPath = m_rootCA.certificatePath();
    const auto keyPath = std::filesystem::path(certPath).replace_extension(".key");
    const std::string identity = fileIdentity(certPath) + "|" + fileIdentity(keyPath);
    if (identity == m_identity) {
        if (m_caCertPEM.empty())
            error = "no root CA";
        return !m_caCertPEM.empty();
    }
    m_cache.clear();
    m_caCertPEM.clear();
    m_caKeyPEM.clear();
    m_identity = identity;
    const auto cert = readFileIfPresent(certPath);
    const auto key = readFileIfPresent(keyPath);
    if (!cert || !key) {
        error = "no root CA";
        return false;
    }
    m_caCertPEM = *cert;
    m_caKeyPEM = *key;
    return true;
}

std::shared_ptr<boost::asio::ssl::context> LeafCertificates::contextFor(const std::string &host, std::string &error)
{
    std::lock_guard lock(m_mutex);
    if (!refreshAuthority(error))
        return nullptr;
    const auto now = std::chrono::steady_clock::now();
    if (const auto found = m_cache.find(host); found != m_cache.end() && now - found->second.made < kRenewAfter)
        return found->second.context;

    const auto leaf = issueLeaf(m_caCertPEM, m_caKeyPEM, host, kValidity, error);
    if (!leaf) {
        // A CA caught between its key and its certificate being written is read again next time.
        m_identity.clear();
        return nullptr;
    }
    namespace ssl = boost::asio::ssl;
    auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
    context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3
                         | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    boost::system::error_code ec;
    context->use_certificate_chain(boost::asio::buffer(leaf->certPEM), ec);
    if (!ec)
        context->use_private_key(boost::asio::buffer(leaf->keyPEM), ssl::context::pem, ec);
    if (ec) {
        error = "could not use the certificate for " + host + ": " + ec.message();
        return nullptr;
    }
    static const unsigned char kSessionContext[] = "kestrion-proxy";
    SSL_CTX *native = context->native_handle();
    SSL_CTX_set_session_id_context(native, kSessionContext, sizeof kSessionContext - 1);
    // Clients resume with tickets, which hold their session themselves: a server-side cache would
    // only take a lock and memory for every new connection. One ticket is enough to resume with.
    SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_SERVER | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_set_num_tickets(native, 1);
    if (m_cache.size() >= kMaxCached)
        m_cache.clear();
    m_cache[host] = Cached {context, now};
    return context;
}

} // namespace standin
