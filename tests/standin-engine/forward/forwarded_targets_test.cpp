// What a forwarded request's head carries to the host, with real clients (Python's http.client, curl)
// on both sides of the proxy: the target exactly as written, Max-Forwards counted down or answered at
// its end, a second Host field refused, and the fields a Connection field names dropped however many.
#include "hosts/upstream.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/scripted_host.h"

#include "support/test_support.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

using standintest::EngineProcess;
using standintest::ScriptedHost;

namespace forwarded_targets {

// Sends each step on its own connection with http.client exactly as given (target, fields in order,
// repeats included) and prints one JSON line per answer.
constexpr const char *kStepsClient = R"(
import http.client, json, sys
port, steps = int(sys.argv[1]), json.loads(sys.argv[2])
for step in steps:
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    connection.putrequest(step["method"], step["target"], skip_host=True, skip_accept_encoding=True)
    for name, value in step.get("fields", []):
        connection.putheader(name, value)
    connection.endheaders()
    answer = connection.getresponse()
    body = answer.read().decode("latin-1")
    print(json.dumps({"status": answer.status, "type": answer.getheader("Content-Type", ""), "body": body,
                      "fields": [name.lower() for name, _ in answer.getheaders()]}))
    connection.close()
)";

using FieldList = std::vector<std::pair<std::string, std::string>>;

nlohmann::json step(const std::string &method, const std::string &target, const FieldList &fields = {})
{
    return {{"method", method}, {"target", target}, {"fields", fields}};
}

// Answers every request 200 with a short body, keeping what arrived.
ScriptedHost::Script recordingInto(standintest::RequestLog &received, const std::string &extraFields = {})
{
    return received.recording([extraFields](ScriptedHost::Connection &connection, const ScriptedHost::Request &) {
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n" + extraFields + "\r\nok");
    });
}

class ForwardedTargets : public standintest::EngineTest {
protected:
    void SetUp() override
    {
        m_python = QStandardPaths::findExecutable("python3");
        ASSERT_FALSE(m_python.isEmpty()) << "python3 is not installed (scripts/setup installs it)";
        m_pki = standintest::makeThrowawayPki("localhost");
        m_hostCa = writeTemporaryFile("host-ca.pem", m_pki.caPem);
        startEngine({{standin::kTestUpstreamCaVariable, m_hostCa}});
    }

    // Runs the steps through http.client against `port`; one answer per step.
    std::vector<nlohmann::json> pythonSteps(int port, const nlohmann::json &steps)
    {
        QProcess process;
        process.start(m_python, {"-c", kStepsClient, QString::number(port), QString::fromStdString(steps.dump())});
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        std::vector<nlohmann::json> answers;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            if (!line.trimmed().isEmpty())
                answers.push_back(nlohmann::json::parse(line.toStdString(), nullptr, false));
        }
        EXPECT_EQ(answers.size(), steps.size());
        answers.resize(steps.size());
        return answers;
    }

    // curl's status for a GET of `url`, straight or through the proxy, trusting `ca`.
    std::string curlGet(const std::string &url, bool throughProxy, const QString &ca)
    {
        const QString curl = QStandardPaths::findExecutable("curl");
        EXPECT_FALSE(curl.isEmpty()) << "curl is not installed (scripts/setup installs it)";
        QStringList arguments {"-sS", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "30", "--cacert", ca};
        arguments << (throughProxy ? QStringList {"-x", "http://127.0.0.1:" + QString::number(m_proxyPort)}
                                   : QStringList {"--noproxy", "*"});
        QProcess process;
        process.start(curl, arguments << QString::fromStdString(url));
        EXPECT_TRUE(process.waitForFinished(60000)) << url;
        return process.readAllStandardOutput().toStdString();
    }

    nlohmann::json history()
    {
        const auto reply = m_engine->client()->Get("/traffic?limit=100");
        return nlohmann::json::parse(reply ? reply->body : "[]", nullptr, false);
    }

    QString m_python;
    standintest::ThrowawayPki m_pki;
    QString m_hostCa;
};


