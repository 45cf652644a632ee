// Capture, OpenAPI and profile imports turned into routes.
#include "imports/capture_import.h"
#include "imports/openapi_import.h"
#include "imports/profile_document.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace standin;

namespace {

std::string fixture(const char *name)
{
    std::ifstream in((testsupport::sourceDir() + "/tests/standin-engine/fixtures/").toStdString() + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const WireRoute *find(const std::vector<WireRoute> &routes, const std::string &method, const std::string &path)
{
    for (const auto &route : routes) {
        if (route.method == method && route.path == path)
            return &route;
    }
    return nullptr;
}

} // namespace

TEST(CaptureImport, HarEntriesBecomeRoutesOnePerMethodHostAndPath)
{
    const std::string har = R"({"log":{"version":"1.2","entries":[
        {"time":87.6,"request":{"method":"GET","url":"https://api.test/v2/users?page=1","headers":[]},
         "response":{"status":200,"content":{"mimeType":"application/json","text":"{\"users\":[]}"}}},
        {"time":10,"request":{"method":"GET","url":"https://api.test/v2/users/"},
         "response":{"status":500,"content":{"text":"second of the same route"}}},
        {"time":5,"request":{"method":"post","url":"http://api.test:8080/v2/login"},
         "response":{"status":201,"content":{"text":"eyJvayI6dHJ1ZX0=","encoding":"base64"}}},
        {"request":{"method":"OPTIONS","url":"https://api.test/v2/users"},"response":{"status":204}}]}})";
    std::string error;
    const auto routes = importCapture(har, error);
    ASSERT_TRUE(routes) << error;
    ASSERT_EQ(routes->routes.size(), 2u);
    const WireRoute &users = routes->routes.at(0);
    EXPECT_EQ(users.method, "GET");
    EXPECT_EQ(users.host, "api.test");
    EXPECT_EQ(users.path, "/v2/users");
    EXPECT_EQ(users.status, 200);
    EXPECT_EQ(users.latencyMs, 88);
    EXPECT_EQ(users.body, R"({"users":[]})");
    EXPECT_TRUE(users.active);
    EXPECT_EQ(users.id.rfind("r-", 0), 0u);
    const WireRoute &login = routes->routes.at(1);
    EXPECT_EQ(login.method, "POST");
    EXPECT_EQ(login.host, "api.test:8080");
    EXPECT_EQ(login.body, R"({"ok":true})");
}

TEST(CaptureImport, PlainJsonPostmanAndCharlesShapes)
{
    std::string error;
    const auto plain = importCapture(R"([{"method":"GET","url":"http://api.test/a","status":404,"body":{"e":1}},
                                          {"method":"DELETE","host":"api.test","path":"/b?x=1","status":204}])",
                                     error);
    ASSERT_TRUE(plain) << error;
    ASSERT_EQ(plain->routes.size(), 2u);
    EXPECT_EQ(plain->routes.at(0).status, 404);
    EXPECT_EQ(nlohmann::json::parse(plain->routes.at(0).body), nlohmann::json::parse(R"({"e":1})"));
    EXPECT_EQ(plain->routes.at(1).path, "/b");

    const auto postman = importCapture(R"({"info":{"name":"c","schema":"https://schema.getpostman.com/json/collection/v2.1.0/collection.json"},
        "item":[{"name":"folder","item":[{"name":"one","request":{"method":"PUT","url":{"raw":"https://api.test/things/1"}},
                                          "response":[{"code":200,"body":"{\"id\":1}"}]}]},
                {"name":"two","request":{"method":"GET","url":{"host":["api","test"],"path":["things"]}}}]})",
                                       error);
    ASSERT_TRUE(postman) << error;
    ASSERT_EQ(postman->routes.size(), 2u);
    EXPECT_EQ(postman->routes.at(0).method, "PUT");
    EXPECT_EQ(postman->routes.at(0).body, R"({"id":1})");
    EXPECT_EQ(postman->routes.at(1).path, "/things");

    const auto charles = importCapture(R"([{"status":"COMPLETE","method":"GET","scheme":"https","host":"api.test",
        "actualPort":443,"path":"/feed","query":"a=1","response":{"status":200,"body":{"text":"[1,2]"}},
        "durations":{"total":42}}])",
                                       error);
    ASSERT_TRUE(charles) << error;
    ASSERT_EQ(charles->routes.size(), 1u);
    EXPECT_EQ(charles->routes.at(0).host, "api.test");
    EXPECT_EQ(charles->routes.at(0).path, "/feed");
    EXPECT_EQ(charles->routes.at(0).body, "[1,2]");
    EXPECT_EQ(charles->routes.at(0).latencyMs, 42);
}

