// Only the process that started the engine drives it: the token on every control request, and one Host.
#include "control/control_http.h"
#include "control_api.h"
#include "standin-engine/engine_process.h"

#include "engine/records/engine_records.h"

#include <gtest/gtest.h>

namespace {

using standintest::RawSocket;
using standintest::statusOf;

constexpr auto kTokenPatience = std::chrono::seconds(10);

// One request written by hand with the given fields, on a connection of its own; what came back up to
// the end of the answer's head (an event stream never ends), or the whole answer when it closes.
std::string sendControl(int port, const std::string &method, const std::string &target, const std::string &fields,
                        const std::string &body)
{
    RawSocket socket;
    if (!socket.connect(port))
        return {};
    std::string request = method + " " + target + " HTTP/1.1\r\n" + fields + "\r\nConnection: close\r\n";
    if (!body.empty())
        request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    socket.send(request + "\r\n" + body);
    if (target == "/events")
        return socket.readUntil("\r\n\r\n", kTokenPatience);
    std::string answer;
    socket.readToEnd(answer, kTokenPatience);
    return answer;
}

class ControlToken : public standintest::EngineTest {
protected:
    std::string hostField() const { return "Host: 127.0.0.1:" + std::to_string(m_engine->controlPort()); }
    // What a stranger could read or change, to see that nothing did.
    std::string observableState() const
    {
        auto client = m_engine->client();
        const auto health = decodeRecord<EngineHealth>(client->Get("/health")->body);
        return client->Get("/routes")->body + client->Get("/projects")->body + client->Get("/traffic")->body
               + (health && health->proxyRunning ? "running" : "stopped");
    }
};

} // namespace

TEST(ControlTokenRule, OneFieldWithTheWholeTokenIsTheOnlyWayIn)
{
    const auto shown = [](std::vector<std::pair<std::string, std::string>> headers, std::string_view token) {
        standin::ControlRequest request;
        request.headers = std::move(headers);
        return standin::controlTokenShown(request, token);
    };
    EXPECT_TRUE(shown({{"X-Kestrion-Token", "0f3a9c"}}, "0f3a9c"));
    EXPECT_TRUE(shown({{"Host", "x"}, {"x-kestrion-token", "0f3a9c"}}, "0f3a9c"));
    // No token, a wrong, an empty one and the token beside another are refused by the engine itself below.
    for (const auto &headers : std::vector<std::vector<std::pair<std::string, std::string>>> {
             {{"X-Kestrion-Token", "0f3a9"}},
             {{"X-Kestrion-Token", "0f3a9c0"}},
             {{"X-Kestrion-Token", "0F3A9C"}},
             {{"X-Kestrion-Token", "0f3a9c"}, {"X-Kestrion-Token", "0f3a9c"}},
             {{"X-Kestrion-Events-Token", "0f3a9c"}},
         }) {
        EXPECT_FALSE(shown(headers, "0f3a9c")) << headers.size();
    }
    EXPECT_FALSE(shown({{"X-Kestrion-Token", ""}}, "")); // an engine without a token lets nobody in
}

TEST_F(ControlToken, EveryKindOfRouteRefusesAStrangerAndChangesNothing)
{
    setRoutes({standintest::wireRoute("r-1", "GET", "api.test", "/a", R"({"a":1})")});
    ASSERT_TRUE(standintest::proxyRequest(m_proxyPort, "GET", "http://api.test/a"));
    const std::string id = history().at(0).id;
    struct Route {
        std::string method;
        std::string target;
        std::string body;
        int withToken;
    };
    const std::vector<Route> routes {
        {"GET", "/health", "", 200},
        {"GET", "/events", "", 200},
        {"GET", "/routes", "", 200},
        {"GET", "/traffic/" + id, "", 200},
        {"GET", "/environments", "", 200},
        {"GET", "/no/such/request", "", 404},
        {"POST", "/replay/" + id, "", 200},
        {"POST", "/projects", R"({"name":"Intruder"})", 201},
        {"POST", "/routes", "[]", 200},
        {"POST", "/control/stop", "", 200},
        {"DELETE", "/traffic", "", 204},
    };
    const std::string token = m_engine->controlToken();
    ASSERT_EQ(token.size(), 64u);
    std::string wrong = token;
    wrong.back() = wrong.back() == '0' ? '1' : '0';
    const std::vector<std::pair<const char *, std::string>> strangers {
        {"no token", hostField()},
        {"a wrong token", hostField() + "\r\nX-Kestrion-Token: " + wrong},
        {"an empty token", hostField() + "\r\nX-Kestrion-Token: "},
        {"the token and another", hostField() + "\r\nX-Kestrion-Token: " + token + "\r\nX-Kestrion-Token: " + wrong},
    };

    const std::string before = observableState();
    for (const auto &route : routes) {
        for (const auto &[who, fields] : strangers) {
            const std::string answer = sendControl(m_engine->controlPort(), route.method, route.target, fields, route.body);
            EXPECT_EQ(statusOf(answer), 401) << route.method << " " << route.target << " with " << who << ": " << answer;
            const auto error = decodeRecord<ErrorReply>(standintest::bodyOf(answer));
            ASSERT_TRUE(error) << answer;
            EXPECT_EQ(error->error.find(token), std::string::npos);
            EXPECT_NE(answer.find("WWW-Authenticate: Kestrion-Token\r\n"), std::string::npos) << answer;
        }
    }
    EXPECT_EQ(observableState(), before);

    for (const auto &route : routes) {
        const std::string answer = sendControl(m_engine->controlPort(), route.method, route.target,
                                               m_engine->controlFields(), route.body);
        EXPECT_EQ(statusOf(answer), route.withToken) << route.method << " " << route.target << ": " << answer;
        EXPECT_EQ(answer.find(token), std::string::npos) << answer;
    }
    EXPECT_NE(observableState(), before);
}

