// Requests that would multiply a small upload into gigabytes get a clean 4xx from a real engine, the
// engine gives memory back after a large write, and a refused import leaves no project behind.
#include "standin-engine/engine_process.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using standintest::EngineProcess;
using standintest::RawSocket;
using standintest::statusOf;
using nlohmann::json;

namespace {

void expectRefusal(const standintest::Result &reply, const std::string &wording)
{
    ASSERT_TRUE(reply) << "no answer";
    EXPECT_EQ(reply->status / 100, 4) << reply->status << " " << reply->body.substr(0, 300);
    const auto error = decodeRecord<ErrorReply>(reply->body);
    ASSERT_TRUE(error) << reply->body.substr(0, 300);
    EXPECT_NE(error->error.find(wording), std::string::npos) << error->error;
}

std::size_t projectCount(standintest::HttpClient &client)
{
    const auto list = decodeRecord<ProjectList>(client.Get("/projects")->body);
    return list ? list->projects.size() : 0;
}

} // namespace

// The address and thread sanitizers reserve terabytes of address space (shadow memory; ASan also keeps
// freed memory in quarantine), so a memory cap or a resident-size figure means nothing in their builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_ADDRESS_SANITIZER() GTEST_SKIP() << "memory figures are meaningless under the sanitizers"
#else
#define SKIP_UNDER_ADDRESS_SANITIZER() (void)0
#endif

TEST(EngineLimits, SmallUploadsThatExpandToGigabytesAreRefusedUnderAMemoryCap)
{
    SKIP_UNDER_ADDRESS_SANITIZER();
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    // Far more than a bounded engine needs, far less than any of these requests would take unbounded.
    engine.setDataLimit(1536LL * 1024 * 1024);
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    client->set_read_timeout(60, 0);

    // A 10 KB id in three nested arrays, fifty of each: 1.25 GB of digits.
    const json example = {{"id", json::array({json::array({json::array({std::string(10000, '7')})})})}};
    const json generate = {{"key", ""}, {"example", example.dump()}, {"seed", 1}, {"count", 50}};
    expectRefusal(client->Post("/mock/generate", generate.dump(), "application/json"), "too large");

    // One 100 KB string aliased 10,000 times in a 140 KB document: a gigabyte of text.
    std::string yaml = "openapi: 3.0.0\ninfo: {title: Aliased}\nlong: &s " + std::string(100000, 'y') + "\nuses: [";
    for (int i = 0; i < 10000; ++i)
        yaml += i ? ",*s" : "*s";
    yaml += "]\npaths: {/a: {get: {responses: {'200': {description: ok}}}}}\n";
    expectRefusal(client->Post("/import/openapi", yaml, "application/octet-stream"), "aliases expand");

    // A 1 MB example shared by 2,000 operations: two gigabytes of response bodies.
    json fanOut = {{"openapi", "3.0.0"}, {"info", {{"title", "Fan"}}}};
    fanOut["components"]["examples"]["Big"]["value"] = {{"blob", std::string(1000000, 'e')}};
    for (int i = 0; i < 2000; ++i) {
        fanOut["paths"]["/p" + std::to_string(i)]["get"]["responses"]["200"]["content"]["application/json"]
              ["examples"]["big"]["$ref"] = "#/components/examples/Big";
    }
    expectRefusal(client->Post("/import/openapi", fanOut.dump(), "application/octet-stream"), "MB of response bodies");

    EXPECT_EQ(engine.process().state(), QProcess::Running);
    EXPECT_EQ(projectCount(*client), 1u);
    const auto health = decodeRecord<EngineHealth>(client->Get("/health")->body);
    ASSERT_TRUE(health);
    EXPECT_LT(health->memoryBytes, 512LL * 1024 * 1024);
}