TEST(CaptureImport, UnreadableInputGivesAMessage)
{
    std::string error;
    EXPECT_FALSE(importCapture("not json at all", error));
    EXPECT_NE(error.find("not a readable capture"), std::string::npos);
    EXPECT_FALSE(importCapture(R"({"hello":"world"})", error));
    EXPECT_NE(error.find("unrecognised capture"), std::string::npos);
    EXPECT_FALSE(importCapture("[1,2,3]", error));
    EXPECT_FALSE(importCapture(std::string(1000, '[') + std::string(1000, ']'), error));
}

TEST(OpenAPIImport, YamlDocumentGivesOneRoutePerPathAndMethod)
{
    std::string error;
    const auto imported = importOpenAPI(fixture("petstore.yaml"), error);
    ASSERT_TRUE(imported) << error;
    EXPECT_EQ(imported->title, "Petstore");
    ASSERT_EQ(imported->routes.size(), 4u); // HEAD is not a route method

    const WireRoute *list = find(imported->routes, "GET", "/v1/pets");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->host, "petstore.example.com");
    EXPECT_EQ(nlohmann::json::parse(list->body), nlohmann::json::parse(R"([{"id":1,"name":"Rex"}])"));

    const WireRoute *one = find(imported->routes, "GET", "/v1/pets/:petId");
    ASSERT_TRUE(one);
    EXPECT_EQ(one->status, 200); // the 2xx answer, not the 404 listed first
    EXPECT_EQ(nlohmann::json::parse(one->body)["tag"], "dog");

    const WireRoute *created = find(imported->routes, "POST", "/v1/pets");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->status, 201);
    const auto sample = nlohmann::json::parse(created->body);
    EXPECT_EQ(sample["name"], "Fido");
    EXPECT_TRUE(sample["id"].is_number_integer());

    const WireRoute *removed = find(imported->routes, "DELETE", "/v1/pets/:petId");
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->status, 204);
    EXPECT_EQ(removed->body, "");
}

TEST(OpenAPIImport, SwaggerJsonUsesHostBasePathAndExamples)
{
    std::string error;
    const auto imported = importOpenAPI(fixture("orders.json"), error);
    ASSERT_TRUE(imported) << error;
    EXPECT_EQ(imported->title, "Orders API");
    ASSERT_EQ(imported->routes.size(), 3u);
    const WireRoute *order = find(imported->routes, "GET", "/api/orders/:orderId");
    ASSERT_TRUE(order);
    EXPECT_EQ(order->host, "orders.example.com");
    EXPECT_EQ(nlohmann::json::parse(order->body)["total"], 12.5);
    EXPECT_EQ(find(imported->routes, "PATCH", "/api/orders/:orderId")->status, 200);
    EXPECT_EQ(find(imported->routes, "PUT", "/api/orders")->body.front(), '[');
}

TEST(OpenAPIImport, RefusesWhatIsNotAnApiDescription)
{
    std::string error;
    EXPECT_FALSE(importOpenAPI("title: just yaml\n", error));
    EXPECT_NE(error.find("not an OpenAPI"), std::string::npos);
    EXPECT_FALSE(importOpenAPI("{\"openapi\": \"3.0.0\"", error));
    EXPECT_FALSE(importOpenAPI("openapi: 3.0.0\npaths: [unclosed\n", error));
    EXPECT_EQ(openAPIPathToRoute("/a/{id}/b/{other}"), "/a/:id/b/:other");
}

