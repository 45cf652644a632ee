// tls/: the engine's certificates: its root CA and the per-host leaves it signs.
// The engine's root certificate authority: a real self-signed CA kept under the data directory.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

namespace standin {

struct CertificateFacts {
    std::string fingerprint; // SHA-256 of the DER form, upper-case hex pairs joined by ":"
    std::string notAfter;    // ISO 8601, UTC
    std::string subject;     // one-line distinguished name
    std::string certPEM;
};

// Reads the facts from a PEM certificate; nothing when it isn't one.
std::optional<CertificateFacts> describeCertificate(const std::string &pem);

// Makes a new EC P-256 key and a ten-year self-signed CA certificate; returns (certificate PEM, key PEM).
std::optional<std::pair<std::string, std::string>> makeSelfSignedCA(const std::string &commonName,
                                                                    std::string &error);

// The key and certificate are replaced as a pair: both are written whole beside the old ones first,
// and a generation cut short (a full disk, a kill) leaves the old pair working, also after a restart.
class RootCA final {
public:
    // Finishes or undoes a replacement an earlier engine left half done.
    explicit RootCA(std::filesystem::path directory);

    // Facts of the current CA; nothing before one has been generated, or when it can't be used (see
    // problem), so that it is never shown as usable while HTTPS is relayed without interception.
    std::optional<CertificateFacts> current() const;
    // Why the CA on disk can't be used (a damaged certificate or key, a key of another certificate);
    // nothing when it can, or when there is none.
    std::optional<std::string> problem() const;
    std::filesystem::path certificatePath() const;
    // Replaces the CA with a new one; nothing (and `error`, and the system's reason in `failure` when
    // the disk refused) when that fails.
    std::optional<CertificateFacts> generate(std::string &error, std::error_code *failure = nullptr);
    // Goes up with every generation this process tries, so users of the files know to read them again.
    std::uint64_t generation() const { return m_generation; }

private:
    std::filesystem::path keyPath() const;
    std::filesystem::path nextKeyPath() const;
    std::filesystem::path nextCertificatePath() const;
    std::filesystem::path previousKeyPath() const;
    void recover();
    // The current CA's facts, or what is wrong with it in `problem`.
    std::optional<CertificateFacts> readLocked(std::string &problem) const;

    std::filesystem::path m_directory;
    mutable std::mutex m_mutex;
    std::atomic<std::uint64_t> m_generation {0};
};

} // namespace standin