// A 10 KB mock naming a 1 MiB variable a thousand times would fill in to a gigabyte: answered 500 with
// the reason, before anything is built; what fits within 4 MB is filled in whole.
TEST(EngineLimits, VariablesFilledInPastFourMegabytesAnswerA500)
{
    SKIP_UNDER_ADDRESS_SANITIZER();
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setDataLimit(768LL * 1024 * 1024);
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    client->set_read_timeout(30, 0);
    EnvironmentSet environments {{{"env-1", "Big", std::vector<WireVar> {{"blob", std::string(1024 * 1024, 'b')}}}},
                                 "env-1"};
    ASSERT_EQ(client->Post("/environments", encodeRecord(environments), "application/json")->status, 200);
    std::string many;
    for (int i = 0; i < 1000; ++i)
        many += "{{blob}}.";
    const std::string routes = json::array({
        {{"id", "r-many"}, {"method", "GET"}, {"host", "api.test"}, {"path", "/many"}, {"status", 200},
         {"latencyMs", 0}, {"active", true}, {"body", many}, {"passThrough", false}},
        {{"id", "r-few"}, {"method", "GET"}, {"host", "api.test"}, {"path", "/few"}, {"status", 200},
         {"latencyMs", 0}, {"active", true}, {"body", "{{blob}}{{blob}}{{blob}}"}, {"passThrough", false}},
    }).dump();
    ASSERT_EQ(client->Post("/routes", routes, "application/json")->status, 200);

    const auto refused = standintest::proxyRequest(engine.proxyPort(), "GET", "http://api.test/many");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 500);
    const auto error = decodeRecord<ErrorReply>(refused->body);
    ASSERT_TRUE(error) << refused->body.substr(0, 300);
    EXPECT_EQ(error->error, "the route's body with its {{variables}} filled in would pass 4 MB");
    const auto filled = standintest::proxyRequest(engine.proxyPort(), "GET", "http://api.test/few");
    ASSERT_TRUE(filled);
    EXPECT_EQ(filled->status, 200);
    EXPECT_EQ(filled->body, std::string(3 * 1024 * 1024, 'b'));
    EXPECT_EQ(engine.process().state(), QProcess::Running);
    ASSERT_EQ(client->Get("/health")->status, 200);
}

TEST(EngineLimits, MemoryTakenByALargeWriteIsGivenBack)
{
    SKIP_UNDER_ADDRESS_SANITIZER();
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    EnvironmentSet large;
    WireEnvironment environment {"env-1", "Large", std::vector<WireVar> {}};
    for (int i = 0; i < 30000; ++i)
        environment.vars->push_back({"key" + std::to_string(i), std::string(30, 'v')});
    large.environments.push_back(environment);
    large.activeId = "env-1";
    auto client = engine.client();
    client->set_read_timeout(30, 0); // each save is synced to a disk other tests share
    ASSERT_EQ(client->Post("/environments", encodeRecord(large), "application/json")->status, 200);

    // Each small write saves the whole state again; each comes on a connection of its own.
    for (int i = 0; i < 15; ++i) {
        const std::string routes = R"([{"id":"r-)" + std::to_string(i) + R"(","method":"GET","host":"a.test",)"
                                   R"("path":"/x","status":200,"latencyMs":0,"active":true,"body":"",)"
                                   R"("passThrough":false}])";
        ASSERT_EQ(client->Post("/routes", routes, "application/json")->status, 200);
    }
    const auto health = decodeRecord<EngineHealth>(client->Get("/health")->body);
    ASSERT_TRUE(health);
    // Unreturned (neither purged nor decayed), this is about 350 MB; returned, a few tens of megabytes.
    EXPECT_LT(health->memoryBytes, 256LL * 1024 * 1024);
}

TEST(EngineLimits, RefusedImportsAndBadNamesLeaveNoProjectBehind)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    const std::string operation = R"("paths":{"/a":{"get":{"responses":{"200":{"description":"ok"}}}}})";

    expectRefusal(client->Post("/import/openapi", R"({"openapi":"3.0.0","paths":{"/a":{"summary":"x"}}})",
                               "application/octet-stream"),
                  "no operations");
    expectRefusal(client->Post("/import/openapi", R"({"openapi":"3.0.0","info":{"title":["T"]},)" + operation + "}",
                               "application/octet-stream"),
                  "\"info.title\"");
    expectRefusal(client->Post("/import/openapi", R"({"openapi":"3.0.0","servers":[{"url":1}],)" + operation + "}",
                               "application/octet-stream"),
                  "\"servers[0].url\"");
    expectRefusal(client->Post("/import/openapi", "swagger: '2.0'\nhost: h.test\nbasePath: {a: 1}\n"
                                                  "paths: {/a: {get: {responses: {'200': {description: ok}}}}}\n",
                               "application/octet-stream"),
                  "\"basePath\"");
    expectRefusal(client->Post("/import/openapi",
                               R"({"openapi":"3.0.0","paths":{"/a":{"get":{"responses":{"200":{"content":)"
                               R"({"application/json":{"schema":{"type":3}}}}}}}}})",
                               "application/octet-stream"),
                  "\"type\"");
    expectRefusal(client->Post("/projects", R"({"name":"nul\u0000inside"})", "application/json"),
                  "control characters");
    EXPECT_EQ(projectCount(*client), 1u);
}

