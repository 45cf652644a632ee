// Per-host certificates signed by the root CA, for terminating TLS inside CONNECT tunnels.
#pragma once

#include <utility> // before asio: its awaitable.hpp uses std::exchange without including it

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <openssl/ssl.h>

namespace standin {

class RootCA;

// A leaf certificate and its key, both PEM.
struct LeafMaterial {
    std::string certPEM;
    std::string keyPEM;
};

// Signs a short-lived server certificate for `host` (a DNS name or an IP address, which becomes its
// subjectAltName) with the given CA; nothing (and `error`) when the CA can't sign or the host is no name.
std::optional<LeafMaterial> issueLeaf(const std::string &caCertPEM, const std::string &caKeyPEM,
                                      const std::string &host, std::chrono::hours validity, std::string &error);

// Whether the text may stand in a certificate as a host: an IP address or a DNS name.
bool isCertifiableHost(const std::string &host);

// Leaves for the hosts clients tunnel to. Every leaf of a CA shares one key, made once, so a new name
// costs one signature; it is signed on a thread of its own, never on an I/O thread.
class LeafCertificates final {
public:
    // How long a leaf is valid, and when a cached one is replaced.
    static constexpr std::chrono::hours kValidity {7 * 24};
    static constexpr std::chrono::hours kRenewAfter {24};
    static constexpr std::size_t kMaxCached = 2000;
    // How long the CA files are trusted not to have changed behind the engine's back.
    static constexpr std::chrono::seconds kLookAgainAfter {1};

    // One host's leaf. `context` is the CA's, shared by all its leaves, and holds their key.
    struct Leaf {
        std::shared_ptr<boost::asio::ssl::context> context;
        std::shared_ptr<X509> certificate;
        // Has a TLS stream made with `context` present this leaf; false when OpenSSL refuses it.
        bool presentOn(SSL *ssl) const;
    };

    explicit LeafCertificates(const RootCA &rootCA);
    ~LeafCertificates();
    LeafCertificates(const LeafCertificates &) = delete;
    LeafCertificates &operator=(const LeafCertificates &) = delete;

    // The leaf for the host, signed by the current root CA: a cached one at once, a new one made on the
    // leaf thread while the caller waits. Nothing when there is no CA ("no root CA" in `error`: tunnels
    // are then relayed untouched). A regenerated CA drops every cached leaf.
    boost::asio::awaitable<std::optional<Leaf>> leafFor(const std::string &host, std::string &error);
    // The same, made on the calling thread.
    std::optional<Leaf> leafNow(const std::string &host, std::string &error);
    // Lets the leaves being made finish and makes no more; before the I/O threads stop, as those made
    // are handed back on them.
    void stop();

private:
    struct Authority;
    struct Cached {
        std::shared_ptr<X509> certificate;
        std::chrono::steady_clock::time_point made;
    };
    // A cached leaf; or, with `make` set, none yet. Under the lock.
    std::optional<Leaf> cachedLocked(const std::string &host, std::string &error, bool &make);
    std::optional<Leaf> make(const std::string &host, std::string &error);
    static std::shared_ptr<const Authority> makeAuthority(const std::string &caCertPEM, const std::string &caKeyPEM,
                                                          std::string &error);
    bool refreshAuthority(std::string &error);

    const RootCA &m_rootCA;
    std::mutex m_mutex;
    std::string m_identity; // what the CA file looked like when it was read
    // The files are looked at again after the CA's own generation or a while, not for every tunnel.
    std::uint64_t m_generation = 0;
    std::chrono::steady_clock::time_point m_lookedAt;
    std::string m_caCertPEM;
    std::string m_caKeyPEM;
    std::shared_ptr<const Authority> m_authority; // made from the PEM texts when first needed
    std::map<std::string, Cached> m_cache;
    // Callers on their way to the leaf thread; stop() waits for them to get there.
    int m_onTheirWay = 0;
    bool m_stopped = false;
    std::condition_variable m_arrived;
    boost::asio::thread_pool m_maker {1};
};

} // namespace standin