TEST(OpenAPIImport, PathsWithoutTheirSlashesStillMatchRequests)
{
    std::string error;
    const auto swagger = importOpenAPI(R"({"swagger":"2.0","host":"h.test","basePath":"v1/",
        "paths":{"users/{id}":{"get":{"responses":{"2XX":{"description":"ok"}}}}}})", error);
    ASSERT_TRUE(swagger) << error;
    EXPECT_EQ(swagger->routes.front().path, "/v1/users/:id");
    EXPECT_EQ(swagger->routes.front().status, 200);
    const auto openapi = importOpenAPI(R"({"openapi":"3.0.0","servers":[{"url":"https://h.test/api/"}],
        "paths":{"/orders":{"get":{}},"items":{"get":{}}}})", error);
    ASSERT_TRUE(openapi) << error;
    EXPECT_TRUE(find(openapi->routes, "GET", "/api/orders"));
    EXPECT_TRUE(find(openapi->routes, "GET", "/api/items"));
}

TEST(OpenAPIImport, SelfReferencingSchemasStayBounded)
{
    const std::string document = R"({"openapi":"3.0.0","info":{"title":"Loop"},"paths":{"/n":{"get":{"responses":
        {"200":{"content":{"application/json":{"schema":{"$ref":"#/components/schemas/Node"}}}}}}}},
        "components":{"schemas":{"Node":{"type":"object","properties":{
            "a":{"$ref":"#/components/schemas/Node"},"b":{"$ref":"#/components/schemas/Node"},
            "c":{"$ref":"#/components/schemas/Node"},"d":{"$ref":"#/components/schemas/Node"}}}}}})";
    std::string error;
    const auto imported = importOpenAPI(document, error);
    ASSERT_TRUE(imported) << error;
    ASSERT_EQ(imported->routes.size(), 1u);
    EXPECT_LT(imported->routes[0].body.size(), 200000u);
}

TEST(ProfileDocument, RoundTripsRoutesAndChaosAndRefusesOtherFiles)
{
    ProjectState project;
    project.name = "Shop";
    WireRoute route;
    route.id = "r-1";
    route.method = "GET";
    route.host = "api.test";
    route.path = "/x";
    project.routes = {route};
    project.chaos = {builtInChaosPresets(), "slow-network"};

    const std::string text = exportProfile(project, "My Profile");
    EXPECT_EQ(nlohmann::json::parse(text)["name"], "My Profile");
    std::string error;
    const auto read = readProfile(text, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->routes, project.routes);
    ASSERT_TRUE(read->chaos);
    EXPECT_EQ(read->chaos->activeId, "slow-network");

    EXPECT_FALSE(readProfile(R"([{"id":"r-1"}])", error));
    EXPECT_FALSE(readProfile(R"({"kestrionProfile":99,"routes":[]})", error));
    EXPECT_FALSE(readProfile(R"({"kestrionProfile":1,"routes":[{"id":1}]})", error));
    EXPECT_TRUE(readProfile(R"({"kestrionProfile":1,"routes":[]})", error));
}

namespace {

// An OpenAPI document whose paths all answer with one shared example.
std::string fanOutDocument(int paths, size_t exampleBytes)
{
    nlohmann::json document = {{"openapi", "3.0.0"}, {"info", {{"title", "Fan"}}}};
    document["components"]["examples"]["Big"]["value"] = {{"blob", std::string(exampleBytes, 'e')}};
    for (int i = 0; i < paths; ++i) {
        document["paths"]["/p" + std::to_string(i)]["get"]["responses"]["200"]["content"]["application/json"]
                ["examples"]["big"]["$ref"] = "#/components/examples/Big";
    }
    return document.dump();
}

} // namespace