TEST(EngineLimits, BufferedUploadsShareOneBudgetAnd503PastIt)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_BODY_BUDGET", QString::number(6 * 1024 * 1024));
    ASSERT_TRUE(engine.start());
    const std::string routes = R"([{"id":"r-make","method":"POST","host":"api.test","path":"/make","status":201,)"
                               R"("latencyMs":0,"active":true,"body":"made","passThrough":false}])";
    ASSERT_EQ(engine.client()->Post("/routes", routes, "application/json")->status, 200);
    const std::size_t size = 3900 * 1024;
    const std::string head = "POST http://api.test/make HTTP/1.1\r\nHost: api.test\r\n";
    const std::string sized = head + "Content-Length: " + std::to_string(size) + "\r\n\r\n";

    auto unfinished = std::make_unique<RawSocket>();
    ASSERT_TRUE(unfinished->connect(engine.proxyPort()));
    ASSERT_TRUE(unfinished->send(sized + std::string(1024 * 1024, 'a')));
    // Its whole length is held from the start, so a second one of that size has no room. The two
    // connections are read on different threads: whichever header the engine reads first holds.
    auto second = std::make_unique<RawSocket>();
    ASSERT_TRUE(second->connect(engine.proxyPort()));
    ASSERT_TRUE(second->send(sized));
    std::string refusal;
    ASSERT_TRUE(testsupport::waitFor([&] {
        for (auto *upload : {&unfinished, &second}) {
            refusal = (*upload)->readUntil("\r\n\r\n", std::chrono::milliseconds(20));
            if (!refusal.empty()) {
                upload->reset();
                return true;
            }
        }
        return false;
    }, 10000));
    EXPECT_EQ(statusOf(refusal), 503);
    auto &holder = unfinished ? unfinished : second;
    // A body of unknown length is held as it grows, and refused when it passes the room left.
    RawSocket chunked;
    ASSERT_TRUE(chunked.connect(engine.proxyPort()));
    ASSERT_TRUE(chunked.send(head + "Transfer-Encoding: chunked\r\n\r\n"));
    const std::string piece(64 * 1024, 'c');
    for (int i = 0; i < 48; ++i) {
        if (!chunked.send("10000\r\n" + piece + "\r\n"))
            break;
    }
    EXPECT_EQ(statusOf(chunked.readUntil("\r\n\r\n", std::chrono::seconds(10))), 503);

    // Once the unfinished upload is gone its share comes back.
    holder.reset();
    ASSERT_TRUE(testsupport::waitFor([&] {
        RawSocket whole;
        if (!whole.connect(engine.proxyPort()) || !whole.send(sized + std::string(size, 'b')))
            return false;
        return statusOf(whole.readUntil("\r\n\r\n", std::chrono::seconds(10))) == 201;
    }));
}

TEST(EngineLimits, ClientsNotReadingALargeMockShareItsBody)
{
    SKIP_UNDER_ADDRESS_SANITIZER();
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    ASSERT_TRUE(engine.start());
    WireRoute route;
    route.id = "r-big";
    route.method = "GET";
    route.host = "api.test";
    route.path = "/big";
    route.body = std::string(3900 * 1024, 'z');
    ASSERT_EQ(engine.client()->Post("/routes", encodeRecord(std::vector<WireRoute> {route}), "application/json")->status,
              200);
    constexpr int kClients = 100;
    std::vector<std::unique_ptr<RawSocket>> stalled;
    for (int i = 0; i < kClients; ++i) {
        stalled.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(stalled.back()->connect(engine.proxyPort()));
        ASSERT_TRUE(stalled.back()->send("GET http://api.test/big HTTP/1.1\r\nHost: api.test\r\n\r\n"));
    }
    // Every one of them is answered (and recorded) and now waits on a client that doesn't read.
    ASSERT_TRUE(testsupport::waitFor([&] {
        const auto traffic = decodeRecord<std::vector<TrafficRecord>>(engine.client()->Get("/traffic?limit=1000")->body);
        return traffic && traffic->size() == static_cast<std::size_t>(kClients);
    }));
    const auto health = decodeRecord<EngineHealth>(engine.client()->Get("/health")->body);
    ASSERT_TRUE(health);
    // A copy per client would be 390 MB.
    EXPECT_LT(health->memoryBytes, 150LL * 1024 * 1024);
}
