// Issuing and caching per-host leaf certificates with OpenSSL.
#include "tls/leaf_certificates.h"

#include "core/data_file.h"
#include "tls/openssl_support.h"
#include "tls/root_ca.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <string_view>
#include <sys/stat.h>
#include <utility>

namespace standin {

namespace asio = boost::asio;
namespace ssl = boost::asio::ssl;

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

namespace {

// What every leaf of a CA has in common: its key, its issuer and the extensions that don't name the
// host. Setting the key is most of the work of making a certificate, so it is done once.
X509Ptr leafTemplate(X509 *caCert, EVP_PKEY *leafKey)
{
    X509Ptr cert(X509_new());
    if (cert)
        setSerialAndValidity(cert.get(), 0);
    if (!cert || X509_set_version(cert.get(), 2) != 1 || X509_set_pubkey(cert.get(), leafKey) != 1
        || X509_set_issuer_name(cert.get(), X509_get_subject_name(caCert)) != 1
        || !addExtension(cert.get(), caCert, NID_basic_constraints, "critical,CA:FALSE")
        || !addExtension(cert.get(), caCert, NID_key_usage, "critical,digitalSignature,keyEncipherment")
        || !addExtension(cert.get(), caCert, NID_ext_key_usage, "serverAuth")
        || !addExtension(cert.get(), caCert, NID_subject_key_identifier, "hash")
        || !addExtension(cert.get(), caCert, NID_authority_key_identifier, "keyid:always")
        // Signed only so that it can be copied: a certificate without a signature has no encoding.
        || X509_sign(cert.get(), leafKey, EVP_sha256()) == 0)
        return nullptr;
    return cert;
}

// A certificate for `host` made from the template, signed by the CA.
X509Ptr signLeaf(X509 *leafTemplate, X509 *caCert, EVP_PKEY *caKey, const std::string &host,
                 std::chrono::hours validity, std::string &error)
{
    X509Ptr cert(X509_dup(leafTemplate));
    if (!cert) {
        error = "could not sign a certificate for " + host;
        return nullptr;
    }
    setSerialAndValidity(cert.get(), static_cast<long>(validity.count()) * 3600);
    X509_NAME *name = X509_get_subject_name(cert.get());
    const std::string commonName = host.size() <= 64 ? host : host.substr(0, 64);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(commonName.c_str()),
                               -1, -1, 0);
    const std::string altName = (isIpAddress(host) ? "IP:" : "DNS:") + host;
    if (!addExtension(cert.get(), caCert, NID_subject_alt_name, altName) || X509_sign(cert.get(), caKey, EVP_sha256()) == 0) {
        error = "could not sign a certificate for " + host;
        return nullptr;
    }
    return cert;
}

// Inside TLS the engine reads HTTP/1.1, and says so to a client that asks which protocol it speaks
// (curl --http2 offers h2 first); a client that can't speak it never gets here: it is relayed untouched.
int selectHttp1(SSL *, const unsigned char **selected, unsigned char *selectedLength, const unsigned char *offered,
                unsigned offeredLength, void *)
{
    static constexpr std::string_view kHttp1 = "http/1.1";
    for (unsigned at = 0; at < offeredLength;) {
        const unsigned length = offered[at];
        const std::string_view name(reinterpret_cast<const char *>(offered + at + 1),
                                    std::min<unsigned>(length, offeredLength - at - 1));
        if (name == kHttp1) {
            *selected = offered + at + 1;
            *selectedLength = static_cast<unsigned char>(length);
            return SSL_TLSEXT_ERR_OK;
        }
        at += 1 + length;
    }
    return SSL_TLSEXT_ERR_NOACK;
}

struct CaPair {
    X509Ptr cert;
    KeyPtr key;
};

std::optional<CaPair> readCa(const std::string &caCertPEM, const std::string &caKeyPEM, std::string &error)
{
    BioPtr certIn(BIO_new_mem_buf(caCertPEM.data(), static_cast<int>(caCertPEM.size())));
    BioPtr keyIn(BIO_new_mem_buf(caKeyPEM.data(), static_cast<int>(caKeyPEM.size())));
    CaPair ca {X509Ptr(PEM_read_bio_X509(certIn.get(), nullptr, nullptr, nullptr)),
               KeyPtr(PEM_read_bio_PrivateKey(keyIn.get(), nullptr, nullptr, nullptr))};
    if (!ca.cert || !ca.key || X509_check_private_key(ca.cert.get(), ca.key.get()) != 1) {
        error = "the root CA's certificate and key can't be read or don't belong together";
        return std::nullopt;
    }
    return ca;
}

} // namespace

std::optional<LeafMaterial> issueLeaf(const std::string &caCertPEM, const std::string &caKeyPEM,
                                      const std::string &host, std::chrono::hours validity, std::string &error)
{
    if (!isCertifiableHost(host)) {
        error = "\"" + host + "\" is not a host name or address";
        return std::nullopt;
    }
    const auto ca = readCa(caCertPEM, caKeyPEM, error);
    if (!ca)
        return std::nullopt;
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) {
        error = "could not create a key";
        return std::nullopt;
    }
    const X509Ptr shape = leafTemplate(ca->cert.get(), key.get());
    const X509Ptr cert = shape ? signLeaf(shape.get(), ca->cert.get(), ca->key.get(), host, validity, error) : nullptr;
    if (!cert) {
        error = "could not sign a certificate for " + host;
        return std::nullopt;
    }
    auto [certPEM, keyPEM] = pemTexts(cert.get(), key.get());
    return LeafMaterial {std::move(certPEM), std::move(keyPEM)};
}