TEST(OpenAPIImport, ASharedExampleMultipliedPastTheBoundIsRefused)
{
    const std::string document = fanOutDocument(400, 50000);
    ASSERT_LT(document.size(), 200000u);
    std::string error;
    EXPECT_FALSE(importOpenAPI(document, error));
    EXPECT_NE(error.find("MB of response bodies"), std::string::npos) << error;

    const auto few = importOpenAPI(fanOutDocument(20, 50000), error);
    ASSERT_TRUE(few) << error;
    EXPECT_EQ(few->routes.size(), 20u);
    EXPECT_GT(few->routes[19].body.size(), 50000u);
}

TEST(OpenAPIImport, FieldsOfTheWrongTypeAreNamedAndNothingThrows)
{
    const auto refusal = [](const std::string &document) {
        std::string error;
        EXPECT_FALSE(importOpenAPI(document, error)) << document;
        return error;
    };
    const std::string op = R"("paths":{"/a":{"get":{"responses":{"200":{"description":"ok"}}}}})";
    EXPECT_NE(refusal(R"({"openapi":"3.0.0","info":{"title":5},)" + op + "}").find("\"info.title\" must be a string"),
              std::string::npos);
    EXPECT_NE(refusal(R"({"openapi":"3.0.0","servers":[{"url":["x"]}],)" + op + "}").find("\"servers[0].url\""),
              std::string::npos);
    EXPECT_NE(refusal(R"({"swagger":"2.0","host":"h.test","basePath":7,)" + op + "}").find("\"basePath\""),
              std::string::npos);
    EXPECT_NE(refusal(R"({"openapi":"3.0.0","paths":{"/a":{"get":{"responses":{"200":{"content":{"application/json":)"
                      R"({"schema":{"type":{"nested":true}}}}}}}}}})")
                  .find("\"type\" must be a string"),
              std::string::npos);
    // A document without one operation makes no empty project.
    EXPECT_NE(refusal(R"({"openapi":"3.0.0","info":{"title":"Empty"},"paths":{"/a":{"summary":"none"}}})")
                  .find("no operations"),
              std::string::npos);

    std::string error;
    const auto titled = importOpenAPI(std::string(R"({"openapi":"3.0.0","info":{"title":"A\u0000B"},)") + op + "}", error);
    ASSERT_TRUE(titled) << error;
    EXPECT_EQ(titled->title, "A B");
}

TEST(OpenAPIImport, SchemasSampledPastTheNodeBoundAreRefusedEvenWhenTheBodiesAreSmall)
{
    // Each response samples a self-merging schema: thousands of nodes for a body of "{}". The bound is
    // lowered to a twentieth so that a hundred paths pass it, as two thousand pass the real one.
    constexpr size_t kNodes = kMaxImportSchemaNodes / 20;
    nlohmann::json document = {{"openapi", "3.0.0"}};
    document["components"]["schemas"]["Knot"]["allOf"] =
        nlohmann::json::array({{{"$ref", "#/components/schemas/Knot"}}, {{"$ref", "#/components/schemas/Knot"}}});
    for (int i = 0; i < 100; ++i) {
        document["paths"]["/k" + std::to_string(i)]["get"]["responses"]["200"]["content"]["application/json"]
                ["schema"]["$ref"] = "#/components/schemas/Knot";
    }
    std::string error;
    EXPECT_FALSE(importOpenAPI(document.dump(), error, kNodes));
    EXPECT_NE(error.find("(more than " + std::to_string(kNodes) + " schema nodes)"), std::string::npos) << error;

    document["paths"] = nlohmann::json::object();
    document["paths"]["/k"]["get"]["responses"]["200"]["content"]["application/json"]["schema"]["$ref"] =
        "#/components/schemas/Knot";
    const auto one = importOpenAPI(document.dump(), error, kNodes);
    ASSERT_TRUE(one) << error;
    EXPECT_EQ(one->routes[0].body, "{}");
}