TEST_F(ForwardedTargets, TheHostGetsThePathAndQueryAsTheClientWroteThem)
{
    standintest::RequestLog received;
    ScriptedHost host(recordingInto(received));
    const std::string origin = "127.0.0.1:" + std::to_string(host.port());
    const FieldList hostField = {{"Host", origin}};
    const auto steps = [&](bool proxied) {
        const std::string base = proxied ? "http://" + origin : "";
        return nlohmann::json::array({
            step("GET", base + "/p?", hostField),
            step("GET", base + "/p?a=1&b", hostField),
            // The whole host: asked with "*" straight, with its bare URL through a proxy.
            step("OPTIONS", proxied ? base : "*", hostField),
            step("OPTIONS", base + "/?", hostField),
        });
    };
    for (const auto &answer : pythonSteps(host.port(), steps(false)))
        EXPECT_EQ(answer.value("status", 0), 200) << answer.dump();
    const auto direct = received.lines();
    for (const auto &answer : pythonSteps(m_proxyPort, steps(true)))
        EXPECT_EQ(answer.value("status", 0), 200) << answer.dump();
    const auto all = received.lines();
    ASSERT_EQ(all.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(all.begin() + 4, all.end()), direct);

    // Through the root CA, with curl.
    ScriptedHost secure(recordingInto(received), m_pki.server);
    const auto ca = m_engine->client()->Post("/ca/generate");
    ASSERT_TRUE(ca && ca->status == 200);
    const QString engineCa
        = writeTemporaryFile("engine-ca.pem", nlohmann::json::parse(ca->body).value("certPEM", ""));
    const std::string url = "https://localhost:" + std::to_string(secure.port()) + "/signed?";
    EXPECT_EQ(curlGet(url, false, m_hostCa), "200");
    EXPECT_EQ(curlGet(url, true, engineCa), "200");
    const auto lines = received.lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[8], "GET /signed? HTTP/1.1");
    EXPECT_EQ(lines[9], lines[8]);

    // History keeps the empty query apart from none, and the bare URL's path as "/".
    std::multiset<std::string> recorded;
    for (const auto &record : history())
        recorded.insert(record.value("method", "") + " " + record.value("path", "") + " "
                        + (record.contains("query") ? "?" + record.value("query", "") : "-"));
    EXPECT_EQ(recorded, (std::multiset<std::string> {"GET /p ?", "GET /p ?a=1&b", "OPTIONS / -", "OPTIONS / ?",
                                                     "GET /signed ?"}));
}

TEST_F(ForwardedTargets, AnAsteriskTargetSentToTheProxyIsRefusedForWhatItIs)
{
    standintest::RequestLog received;
    ScriptedHost host(recordingInto(received));
    const std::string origin = "127.0.0.1:" + std::to_string(host.port());
    const auto answers = pythonSteps(m_proxyPort, nlohmann::json::array({
        step("OPTIONS", "*", {{"Host", origin}}),
        step("GET", "/p", {{"Host", "127.0.0.1:99999"}}),
        step("GET", "/p"),
    }));
    EXPECT_EQ(answers[0].value("status", 0), 400);
    EXPECT_NE(answers[0].value("body", "").find("OPTIONS *"), std::string::npos) << answers[0].dump();
    EXPECT_EQ(answers[1].value("status", 0), 400);
    EXPECT_NE(answers[1].value("body", "").find("Host field is no valid host"), std::string::npos) << answers[1].dump();
    EXPECT_EQ(answers[2].value("status", 0), 400);
    EXPECT_NE(answers[2].value("body", "").find("or a Host header"), std::string::npos) << answers[2].dump();
    EXPECT_TRUE(received.lines().empty());
}

