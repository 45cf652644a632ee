// The proxy between the clients people put behind one and the hosts they reach: Python's http.client
// on one kept connection, Node's http with a keep-alive agent and curl, against nginx (gzip on, a
// short keep-alive) and a scripted host for the odd shapes. What a client gets through the proxy must
// be what it gets straight from the host, byte for byte, and the host must get what the client sent.
#include "hosts/upstream.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/nginx_host.h"
#include "standin-engine/scripted_host.h"

#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

using standintest::EngineProcess;
using standintest::RawSocket;
using standintest::ScriptedHost;
using standintest::chunked;

namespace {

QString findTool(const QStringList &names)
{
    for (const auto &name : names) {
        if (const QString found = QStandardPaths::findExecutable(name); !found.isEmpty())
            return found;
    }
    return {};
}

void writeFile(const QString &path, const std::string &bytes)
{
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

std::string readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("(missing)");
}

struct Answer {
    nlohmann::json json;
    std::string error() const { return json.value("error", ""); }
    int status() const { return json.value("status", 0); }
    std::string body() const { return json.value("body_b64", ""); }
    // An end-to-end header, lowercased name; "" when absent.
    std::string header(const std::string &name) const
    {
        for (const auto &pair : json.value("headers", nlohmann::json::array())) {
            std::string key = pair[0].get<std::string>();
            std::transform(key.begin(), key.end(), key.begin(), ::tolower);
            if (key == name)
                return pair[1].is_string() ? pair[1].get<std::string>() : pair[1].dump();
        }
        return {};
    }
};

class RealClients : public standintest::EngineTest {
protected:
    void SetUp() override
    {
        m_python = findTool({"python3"});
        m_node = findTool({"node", "nodejs"});
        if (m_node.isEmpty())
            GTEST_SKIP() << "Node.js is not installed (scripts/setup installs the nodejs package)";
        ASSERT_FALSE(m_python.isEmpty()) << "python3 is not installed (scripts/setup installs it)";
        // Hosts over TLS carry a certificate of a throwaway CA the engine is told to trust.
        m_pki = standintest::makeThrowawayPki("localhost");
        startEngine({{standin::kTestUpstreamCaVariable, writeTemporaryFile("upstream-ca.pem", m_pki.caPem)}});
    }

    // The clients, as (name, interpreter, script).
    std::vector<std::tuple<std::string, QString, QString>> clients() const
    {
        const QString folder = testsupport::sourceDir() + "/tests/standin-engine/clients/";
        return {{"python", m_python, folder + "python_client.py"}, {"node", m_node, folder + "node_client.js"}};
    }

    // Starts one client over the plan, straight to `origin` or through the proxy; "{run}" in its paths
    // becomes "<client>-direct" or "<client>-proxy".
    std::unique_ptr<QProcess> start(const std::tuple<std::string, QString, QString> &client, const QString &plan,
                                    const std::string &origin, bool throughProxy)
    {
        const QString label = QString::fromStdString(std::get<0>(client)) + (throughProxy ? "-proxy" : "-direct");
        QStringList arguments {std::get<2>(client), "--origin", QString::fromStdString(origin), "--label", label};
        if (throughProxy)
            arguments << "--proxy" << QString::number(m_proxyPort);
        arguments << plan;
        auto process = std::make_unique<QProcess>();
        process->start(std::get<1>(client), arguments);
        return process;
    }

    // One answer per step, once the client is done.
    static std::vector<Answer> answers(QProcess &process, const std::string &client)
    {
        EXPECT_TRUE(process.waitForFinished(60000)) << client;
        EXPECT_EQ(process.exitCode(), 0) << client << ": " << process.readAllStandardError().toStdString();
        std::vector<Answer> answers;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            if (!line.trimmed().isEmpty())
                answers.push_back({nlohmann::json::parse(line.toStdString(), nullptr, false)});
        }
        return answers;
    }