TEST_F(ControlToken, TwoHostFieldsAreRefusedWhateverTheirOrder)
{
    const std::string projects = m_engine->client()->Get("/projects")->body;
    const std::string token = "X-Kestrion-Token: " + m_engine->controlToken();
    for (const std::string &hosts : {hostField() + "\r\nHost: evil.example", "Host: evil.example\r\n" + hostField(),
                                     hostField() + "\r\n" + hostField()}) {
        const std::string answer = sendControl(m_engine->controlPort(), "POST", "/projects", hosts + "\r\n" + token,
                                               R"({"name":"Rebound"})");
        EXPECT_EQ(statusOf(answer), 400) << hosts << ": " << answer;
        EXPECT_TRUE(decodeRecord<ErrorReply>(standintest::bodyOf(answer))) << answer;
    }
    EXPECT_EQ(m_engine->client()->Get("/projects")->body, projects);
}

TEST_F(ControlToken, AbsoluteTargetsNameTheControlPortByTheirOwnAuthority)
{
    const std::string port = std::to_string(m_engine->controlPort());
    const std::string token = "X-Kestrion-Token: " + m_engine->controlToken();
    // The authority in the target counts, not the Host field (RFC 9112 §3.2.2).
    const std::vector<std::tuple<std::string, std::string, int>> cases = {
        {"http://127.0.0.1:" + port + "/health", hostField(), 200},
        {"HTTP://localhost:" + port + "/traffic?limit=1", "Host: evil.example", 200},
        {"http://127.0.0.1:" + port, hostField(), 404}, // "/": no such control request
        {"http://evil.example:" + port + "/health", hostField(), 403},
    };
    for (const auto &[target, host, status] : cases) {
        const std::string answer = sendControl(m_engine->controlPort(), "GET", target, host + "\r\n" + token, {});
        EXPECT_EQ(statusOf(answer), status) << target << ": " << answer;
    }
}

TEST_F(ControlToken, TransferCodingsAreRefusedAsRfc9112Says)
{
    const std::string fields = hostField() + "\r\nX-Kestrion-Token: " + m_engine->controlToken();
    // Not ending in chunked, the body can't be framed: 400. Ending in it after a coding the engine
    // doesn't decode: 501. Either way the connection ends, and nothing after it is read as a request.
    const std::vector<std::pair<std::string, int>> codings = {
        {"gzip", 400}, {"identity", 400}, {"chunked, gzip", 400}, {"gzip, chunked", 501}, {"GZIP ,chunked", 501},
    };
    for (const auto &[coding, status] : codings) {
        RawSocket socket;
        ASSERT_TRUE(socket.connect(m_engine->controlPort()));
        socket.send("POST /projects HTTP/1.1\r\n" + fields + "\r\nContent-Type: application/json\r\nTransfer-Encoding: "
                    + coding + "\r\n\r\n0\r\n\r\nGET /health HTTP/1.1\r\n" + fields + "\r\n\r\n");
        std::string answer;
        EXPECT_TRUE(socket.readToEnd(answer, kTokenPatience)) << coding;
        EXPECT_EQ(statusOf(answer), status) << coding << ": " << answer;
        EXPECT_EQ(answer.find("HTTP/1.1", 5), std::string::npos) << coding << ": a second answer: " << answer;
    }
    EXPECT_EQ(decodeRecord<ProjectList>(m_engine->client()->Get("/projects")->body)->projects.size(), 1u);
}
