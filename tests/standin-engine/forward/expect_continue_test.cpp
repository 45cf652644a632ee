// A client that asks to continue before its body: a forwarded request leaves the decision to its host
// (its "100 Continue", its refusal), and the host gets the body only when it asked for it or the client
// stopped waiting; a mocked one is answered by the engine as the origin it stands in for.
#include "hosts/upstream.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/nginx_host.h"
#include "standin-engine/scripted_host.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <mutex>
#include <optional>
#include <tuple>

using standintest::EngineProcess;
using standintest::RawSocket;
using standintest::ScriptedHost;

namespace {

constexpr auto kContinuePatience = std::chrono::seconds(10);

// Reads the rest of a body of `size` bytes after its head; what came, short when the peer stopped.
std::string bodyAfterHead(ScriptedHost::Connection &connection, std::size_t size)
{
    std::string body;
    while (body.size() < size) {
        const std::string piece = connection.receive(kContinuePatience);
        if (piece.empty())
            break;
        body += piece;
    }
    return body;
}

// Everything the peer sends until it closes.
std::size_t bytesUntilClose(ScriptedHost::Connection &connection)
{
    std::size_t bytes = 0;
    for (std::string piece; !(piece = connection.receive(kContinuePatience)).empty();)
        bytes += piece.size();
    return bytes;
}

std::size_t contentLengthOf(const std::string &head)
{
    const auto at = head.find("Content-Length: ");
    return at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
}

bool headAsksToContinue(const std::string &head)
{
    return head.find("\r\nExpect: 100-continue\r\n") != std::string::npos;
}

// A host that decides by path: "/accept" asks for the body when asked to, "/deaf" never answers
// before the body, "/refuse" refuses with 417 before it, "/locked" with 401.
class DecidingHost {
public:
    explicit DecidingHost(std::optional<standintest::TlsIdentity> tls = std::nullopt)
        : m_host([this](ScriptedHost::Connection &connection) { serve(connection); }, std::move(tls))
    {
    }
    std::string origin(bool byName = false) const
    {
        return (byName ? "localhost:" : "127.0.0.1:") + std::to_string(m_host.port());
    }
    // Heads and what came after each, in arrival order.
    std::vector<std::pair<std::string, std::string>> seen()
    {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

private:
    void serve(ScriptedHost::Connection &connection)
    {
        for (;;) {
            const std::string head = connection.head();
            if (head.empty())
                return;
            const std::size_t entry = note(head);
            const std::string line = head.substr(0, head.find("\r\n"));
            if (line.find("/refuse") != std::string::npos || line.find("/locked") != std::string::npos) {
                const bool locked = line.find("/locked") != std::string::npos;
                if (!locked && !headAsksToContinue(head)) { // without the expectation, it takes the upload
                    answer(connection, entry, head);
                    continue;
                }
                if (!locked) { // the body is not sent, and the next request follows on the connection
                    connection.send("HTTP/1.1 417 Expectation Failed\r\nContent-Length: 0\r\n\r\n");
                    continue;
                }
                // Kept open, to count what comes of the body the client was told not to send.
                connection.send("HTTP/1.1 401 Unauthorized\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\nlocked");
                keep(entry, std::string(bytesUntilClose(connection), 'u'));
                return;
            }
            if (line.find("/accept") != std::string::npos && headAsksToContinue(head))
                connection.send("HTTP/1.1 100 Continue\r\n\r\n");
            answer(connection, entry, head);
        }
    }

    void answer(ScriptedHost::Connection &connection, std::size_t entry, const std::string &head)
    {
        const std::string body = bodyAfterHead(connection, contentLengthOf(head));
        keep(entry, body);
        const std::string text = "got " + std::to_string(body.size()) + " bytes";
        connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size())
                        + "\r\n\r\n" + text);
    }

    std::size_t note(const std::string &head)
    {
        std::lock_guard lock(m_mutex);
        m_seen.emplace_back(head, std::string());
        return m_seen.size() - 1;
    }
    void keep(std::size_t entry, std::string body)
    {
        std::lock_guard lock(m_mutex);
        m_seen[entry].second = std::move(body);
    }

    std::mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_seen;
    ScriptedHost m_host; // last: its threads stop before what they use goes
};

class ExpectContinue : public standintest::EngineTest {
protected:
    void SetUp() override
    {
        // A host over TLS carries a certificate of a throwaway CA the engine is told to trust.
        m_pki = standintest::makeThrowawayPki("localhost");
        ASSERT_NO_FATAL_FAILURE(
            startEngine({{standin::kTestUpstreamCaVariable, writeTemporaryFile("host-ca.pem", m_pki.caPem)}}));
        setRoutes({standintest::mockRoute("r-make", "POST", "/make", 201, "made")});
    }

    standintest::ThrowawayPki m_pki;
};

} // namespace