    // Every installed client (or the one named) over the plan, straight and through the proxy, all at once.
    void runAndCompare(const nlohmann::json &plan, const QString &planFile, const std::string &origin,
                       const std::string &only = {})
    {
        std::vector<std::tuple<std::string, QString, QString>> chosen;
        for (const auto &client : clients()) {
            if (only.empty() || std::get<0>(client) == only)
                chosen.push_back(client);
        }
        std::vector<std::pair<std::unique_ptr<QProcess>, std::unique_ptr<QProcess>>> running;
        for (const auto &client : chosen)
            running.emplace_back(start(client, planFile, origin, false), start(client, planFile, origin, true));
        for (std::size_t i = 0; i < running.size(); ++i) {
            const std::string name = std::get<0>(chosen[i]);
            expectSameAnswers(name, answers(*running[i].first, name), answers(*running[i].second, name), plan);
        }
    }

    // Each answer through the proxy is the one straight from the host: status, body bytes, and the
    // fields that describe the body.
    void expectSameAnswers(const std::string &client, const std::vector<Answer> &direct,
                           const std::vector<Answer> &proxied, const nlohmann::json &plan)
    {
        ASSERT_EQ(direct.size(), plan.size()) << client;
        ASSERT_EQ(proxied.size(), plan.size()) << client;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const std::string step = client + " step " + std::to_string(i) + " " + plan[i]["method"].get<std::string>()
                                     + " " + plan[i]["path"].get<std::string>();
            EXPECT_EQ(direct[i].error(), "") << step;
            EXPECT_EQ(proxied[i].error(), "") << step;
            EXPECT_EQ(proxied[i].status(), direct[i].status()) << step;
            EXPECT_TRUE(proxied[i].body() == direct[i].body())
                << step << ": the bodies differ (" << proxied[i].body().size() << " and " << direct[i].body().size()
                << " characters of base64)";
            for (const std::string name : {"content-type", "content-encoding", "trailer"})
                EXPECT_EQ(proxied[i].header(name), direct[i].header(name)) << step << " " << name;
            // Each forwarded answer, interim ones too, names the proxy in its Via field (these hosts send none).
            static const std::regex engineVia("1\\.1 kestrion-[0-9a-f]{16}");
            EXPECT_EQ(direct[i].header("via"), "") << step;
            EXPECT_TRUE(std::regex_match(proxied[i].header("via"), engineVia)) << step << " " << proxied[i].header("via");
            nlohmann::json interim = proxied[i].json.value("interim", nlohmann::json());
            for (auto &head : interim) {
                EXPECT_TRUE(std::regex_match(head["headers"].value("via", ""), engineVia)) << step << " " << head;
                head["headers"].erase("via");
            }
            // What a client reports of them (Node: trailer fields and interim answers).
            EXPECT_EQ(interim, direct[i].json.value("interim", nlohmann::json())) << step << " interim";
            EXPECT_EQ(proxied[i].json.value("trailers", nlohmann::json()), direct[i].json.value("trailers", nlohmann::json()))
                << step << " trailers";
            // Files each run wrote itself differ in time, and so in their tags.
            if (plan[i]["path"].get<std::string>().find("{run}") == std::string::npos) {
                EXPECT_EQ(proxied[i].header("etag"), direct[i].header("etag")) << step;
            }
        }
    }

    QString writePlan(const nlohmann::json &plan, const QString &name) { return writeTemporaryFile(name, plan.dump()); }

    standintest::ThrowawayPki m_pki;
    QString m_python;
    QString m_node;
};

} // namespace

