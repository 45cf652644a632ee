// Schema drift: baselines learnt from a host's answers passed through the real stand-in engine, the
// drift they report, relearning and clearing; the request forms on a recording fake.
#include "ops_test_support.h"

#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using opstest::route;

namespace {

// A host on 127.0.0.1 answering every request with the body it is given, one connection at a time.
class JsonHost final {
public:
    JsonHost()
        : m_socket(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_socket, 16);
        socklen_t length = sizeof address;
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~JsonHost()
    {
        ::shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        ::close(m_socket);
    }
    QString name() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    void setBody(std::string body)
    {
        std::lock_guard lock(m_mutex);
        m_body = std::move(body);
    }

private:
    void serve()
    {
        for (int client; (client = ::accept(m_socket, nullptr, nullptr)) >= 0; ::close(client)) {
            std::string request;
            char piece[4096];
            for (ssize_t n; request.find("\r\n\r\n") == std::string::npos && (n = ::read(client, piece, sizeof piece)) > 0;)
                request.append(piece, size_t(n));
            std::string body;
            {
                std::lock_guard lock(m_mutex);
                body = m_body;
            }
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                                       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
            [[maybe_unused]] const ssize_t written = ::write(client, answer.data(), answer.size());
        }
    }

    int m_socket;
    int m_port = 0;
    std::mutex m_mutex;
    std::string m_body;
    std::thread m_thread;
};

class Schema : public EngineOpsTest
{
protected:
    std::optional<std::vector<SchemaBaseline>> fetch()
    {
        std::optional<std::vector<SchemaBaseline>> baselines;
        client().fetchSchema(&client(), [&](const std::vector<SchemaBaseline> &b) { baselines = b; });
        testsupport::waitFor([&] { return baselines.has_value(); });
        return baselines;
    }

    // The host answers with `body`, passed through by a route; a mock of the same shape beside it,
    // which is never learned from.
    bool serve(const std::string &body)
    {
        m_host.setBody(body);
        Endpoint user = route("r-user", "/user");
        user.host = "127.0.0.1";
        user.passThrough = true;
        Endpoint mocked = route("r-mock", "/user", body);
        mocked.host = "schema.test";
        client().setEndpoints({user, mocked});
        client().pushRoutes();
        return testsupport::waitFor([&] { return !client().routePushPending(); });
    }

    JsonHost m_host;
};

} // namespace

TEST_F(Schema, LockedBaselineReportsDriftThatFetchAndClearFollow)
{
    ASSERT_TRUE(bootLoaded(true));
    ASSERT_TRUE(serve(R"({"id":1,"name":"Ada"})"));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(proxyGet(m_host.name(), QStringLiteral("/user")), 200);
        ASSERT_EQ(proxyGet(QStringLiteral("schema.test"), QStringLiteral("/user")), 200);
    }
    ASSERT_TRUE(serve(R"({"id":"one"})"));
    ASSERT_EQ(proxyGet(QStringLiteral("schema.test"), QStringLiteral("/user")), 200);
    ASSERT_EQ(proxyGet(m_host.name(), QStringLiteral("/user")), 200);
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().schemaDrifts().isEmpty(); }));
    EXPECT_EQ(client().unseenDrift(), 1);

    client().setSchemaDrifts({}); // the fetch brings back the engine's findings
    const auto baselines = fetch();
    ASSERT_TRUE(baselines.has_value());
    ASSERT_EQ(baselines->size(), 1u);
    const SchemaBaseline &baseline = baselines->front();
    EXPECT_TRUE(baseline.locked);
    EXPECT_EQ(baseline.samples, 3);
    EXPECT_EQ(QString::fromStdString(baseline.host), m_host.name());
    ASSERT_EQ(client().schemaDrifts().size(), 1);
    EXPECT_EQ(client().schemaDrifts().first().key, baseline.key);
    EXPECT_GE(client().schemaDrifts().first().breaking(), 1);
    EXPECT_EQ(client().unseenDrift(), 1); // a fetch does not touch the unseen count

    const QString key = QString::fromStdString(baseline.key);
    client().relearnSchema(key);
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 relearning ") + key));
    const auto relearnt = fetch();
    ASSERT_TRUE(relearnt.has_value());
    for (const SchemaBaseline &b : *relearnt) {
        if (b.key == baseline.key) {
            EXPECT_FALSE(b.locked);
        }
    }

    client().clearSchema();
    EXPECT_TRUE(client().schemaDrifts().isEmpty());
    EXPECT_EQ(client().unseenDrift(), 0);
    ASSERT_TRUE(testsupport::waitFor([&] {
        const auto after = fetch();
        return after && after->empty();
    }));
    EXPECT_TRUE(client().schemaDrifts().isEmpty());
}