// A CA as its leaves need it: read once, with the key they share and the TLS context that holds it.
struct LeafCertificates::Authority {
    CaPair ca;
    KeyPtr leafKey;
    X509Ptr leafTemplate;
    std::shared_ptr<ssl::context> context;
};

std::shared_ptr<const LeafCertificates::Authority> LeafCertificates::makeAuthority(const std::string &caCertPEM,
                                                                                   const std::string &caKeyPEM,
                                                                                   std::string &error)
{
    auto ca = readCa(caCertPEM, caKeyPEM, error);
    if (!ca)
        return nullptr;
    auto authority = std::make_shared<LeafCertificates::Authority>();
    authority->ca = std::move(*ca);
    authority->leafKey.reset(EVP_EC_gen("P-256"));
    if (authority->leafKey)
        authority->leafTemplate = leafTemplate(authority->ca.cert.get(), authority->leafKey.get());
    if (!authority->leafTemplate) {
        error = "could not create a key";
        return nullptr;
    }
    auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
    context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3
                         | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    SSL_CTX *native = context->native_handle();
    if (SSL_CTX_use_PrivateKey(native, authority->leafKey.get()) != 1) {
        error = "could not use the leaves' key";
        return nullptr;
    }
    static const unsigned char kSessionContext[] = "kestrion-proxy";
    SSL_CTX_set_session_id_context(native, kSessionContext, sizeof kSessionContext - 1);
    // Clients resume with tickets, which hold their session themselves: a server-side cache would
    // only take a lock and memory for every new connection. One ticket is enough to resume with.
    SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_SERVER | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_set_num_tickets(native, 1);
    SSL_CTX_set_alpn_select_cb(native, selectHttp1, nullptr);
    authority->context = std::move(context);
    return authority;
}

bool LeafCertificates::Leaf::presentOn(SSL *ssl) const
{
    return SSL_use_certificate(ssl, certificate.get()) == 1;
}

LeafCertificates::LeafCertificates(const RootCA &rootCA)
    : m_rootCA(rootCA)
{
}

LeafCertificates::~LeafCertificates()
{
    stop();
}

void LeafCertificates::stop()
{
    {
        std::unique_lock lock(m_mutex);
        m_stopped = true;
        m_arrived.wait(lock, [this] { return m_onTheirWay == 0; });
    }
    m_maker.join();
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
    m_authority.reset();
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

std::optional<LeafCertificates::Leaf> LeafCertificates::cachedLocked(const std::string &host, std::string &error,
                                                                     bool &make)
{
    make = false;
    if (!refreshAuthority(error))
        return std::nullopt;
    if (!isCertifiableHost(host)) {
        error = "\"" + host + "\" is not a host name or address";
        return std::nullopt;
    }
    const auto found = m_cache.find(host);
    if (m_authority && found != m_cache.end()
        && std::chrono::steady_clock::now() - found->second.made < kRenewAfter)
        return Leaf {m_authority->context, found->second.certificate};
    make = true;
    return std::nullopt;
}

std::optional<LeafCertificates::Leaf> LeafCertificates::make(const std::string &host, std::string &error)
{
    std::unique_lock lock(m_mutex);
    bool needed = false;
    auto leaf = cachedLocked(host, error, needed); // made while this one waited, perhaps
    if (!needed)
        return leaf;
    if (!m_authority) {
        // Once for each CA: a moment for tunnels that look into the cache meanwhile.
        m_authority = makeAuthority(m_caCertPEM, m_caKeyPEM, error);
        if (!m_authority) {
            // A CA caught between its key and its certificate being written is read again next time.
            m_identity.clear();
            return std::nullopt;
        }
    }
    const std::shared_ptr<const Authority> authority = m_authority;
    lock.unlock();
    std::shared_ptr<X509> certificate(signLeaf(authority->leafTemplate.get(), authority->ca.cert.get(),
                                               authority->ca.key.get(), host, kValidity, error)
                                          .release(),
                                      X509_free);
    if (!certificate)
        return std::nullopt;
    lock.lock();
    if (m_authority == authority) {
        if (m_cache.size() >= kMaxCached)
            m_cache.clear();
        m_cache[host] = Cached {certificate, std::chrono::steady_clock::now()};
    }
    return Leaf {authority->context, std::move(certificate)};
}

std::optional<LeafCertificates::Leaf> LeafCertificates::leafNow(const std::string &host, std::string &error)
{
    return make(host, error);
}

asio::awaitable<std::optional<LeafCertificates::Leaf>> LeafCertificates::leafFor(const std::string &host,
                                                                                   std::string &error)
{
    {
        std::lock_guard lock(m_mutex);
        bool needed = false;
        auto leaf = cachedLocked(host, error, needed);
        if (!needed)
            co_return leaf;
        if (m_stopped) {
            error = "the engine is stopping";
            co_return std::nullopt;
        }
        ++m_onTheirWay;
    }
    // Made on the leaf thread; the answer comes back on the caller's own.
    co_return co_await asio::co_spawn(
        m_maker.get_executor(),
        [this, &host, &error]() -> asio::awaitable<std::optional<Leaf>> {
            {
                std::lock_guard lock(m_mutex);
                --m_onTheirWay;
            }
            m_arrived.notify_all();
            co_return make(host, error);
        },
        asio::use_awaitable);
}

} // namespace standin