TEST_F(RealClients, NginxAnswersThroughTheProxyAsItDoesDirectly)
{
    const QString nginxBinary = standintest::Nginx::installed();
    if (nginxBinary.isEmpty())
        GTEST_SKIP() << "nginx is not installed (scripts/setup installs the nginx-light package)";
    QTemporaryDir nginxRoot;
    standintest::Nginx nginx(nginxBinary, nginxRoot.path());
    QDir(nginx.www()).mkpath("uploads");
    std::string log;
    ASSERT_TRUE(nginx.start("location /uploads/ { dav_methods PUT; client_max_body_size 16m; }", log)) << log;

    nlohmann::json items = nlohmann::json::array();
    for (int i = 0; i < 4000; ++i)
        items.push_back({{"id", i}, {"name", "item " + std::to_string(i)}, {"tags", {"a", "b"}}});
    writeFile(nginx.www() + "/data.json", nlohmann::json {{"items", items}}.dump());
    writeFile(nginx.www() + "/small.txt", "a small text\n");
    std::string upload;
    for (int i = 0; i < 300 * 1024; ++i)
        upload += static_cast<char>((i * 7 + i / 251) & 0xff);
    const std::string uploadFile = (m_dir.path() + "/upload.bin").toStdString();
    writeFile(QString::fromStdString(uploadFile), upload);

    const nlohmann::json gzip = {{"Accept-Encoding", "gzip"}};
    const nlohmann::json plan = nlohmann::json::array({
        {{"method", "GET"}, {"path", "/data.json"}, {"headers", gzip}}, // compressed: chunked
        {{"method", "GET"}, {"path", "/data.json"}},
        {{"method", "HEAD"}, {"path", "/data.json"}},
        {{"method", "GET"}, {"path", "/small.txt"}, {"headers", gzip}},
        {{"method", "GET"}, {"path", "/missing"}},
        {{"method", "PUT"}, {"path", "/uploads/{run}-a.bin"}, {"body_file", uploadFile}},
        {{"method", "PUT"}, {"path", "/uploads/{run}-b.bin"}, {"body_file", uploadFile}, {"chunked", true}},
        // Past nginx's keep-alive timeout: the connection the proxy kept is gone.
        {{"method", "PUT"}, {"path", "/uploads/{run}-c.bin"}, {"body_file", uploadFile}, {"pause_ms", 1500}},
        {{"method", "GET"}, {"path", "/uploads/{run}-c.bin"}},
        {{"method", "GET"}, {"path", "/data.json"}, {"headers", gzip}},
    });
    const QString planFile = writePlan(plan, "nginx-plan.json");
    runAndCompare(plan, planFile, "http://127.0.0.1:" + std::to_string(nginx.port()));
    for (const auto &client : clients()) {
        for (const QString file : {"a", "b", "c"}) {
            const QString name = QString::fromStdString(std::get<0>(client)) + "-proxy-" + file + ".bin";
            EXPECT_TRUE(readFile(nginx.www() + "/uploads/" + name) == upload) << "nginx did not get " << name.toStdString();
        }
    }
}

TEST_F(RealClients, OddlyShapedAnswersReachClientsAsTheHostSentThem)
{
    standintest::RequestLog log;
    ScriptedHost host(log.recording([](ScriptedHost::Connection &connection, const ScriptedHost::Request &request) {
        const std::string line = request.line();
        if (line.find("/one-piece") != std::string::npos) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"
                            + chunked({"one write, one piece"}));
        } else if (line.find("/until-close") != std::string::npos) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n"
                            "ends when the connection does");
            connection.close();
        } else if (line.find("/slow") != std::string::npos) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n");
            for (const std::string piece : {"data: one\n\n", "data: two\n\n", "data: three\n\n"}) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30)); // pieces that trickle
                connection.send(chunked({piece}).substr(0, chunked({piece}).size() - 5));
            }
            connection.send("0\r\n\r\n");
        } else {
            const std::string body = "got " + request.body;
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        }
    }));
    const std::string text = "from the client \xe2\x9c\x93 with bytes \x01\x02";
    const std::string textFile = (m_dir.path() + "/text.bin").toStdString();
    writeFile(QString::fromStdString(textFile), text);
    const nlohmann::json plan = nlohmann::json::array({
        {{"method", "GET"}, {"path", "/one-piece"}},
        {{"method", "GET"}, {"path", "/until-close"}},
        {{"method", "GET"}, {"path", "/slow"}},
        {{"method", "POST"}, {"path", "/echo"}, {"body_file", textFile}},
        {{"method", "POST"}, {"path", "/echo"}, {"body_file", textFile}, {"chunked", true}},
        {{"method", "GET"}, {"path", "/one-piece"}},
    });
    const QString planFile = writePlan(plan, "odd-plan.json");
    runAndCompare(plan, planFile, "http://127.0.0.1:" + std::to_string(host.port()));
    const auto seen = log.requests();
    EXPECT_EQ(seen.size(), plan.size() * clients().size() * 2);
    // The host gets the same requests either way, but for the fields of the hop and the proxy's mark.
    std::multiset<std::string> direct;
    std::multiset<std::string> proxied;
    for (const auto &request : seen) {
        std::vector<std::string> fields;
        std::istringstream lines(request.head);
        for (std::string line; std::getline(lines, line);) {
            std::string name = line.substr(0, line.find(':'));
            std::transform(name.begin(), name.end(), name.begin(), ::tolower);
            if (name != "connection" && name != "keep-alive" && name != "via")
                fields.push_back(line);
        }
        std::sort(fields.begin(), fields.end());
        std::string joined;
        for (const auto &field : fields)
            joined += field + "\n";
        (request.header("Via").empty() ? direct : proxied).insert(joined + request.body);
    }
    EXPECT_EQ(direct, proxied);
}

