// Per-host certificates signed by the root CA, for terminating TLS inside CONNECT tunnels.
#pragma once

#include <boost/asio/ssl/context.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

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

class LeafCertificates final {
public:
    // How long a leaf is valid, and when a cached one is replaced.
    static constexpr std::chrono::hours kValidity {7 * 24};
    static constexpr std::chrono::hours kRenewAfter {24};
    static constexpr std::size_t kMaxCached = 2000;
    // How long the CA files are trusted not to have changed behind the engine's back.
    static constexpr std::chrono::seconds kLookAgainAfter {1};

    explicit LeafCertificates(const RootCA &rootCA);

    // The TLS server context for the host, signed by the current root CA; nothing when there is no
    // CA (then tunnels are relayed untouched). A regenerated CA drops every cached leaf.
    std::shared_ptr<boost::asio::ssl::context> contextFor(const std::string &host, std::string &error);

private:
    struct Cached {
        std::shared_ptr<boost::asio::ssl::context> context;
        std::chrono::steady_clock::time_point made;
    };
    bool refreshAuthority(std::string &error);

    const RootCA &m_rootCA;
    std::mutex m_mutex;
    std::string m_identity; // what the CA file looked like when it was read
    // The files are looked at again after the CA's own generation or a while, not for every tunnel.
    std::uint64_t m_generation = 0;
    std::chrono::steady_clock::time_point m_lookedAt;
    std::string m_caCertPEM;
    std::string m_caKeyPEM;
    std::map<std::string, Cached> m_cache;
};

} // namespace standin
