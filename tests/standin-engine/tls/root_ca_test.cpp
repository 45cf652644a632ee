// The root CA: a real self-signed CA whose reported fingerprint is the SHA-256 of its certificate.
#include "tls/root_ca.h"

#include <QTemporaryDir>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace standin;

namespace {

// The DER bytes inside a PEM block, decoded by hand so the check doesn't reuse the code under test.
std::string derOf(const std::string &pem)
{
    const std::string begin = "-----BEGIN CERTIFICATE-----";
    const size_t start = pem.find(begin);
    const size_t end = pem.find("-----END CERTIFICATE-----");
    std::string base64;
    for (size_t i = start + begin.size(); i < end; ++i) {
        if (!std::isspace(static_cast<unsigned char>(pem[i])))
            base64.push_back(pem[i]);
    }
    std::string der(base64.size(), '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(der.data()),
                                       reinterpret_cast<const unsigned char *>(base64.data()),
                                       static_cast<int>(base64.size()));
    const size_t padding = base64.size() - base64.find_last_not_of('=') - 1;
    der.resize(static_cast<size_t>(length) - padding);
    return der;
}

std::string sha256Hex(const std::string &bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string out;
    char pair[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
        out += pair;
    }
    return out;
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(RootCA, NothingBeforeGenerationThenARealSelfSignedCA)
{
    QTemporaryDir dir;
    RootCA ca(std::filesystem::path(dir.path().toStdString()) / "ca");
    EXPECT_FALSE(ca.current());
    EXPECT_FALSE(ca.problem()); // no CA is no damaged CA

    std::string error;
    const auto facts = ca.generate(error);
    ASSERT_TRUE(facts) << error;
    EXPECT_EQ(facts->fingerprint, sha256Hex(derOf(facts->certPEM)));
    EXPECT_EQ(facts->fingerprint.size(), 32u * 3 - 1);
    EXPECT_NE(facts->subject.find("Kestrion"), std::string::npos);
    EXPECT_EQ(facts->notAfter.size(), 20u); // 2036-12-05T04:30:00Z
    EXPECT_EQ(readFile(ca.certificatePath()), facts->certPEM);

    BIO *bio = BIO_new_mem_buf(facts->certPEM.data(), static_cast<int>(facts->certPEM.size()));
    X509 *cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    ASSERT_TRUE(cert);
    EXPECT_EQ(X509_check_ca(cert), 1);
    EVP_PKEY *key = X509_get0_pubkey(cert);
    EXPECT_EQ(X509_verify(cert, key), 1); // signed by its own key
    X509_free(cert);
    BIO_free(bio);

    struct stat keyStat {};
    ASSERT_EQ(::stat((ca.certificatePath().parent_path() / "kestrion-root-ca.key").c_str(), &keyStat), 0);
    EXPECT_EQ(keyStat.st_mode & 0777, 0600u);

    const auto loaded = ca.current();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->fingerprint, facts->fingerprint);
    const auto regenerated = ca.generate(error);
    ASSERT_TRUE(regenerated);
    EXPECT_NE(regenerated->fingerprint, facts->fingerprint);
    EXPECT_FALSE(ca.problem());

    // Another CA's key beside the certificate: the pair is not usable, and says why.
    const auto other = makeSelfSignedCA("Other", error);
    ASSERT_TRUE(other);
    std::ofstream(ca.certificatePath().parent_path() / "kestrion-root-ca.key") << other->second;
    EXPECT_FALSE(ca.current());
    EXPECT_NE(ca.problem().value_or("").find("does not belong to its certificate"), std::string::npos);
}

TEST(RootCA, AReplacementCutShortIsFinishedOrUndoneAtTheNextStart)
{
    QTemporaryDir dir;
    const std::filesystem::path folder = std::filesystem::path(dir.path().toStdString()) / "ca";
    std::string error;
    const auto old = RootCA(folder).generate(error);
    ASSERT_TRUE(old) << error;
    const auto made = makeSelfSignedCA("Next", error);
    ASSERT_TRUE(made) << error;
    const auto write = [](const std::filesystem::path &path, const std::string &text) {
        std::ofstream(path) << text;
    };

    // Killed before the new pair was put in place: the old pair stands.
    write(folder / "kestrion-root-ca.next.key", made->second);
    write(folder / "kestrion-root-ca.next.pem", made->first);
    EXPECT_EQ(RootCA(folder).current()->fingerprint, old->fingerprint);
    EXPECT_FALSE(std::filesystem::exists(folder / "kestrion-root-ca.next.key"));
    EXPECT_FALSE(std::filesystem::exists(folder / "kestrion-root-ca.next.pem"));

    // Killed between the key and the certificate: the new key is in place, so its certificate follows.
    write(folder / "kestrion-root-ca.key", made->second);
    write(folder / "kestrion-root-ca.next.pem", made->first);
    write(folder / "kestrion-root-ca.previous.key", "old key");
    const auto finished = RootCA(folder).current();
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->certPEM, made->first);
    EXPECT_FALSE(std::filesystem::exists(folder / "kestrion-root-ca.previous.key"));
}