TEST_F(Schema, WithoutEngineFetchKeepsFindingsAndClearEmptiesThem)
{
    client().handleEvent(R"({"type":"schema_drift","time":"T1","drift":{"key":"GET a/b","trafficId":"t1",)"
                         R"("breaking":0,"changes":[]}})");
    ASSERT_EQ(client().schemaDrifts().size(), 1);
    bool called = false;
    client().fetchSchema(nullptr, [&](const std::vector<SchemaBaseline> &b) {
        called = true;
        EXPECT_TRUE(b.empty());
    });
    EXPECT_TRUE(called);
    EXPECT_EQ(client().schemaDrifts().size(), 1);

    const int lines = int(client().log().size());
    client().relearnSchema(std::nullopt);
    opstest::settle(100);
    EXPECT_EQ(client().log().size(), lines);

    client().clearSchema();
    EXPECT_TRUE(client().schemaDrifts().isEmpty());
    EXPECT_EQ(client().unseenDrift(), 0);
}

using SchemaRequests = FakeEngineTest;

TEST_F(SchemaRequests, RelearnSendsTheKeyEncodedOrEmpty)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/schema/relearn")
            return answer(500, "nope");
        return std::nullopt;
    };
    connectClient();
    m_client.relearnSchema(std::nullopt);
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().contains(QStringLiteral("\u2022 relearning all baselines")); }));
    m_client.relearnSchema(QStringLiteral("GET api.test/a b+c&d"));
    ASSERT_TRUE(testsupport::waitFor([&] {
        return m_client.log().contains(QStringLiteral("\u2022 relearning GET api.test/a b+c&d"));
    }));
    // A "%" in a route's path is part of the key, not an escape.
    m_client.relearnSchema(QStringLiteral("GET api.test/a%41%zz"));
    ASSERT_TRUE(testsupport::waitFor([&] {
        return m_client.log().contains(QStringLiteral("\u2022 relearning GET api.test/a%41%zz"));
    }));
    const QList<RecordedRequest> posts = m_server.matching("POST", "/schema/relearn");
    ASSERT_EQ(posts.size(), 3);
    EXPECT_EQ(posts[0].target, QByteArray("/schema/relearn?key="));
    EXPECT_EQ(QUrlQuery(QString::fromUtf8(posts[1].target.mid(posts[1].target.indexOf('?') + 1)))
                  .queryItemValue(QStringLiteral("key"), QUrl::FullyDecoded),
              QStringLiteral("GET api.test/a b+c&d"));
    EXPECT_TRUE(posts[1].target.contains("%2B"));
    EXPECT_TRUE(posts[1].target.contains("%26"));
    EXPECT_EQ(posts[2].target, QByteArray("/schema/relearn?key=GET%20api.test/a%2541%25zz"));
}

TEST_F(SchemaRequests, FetchTakesAllFindingsWhateverTheStatus)
{
    QByteArray drifts;
    for (int i = 0; i < 250; ++i)
        drifts += (i ? "," : "") + QByteArray(R"({"key":"GET a/b","trafficId":"t)") + QByteArray::number(i)
                  + R"(","time":"T","changes":[]})";
    const QByteArray snapshot = R"({"baselines":[{"key":"GET a/b","method":"GET","host":"a","path":"/b","locked":true,"samples":3}],"drifts":[)"
                                + drifts + "]}";
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/schema")
            return answer(404, snapshot);
        return std::nullopt;
    };
    connectClient();
    std::optional<std::vector<SchemaBaseline>> baselines;
    m_client.fetchSchema(&m_client, [&](const std::vector<SchemaBaseline> &b) { baselines = b; });
    ASSERT_TRUE(testsupport::waitFor([&] { return baselines.has_value(); }));
    ASSERT_EQ(baselines->size(), 1u);
    EXPECT_EQ(m_client.schemaDrifts().size(), 250);
    EXPECT_EQ(m_client.schemaDrifts().last().trafficId, "t249");
}