TEST_F(RealClients, TrailerFieldsAndEarlyHintsPassBothWays)
{
    const auto withoutLastChunk = [](const std::string &body) { return body.substr(0, body.size() - 5); };
    standintest::RequestLog log;
    ScriptedHost host(log.recording([&](ScriptedHost::Connection &connection, const ScriptedHost::Request &request) {
        std::string echoed = request.trailers;
        std::replace(echoed.begin(), echoed.end(), '\r', ';');
        std::replace(echoed.begin(), echoed.end(), '\n', ' ');
        if (request.line().find("/hints") != std::string::npos)
            connection.send("HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n"
                            "HTTP/1.1 103 Early Hints\r\nLink: </app.js>; rel=preload\r\n\r\n");
        if (request.line().find("/unasked") != std::string::npos) // interim answers nobody asked for
            connection.send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n");
        // A trailer field named as a header field is too.
        connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nServer-Timing: head;dur=1\r\n"
                        "Trailer: X-Checksum, Server-Timing, X-Echo\r\nTransfer-Encoding: chunked\r\n\r\n"
                        + withoutLastChunk(chunked({"got " + request.body}))
                        + "0\r\nX-Checksum: c0ffee\r\nServer-Timing: total;dur=5\r\nX-Echo: " + echoed + "\r\n\r\n");
    }));
    const std::string textFile = (m_dir.path() + "/signed.txt").toStdString();
    writeFile(QString::fromStdString(textFile), "a body with a sum after it");
    const nlohmann::json plan = nlohmann::json::array({
        {{"method", "POST"}, {"path", "/sum"}, {"body_file", textFile}, {"trailers", {{"X-Client-Sum", "42"}}}},
        {{"method", "GET"}, {"path", "/hints"}},
        {{"method", "POST"}, {"path", "/hints"}, {"body_file", textFile}, {"trailers", {{"X-Client-Sum", "7"}}}},
        {{"method", "GET"}, {"path", "/unasked"}},
        {{"method", "POST"}, {"path", "/typed"}, {"body_file", textFile}, {"headers", {{"Content-Type", "text/plain"}}},
         {"trailers", {{"Content-Type", "text/plain"}, {"X-Client-Sum", "9"}}}},
    });
    const QString planFile = writePlan(plan, "trailers-plan.json");
    runAndCompare(plan, planFile, "http://127.0.0.1:" + std::to_string(host.port()), "node");
    // An HTTP/1.0 client is sent no interim answer.
    RawSocket old;
    ASSERT_TRUE(old.connect(m_proxyPort));
    ASSERT_TRUE(old.send("GET http://127.0.0.1:" + std::to_string(host.port()) + "/unasked HTTP/1.0\r\n\r\n"));
    std::string oldAnswer;
    EXPECT_TRUE(old.readToEnd(oldAnswer, std::chrono::seconds(10)));
    EXPECT_EQ(oldAnswer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << oldAnswer;

    const auto seen = log.requests();
    ASSERT_EQ(seen.size(), 11u);
    // The host gets the trailer fields the client sent, whichever way it came.
    std::multiset<std::string> direct;
    std::multiset<std::string> proxied;
    for (const auto &request : seen) {
        if (request.line().rfind("POST", 0) == 0) {
            EXPECT_NE(request.trailers.find("X-Client-Sum: "), std::string::npos) << request.raw;
            (request.header("Via").empty() ? direct : proxied).insert(request.line() + "\n" + request.trailers);
        }
    }
    EXPECT_EQ(proxied, direct);
}