// Those curl can't be: a client that sends its body without waiting, an HTTP/1.0 client; and a mock.
TEST_F(ExpectContinue, ClientsThatDoNotWaitAreAnsweredAsStraightAndAMockAnswersAsTheOrigin)
{
    DecidingHost host;
    const auto post = [&](const std::string &version) {
        return "POST http://" + host.origin() + "/accept HTTP/" + version + "\r\nHost: " + host.origin()
               + "\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\nhello";
    };
    // The host's "100 Continue" is passed on, the proxy's mark on it, and then its final answer.
    RawSocket eager;
    ASSERT_TRUE(eager.connect(m_proxyPort));
    ASSERT_TRUE(eager.send(post("1.1")));
    const std::string eagerAnswer = eager.readUntil("got 5 bytes", kContinuePatience);
    EXPECT_EQ(eagerAnswer.rfind("HTTP/1.1 100 Continue\r\nVia: 1.1 kestrion-", 0), 0u) << eagerAnswer;
    EXPECT_NE(eagerAnswer.find("\r\n\r\nHTTP/1.1 200 OK\r\n"), std::string::npos) << eagerAnswer;

    // An HTTP/1.0 client's expectation is ignored: neither the host nor the client hears of it.
    RawSocket old;
    ASSERT_TRUE(old.connect(m_proxyPort));
    ASSERT_TRUE(old.send(post("1.0")));
    std::string oldAnswer;
    EXPECT_TRUE(old.readToEnd(oldAnswer, kContinuePatience));
    EXPECT_EQ(oldAnswer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << oldAnswer;

    const auto seen = host.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(headAsksToContinue(seen[0].first)) << seen[0].first;
    EXPECT_FALSE(headAsksToContinue(seen[1].first)) << seen[1].first;
    EXPECT_EQ(seen[0].second + seen[1].second, "hellohello");

    // A mock is the origin: it asks for the body itself, of an HTTP/1.1 client with a body to send.
    for (const std::string version : {"1.1", "1.0"}) {
        RawSocket mocked;
        ASSERT_TRUE(mocked.connect(m_proxyPort));
        ASSERT_TRUE(mocked.send("POST http://api.test/make HTTP/" + version
                                + "\r\nHost: api.test\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n"));
        if (version == "1.1") {
            EXPECT_EQ(mocked.readUntil("\r\n\r\n", kContinuePatience), "HTTP/1.1 100 Continue\r\n\r\n");
        }
        ASSERT_TRUE(mocked.send("hello"));
        const std::string made = mocked.readUntil("made", kContinuePatience);
        EXPECT_EQ(standintest::statusOf(made), 201) << made;
        EXPECT_EQ(made.find("100 Continue"), std::string::npos) << made;
    }
    RawSocket bodiless; // nothing to wait for
    ASSERT_TRUE(bodiless.connect(m_proxyPort));
    ASSERT_TRUE(bodiless.send("POST http://api.test/make HTTP/1.1\r\nHost: api.test\r\nContent-Length: 0\r\n"
                              "Expect: 100-continue\r\n\r\n"));
    const std::string made = bodiless.readUntil("made", kContinuePatience);
    EXPECT_EQ(made.rfind("HTTP/1.1 201 ", 0), 0u) << made;
}

// An answer before the body leaves the client's connection mid-request, and the proxy closes it after:
// the answer says so, but for a 417 from a host that kept its connection, which a client repeats without
// its expectation only on a connection it believes open (curl does).
TEST_F(ExpectContinue, AnEarlyAnswerSaysTheConnectionClosesUnlessItIsARefusedExpectation)
{
    DecidingHost host;
    for (const auto &[path, status, closes] : {std::tuple {"/locked", 401, true}, std::tuple {"/refuse", 417, false}}) {
        RawSocket client;
        ASSERT_TRUE(client.connect(m_proxyPort));
        ASSERT_TRUE(client.send("POST http://" + host.origin() + path + " HTTP/1.1\r\nHost: " + host.origin()
                                + "\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n"));
        std::string answer;
        EXPECT_TRUE(client.readToEnd(answer, kContinuePatience)) << path; // and the proxy closes
        EXPECT_EQ(standintest::statusOf(answer), status) << answer;
        const std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
        EXPECT_EQ(head.find("\r\nConnection: close\r\n") != std::string::npos, closes) << answer;
    }
}

TEST_F(ExpectContinue, CurlUploadsOnlyWhatTheHostAsksForAsItDoesDirectly)
{
    const QString curl = QStandardPaths::findExecutable("curl");
    ASSERT_FALSE(curl.isEmpty()) << "curl is not installed (scripts/setup installs it)";
    const QString upload = writeTemporaryFile("upload.bin", std::string(4 * 1024 * 1024, 'u'));
    // Over TLS the engine speaks to both sides with its own root CA and the host's.
    const auto generated = m_engine->client()->Post("/ca/generate");
    ASSERT_TRUE(generated && generated->status == 200);
    writeTemporaryFile("engine-ca.pem", nlohmann::json::parse(generated->body).value("certPEM", ""));
    for (const bool tls : {false, true}) {
        DecidingHost host(tls ? std::optional(m_pki.server) : std::nullopt);
        const std::string base = (tls ? "https://" : "http://") + host.origin(tls);
        // What curl reports: the status, the bytes it sent and the body it got. It asks to continue on
        // its own with a body this large, and retries a 417 without asking.
        const auto send = [&](const std::string &path, bool throughProxy) {
            QFile::remove(m_dir.path() + "/answer.txt");
            QStringList arguments {"-sS", "-o", m_dir.path() + "/answer.txt", "-w", "%{http_code} %{size_upload}",
                                   "--data-binary", "@" + upload, "--max-time", "60"};
            arguments << (throughProxy ? "-x" : "--noproxy")
                      << (throughProxy ? "http://127.0.0.1:" + QString::number(m_proxyPort) : QString("*"));
            if (tls)
                arguments << "--cacert" << m_dir.path() + (throughProxy ? "/engine-ca.pem" : "/host-ca.pem");
            QProcess process;
            process.start(curl, arguments << QString::fromStdString(base + path));
            EXPECT_TRUE(process.waitForFinished(90000)) << path;
            std::ifstream answer((m_dir.path() + "/answer.txt").toStdString(), std::ios::binary);
            return process.readAllStandardOutput().toStdString() + " "
                   + std::string(std::istreambuf_iterator<char>(answer), {});
        };
        for (const std::string path : {"/locked", "/refuse", "/accept", "/deaf"}) {
            const std::size_t before = host.seen().size();
            const std::string direct = send(path, false);
            const std::size_t between = host.seen().size();
            EXPECT_EQ(send(path, true), direct) << base << path;
            const auto seen = host.seen();
            ASSERT_EQ(seen.size() - between, between - before) << base << path;
            for (std::size_t i = 0; i < between - before; ++i) {
                const auto &[directHead, directBody] = seen[before + i];
                const auto &[proxiedHead, proxiedBody] = seen[between + i];
                EXPECT_EQ(headAsksToContinue(proxiedHead), headAsksToContinue(directHead)) << base << path << " " << i;
                EXPECT_EQ(proxiedBody.size(), directBody.size()) << base << path << " " << i;
            }
        }
        EXPECT_EQ(send("/locked", false), "401 0 locked");
    }
}

TEST_F(ExpectContinue, CurlSendsNoneOfAnUploadNginxRefusesAsItDoesDirectly)
{
    const QString nginxBinary = standintest::Nginx::installed();
    if (nginxBinary.isEmpty())
        GTEST_SKIP() << "nginx is not installed (scripts/setup installs the nginx-light package)";
    const QString curl = QStandardPaths::findExecutable("curl");
    ASSERT_FALSE(curl.isEmpty()) << "curl is not installed (scripts/setup installs it)";
    QTemporaryDir nginxRoot;
    standintest::Nginx nginx(nginxBinary, nginxRoot.path());
    std::string log;
    ASSERT_TRUE(nginx.start("location /limited/ { client_max_body_size 1m; }", log)) << log;
    const QString upload = writeTemporaryFile("upload.bin", std::string(8 * 1024 * 1024, 'u'));
    const std::string url = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/limited/upload";
    const auto send = [&](bool throughProxy) {
        QFile::remove(m_dir.path() + "/answer.txt");
        QStringList arguments {"-sS", "-o", m_dir.path() + "/answer.txt", "-w", "%{http_code} %{size_upload}",
                               "--data-binary", "@" + upload, "-H", "Expect: 100-continue", "--expect100-timeout",
                               "10", "--max-time", "60"};
        arguments << (throughProxy ? "-x" : "--noproxy")
                  << (throughProxy ? "http://127.0.0.1:" + QString::number(m_proxyPort) : QString("*"));
        QProcess process;
        process.start(curl, arguments << QString::fromStdString(url));
        EXPECT_TRUE(process.waitForFinished(90000));
        std::ifstream answer((m_dir.path() + "/answer.txt").toStdString(), std::ios::binary);
        return process.readAllStandardOutput().toStdString() + " "
               + std::string(std::istreambuf_iterator<char>(answer), {});
    };
    const std::string direct = send(false);
    EXPECT_EQ(direct.rfind("413 0 ", 0), 0u) << direct;
    EXPECT_EQ(send(true), direct);
    // nginx refused before the body both times, having been asked to continue.
    const std::string refused = "POST /limited/upload 413 \"100-continue\"\n";
    EXPECT_TRUE(testsupport::waitFor([&] { return nginx.accessLog() == refused + refused; }, 10000))
        << nginx.accessLog();
}