TEST_F(ForwardedTargets, MaxForwardsIsCountedDownAndAnsweredByTheProxyAtZero)
{
    standintest::RequestLog received;
    ScriptedHost host(recordingInto(received));
    const std::string origin = "127.0.0.1:" + std::to_string(host.port());
    const std::string base = "http://" + origin;
    const auto withHops = [&](const std::string &hops) -> FieldList {
        return {{"Host", origin}, {"Max-Forwards", hops}, {"Cookie", "session=secret"}, {"X-Trace-Me", "yes"}};
    };
    const auto answers = pythonSteps(m_proxyPort, nlohmann::json::array({
        step("OPTIONS", base + "/a", withHops("0")),
        step("TRACE", base + "/b", withHops("0")),
        step("OPTIONS", base + "/c", withHops("5")),
        step("TRACE", base + "/d", withHops("1")),
        step("GET", base + "/e", withHops("0")), // not counted for a GET
    }));
    for (const auto &answer : answers)
        EXPECT_EQ(answer.value("status", 0), 200) << answer.dump();
    EXPECT_EQ(answers[0].value("body", "x"), "");
    EXPECT_EQ(answers[1].value("type", ""), "message/http");
    EXPECT_EQ(answers[1].value("body", ""), "TRACE " + base + "/b HTTP/1.1\r\nHost: " + origin
                                                 + "\r\nMax-Forwards: 0\r\nX-Trace-Me: yes\r\n\r\n");
    const auto requests = received.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].line(), "OPTIONS /c HTTP/1.1");
    EXPECT_EQ(requests[0].header("Max-Forwards"), "4");
    EXPECT_EQ(requests[1].line(), "TRACE /d HTTP/1.1");
    EXPECT_EQ(requests[1].header("Max-Forwards"), "0");
    EXPECT_EQ(requests[2].line(), "GET /e HTTP/1.1");
    EXPECT_EQ(requests[2].header("Max-Forwards"), "0");
}

TEST_F(ForwardedTargets, ARequestWithTwoHostFieldsIsRefusedNotForwarded)
{
    standintest::RequestLog received;
    ScriptedHost host(recordingInto(received));
    const std::string origin = "127.0.0.1:" + std::to_string(host.port());
    const auto answers = pythonSteps(m_proxyPort, nlohmann::json::array({
        step("GET", "http://" + origin + "/a", {{"Host", origin}, {"Host", "other.test"}}),
        step("GET", "/b", {{"Host", origin}, {"Host", origin}}),
        step("GET", "/c", {{"Host", origin}}),
    }));
    EXPECT_EQ(answers[0].value("status", 0), 400) << answers[0].dump();
    EXPECT_EQ(answers[1].value("status", 0), 400) << answers[1].dump();
    EXPECT_EQ(answers[2].value("status", 0), 200) << answers[2].dump();
    EXPECT_EQ(received.lines(), std::vector<std::string> {"GET /c HTTP/1.1"});
}

TEST_F(ForwardedTargets, EveryFieldAConnectionFieldNamesIsDroppedAndNoOther)
{
    // Thousands of names, in another case than the fields they name, and the host's answer naming its own.
    standintest::RequestLog received;
    ScriptedHost host(recordingInto(received, "Connection: x-secret, keep-alive\r\n"
                                                                 "X-Secret: 1\r\nX-Public: 1\r\n"));
    const std::string origin = "127.0.0.1:" + std::to_string(host.port());
    constexpr int kNamed = 1500;
    FieldList fields = {{"Host", origin}};
    std::string names;
    for (int i = 0; i < kNamed; ++i)
        names += (i ? ", x-d" : "x-d") + std::to_string(i);
    fields.emplace_back("Connection", names);
    for (int i = 0; i < kNamed; ++i) {
        fields.emplace_back("X-D" + std::to_string(i), "1");
        if (i % 2 == 0)
            fields.emplace_back("X-K" + std::to_string(i), "1");
    }
    const auto answers = pythonSteps(m_proxyPort, nlohmann::json::array({step("GET", "http://" + origin + "/many", fields)}));
    EXPECT_EQ(answers[0].value("status", 0), 200) << answers[0].dump().substr(0, 300);
    const auto answerFields = answers[0].value("fields", std::vector<std::string> {});
    EXPECT_EQ(std::count(answerFields.begin(), answerFields.end(), "x-secret"), 0);
    EXPECT_EQ(std::count(answerFields.begin(), answerFields.end(), "x-public"), 1);

    const auto requests = received.requests();
    ASSERT_EQ(requests.size(), 1u);
    std::multiset<std::string> arrived;
    std::istringstream lines(requests[0].head);
    std::getline(lines, names); // the request line
    for (std::string line; std::getline(lines, line);)
        arrived.insert(line.substr(0, line.find(':')));
    EXPECT_EQ(arrived.count("Connection"), 0u);
    for (int i = 0; i < kNamed; ++i) {
        ASSERT_EQ(arrived.count("X-D" + std::to_string(i)), 0u) << i;
        ASSERT_EQ(arrived.count("X-K" + std::to_string(i)), i % 2 == 0 ? 1u : 0u) << i;
    }
}

} // namespace forwarded_targets