TEST_F(RealClients, CurlGetsAHostsEarlyAnswerToALargeUploadAsItDoesDirectly)
{
    const QString curl = findTool({"curl"});
    ASSERT_FALSE(curl.isEmpty()) << "curl is not installed (scripts/setup installs it)";
    // Reads the head only, answers 413 and closes with the body unread, as servers do with an upload
    // past their limit: the client's side sees a reset once the answer is out.
    const auto refuse = [](ScriptedHost::Connection &connection) {
        if (connection.head().empty())
            return;
        connection.send("HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
                        "Connection: close\r\n\r\ntoo large");
        connection.drop();
    };
    ScriptedHost plain(refuse);
    ScriptedHost secure(refuse, m_pki.server);
    const QString upload = m_dir.path() + "/upload.bin";
    writeFile(upload, std::string(20 * 1024 * 1024, 'u'));
    const auto reply = m_engine->client()->Post("/ca/generate");
    ASSERT_TRUE(reply && reply->status == 200);
    const QString engineCa = m_dir.path() + "/engine-ca.pem";
    writeFile(engineCa, nlohmann::json::parse(reply->body).value("certPEM", ""));

    const auto post = [&](const std::string &url, bool throughProxy, const QString &trusted) {
        QStringList arguments {"-sS", "-o", m_dir.path() + "/answer.txt", "-w", "%{http_code}", "--data-binary",
                               "@" + upload, "-H", "Content-Type: application/octet-stream", "--max-time", "60"};
        if (!trusted.isEmpty())
            arguments << "--cacert" << trusted;
        if (throughProxy)
            arguments << "-x" << "http://127.0.0.1:" + QString::number(m_proxyPort);
        else
            arguments << "--noproxy" << "*";
        QProcess process;
        process.start(curl, arguments << QString::fromStdString(url));
        EXPECT_TRUE(process.waitForFinished(90000)) << url;
        return process.readAllStandardOutput().toStdString() + " " + readFile(m_dir.path() + "/answer.txt");
    };
    const std::string hostCa = (m_dir.path() + "/host-ca.pem").toStdString();
    writeFile(QString::fromStdString(hostCa), m_pki.caPem);
    const std::string http = "http://127.0.0.1:" + std::to_string(plain.port()) + "/upload";
    const std::string https = "https://localhost:" + std::to_string(secure.port()) + "/upload";
    EXPECT_EQ(post(http, false, {}), "413 too large");
    EXPECT_EQ(post(http, true, {}), "413 too large");
    EXPECT_EQ(post(https, false, QString::fromStdString(hostCa)), "413 too large");
    EXPECT_EQ(post(https, true, engineCa), "413 too large");

    // A client still sending when the refusal comes (curl checks for an answer only now and then) goes
    // on sending without meeting a reset, over TLS as over plain HTTP, and then reads the refusal.
    standintest::TunnelClient late;
    ASSERT_EQ(late.open(m_proxyPort, "localhost:" + std::to_string(secure.port())).rfind("HTTP/1.1 200", 0), 0u);
    std::string error;
    ASSERT_TRUE(late.handshake("localhost", readFile(engineCa), error)) << error;
    const std::string piece(1024 * 1024, 'u');
    ASSERT_TRUE(late.send("POST /upload HTTP/1.1\r\nHost: localhost:" + std::to_string(secure.port())
                          + "\r\nContent-Length: 20971520\r\n\r\n" + piece));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(late.send(piece));
    const std::string refusal = late.readResponse(std::chrono::seconds(5));
    EXPECT_EQ(standintest::statusOf(refusal), 413) << refusal;

    // Recorded as what the host answered.
    const auto traffic = m_engine->client()->Get("/traffic?limit=10");
    ASSERT_TRUE(traffic);
    const auto records = nlohmann::json::parse(traffic->body);
    ASSERT_EQ(records.size(), 3u) << traffic->body;
    for (const auto &record : records)
        EXPECT_EQ(record.value("status", 0), 413) << record.value("scheme", "") << " " << record.value("respBody", "");
}

TEST_F(RealClients, APostTheHostTookWithoutAnsweringReachesItOnce)
{
    // The second request on each connection is read and left unanswered, the connection closed.
    std::mutex mutex;
    std::multiset<std::string> seen;
    ScriptedHost host([&](ScriptedHost::Connection &connection) {
        for (int answered = 0;; ++answered) {
            const auto request = connection.next();
            if (!request)
                return;
            {
                std::lock_guard lock(mutex);
                seen.insert(request->line());
            }
            if (answered > 0)
                return connection.drop();
            connection.send("HTTP/1.1 201 Created\r\nContent-Length: 5\r\n\r\nnoted");
        }
    });
    const QString bodyFile = m_dir.path() + "/order.json";
    writeFile(bodyFile, R"({"order":1})");
    nlohmann::json plan = nlohmann::json::array();
    for (int i = 0; i < 4; ++i)
        plan.push_back({{"method", "POST"}, {"path", "/orders/{run}/" + std::to_string(i)}, {"body_file", bodyFile.toStdString()}});
    const QString planFile = writePlan(plan, "orders-plan.json");
    const std::string origin = "http://127.0.0.1:" + std::to_string(host.port());
    for (const auto &client : clients()) {
        const std::string name = std::get<0>(client);
        auto process = start(client, planFile, origin, true);
        const auto proxied = answers(*process, name);
        ASSERT_EQ(proxied.size(), plan.size()) << name;
        for (std::size_t i = 0; i < plan.size(); ++i)
            EXPECT_EQ(proxied[i].status(), i % 2 == 0 ? 201 : 502) << name << " step " << i << " " << proxied[i].json.dump();
        std::lock_guard lock(mutex);
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const std::string line = "POST /orders/" + name + "-proxy/" + std::to_string(i) + " HTTP/1.1";
            EXPECT_EQ(seen.count(line), 1u) << line;
        }
    }
}

TEST_F(RealClients, AnAnswerInATransferCodingBesidesChunkedReachesClientsAsTheHostSentIt)
{
    const std::string gzipped("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xcb\x48\xcd\xc9\xc9\xd7\x51\x48\xce\xcf\x2d\x28"
                              "\x4a\x2d\x2e\x4e\x4d\x51\xc8\xc8\x2f\xe0\x02\x00\x4c\x63\xc1\x10\x16\x00\x00\x00", 42);
    ScriptedHost host([&](ScriptedHost::Connection &connection) {
        while (connection.next())
            connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
                            + chunked({gzipped.substr(0, 20), gzipped.substr(20)}));
    });
    const std::string origin = "http://127.0.0.1:" + std::to_string(host.port());
    const nlohmann::json plan = nlohmann::json::array({{{"method", "GET"}, {"path", "/coded"}}});
    const auto node = clients()[1];
    auto direct = start(node, writePlan(plan, "coded-plan.json"), origin, false);
    auto proxied = start(node, writePlan(plan, "coded-plan.json"), origin, true);
    const auto directAnswers = answers(*direct, "node");
    const auto proxiedAnswers = answers(*proxied, "node");
    ASSERT_EQ(directAnswers.size(), 1u);
    ASSERT_EQ(proxiedAnswers.size(), 1u);
    EXPECT_EQ(proxiedAnswers[0].header("transfer-encoding"), "gzip, chunked");
    EXPECT_EQ(proxiedAnswers[0].header("transfer-encoding"), directAnswers[0].header("transfer-encoding"));
    EXPECT_EQ(proxiedAnswers[0].body(), directAnswers[0].body());

    // curl takes the coding off itself, straight or through the proxy.
    const auto fetch = [&](bool throughProxy) {
        QProcess curl;
        curl.start(findTool({"curl"}), {"-sS", "--max-time", "20", throughProxy ? "-x" : "--noproxy",
                                        throughProxy ? "127.0.0.1:" + QString::number(m_proxyPort) : "*",
                                        QString::fromStdString(origin + "/coded")});
        EXPECT_TRUE(curl.waitForFinished(30000));
        return curl.readAllStandardOutput().toStdString() + curl.readAllStandardError().toStdString();
    };
    EXPECT_EQ(fetch(false), "hello, compressed hop\n");
    EXPECT_EQ(fetch(true), "hello, compressed hop\n");

    // An HTTP/1.0 client can be sent no transfer coding at all.
    RawSocket old;
    ASSERT_TRUE(old.connect(m_proxyPort));
    ASSERT_TRUE(old.send("GET " + origin + "/coded HTTP/1.0\r\n\r\n"));
    std::string refusal;
    EXPECT_TRUE(old.readToEnd(refusal, std::chrono::seconds(10)));
    EXPECT_EQ(refusal.rfind("HTTP/1.0 502 ", 0), 0u) << refusal;
    EXPECT_NE(refusal.find("transfer coding"), std::string::npos) << refusal;
}
