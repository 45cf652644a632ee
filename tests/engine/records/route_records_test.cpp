// Routes on the wire: literal JSON both ways, the Endpoint conversions and the enumerations' texts.
#include "engine/records/route_records.h"

#include <gtest/gtest.h>

namespace {

const char *kFullRoute = R"({"id":"r-1","method":"POST","host":"api.example.com","path":"/v1/orders/:id",)"
                         R"("status":201,"latencyMs":250,"active":false,"body":"{\"ok\":true}","override":"500",)"
                         R"("passThrough":true,"sequence":[{"status":200,"body":"a","latencyMs":-5,"override":"timeout",)"
                         R"("repeat":3},{"status":503,"body":""}],"seqMode":"cycle","group":"Orders"})";

const char *kMinimalRoute = R"({"id":"1","method":"GET","host":"h","path":"/","status":200,"latencyMs":0,)"
                            R"("active":true,"body":"","passThrough":false})";

Endpoint sampleEndpoint()
{
    Endpoint endpoint;
    endpoint.id = "r-1";
    endpoint.method = HTTPMethod::POST;
    endpoint.host = "api.example.com";
    endpoint.path = "/v1/orders/:id";
    endpoint.status = 201;
    endpoint.latency = 250;
    endpoint.active = false;
    endpoint.override = ErrorOverride::serverError;
    endpoint.passThrough = true;
    endpoint.body = R"({"ok":true})";
    MockStep first = MockStep::make(200, "a");
    first.latency = -5;
    first.override = ErrorOverride::timeout;
    first.repeatCount = 3;
    endpoint.sequence = {first, MockStep::make(503, "")};
    endpoint.seqMode = "cycle";
    endpoint.group = "Orders";
    return endpoint;
}

} // namespace

TEST(WireRoute, EncodesEveryKeyInFieldOrder)
{
    EXPECT_EQ(encodeRecord(sampleEndpoint().wire()), kFullRoute);
}

TEST(WireRoute, DecodesLiteralJson)
{
    const auto route = decodeRecord<WireRoute>(kFullRoute);
    ASSERT_TRUE(route);
    EXPECT_EQ(route->method, "POST");
    EXPECT_EQ(route->override, "500");
    ASSERT_TRUE(route->sequence);
    ASSERT_EQ(route->sequence->size(), 2u);
    EXPECT_EQ((*route->sequence)[0], (WireStep{200, "a", -5, "timeout", 3}));
    EXPECT_EQ((*route->sequence)[1], (WireStep{503, "", std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(route->seqMode, "cycle");
    EXPECT_EQ(route->group, "Orders");
    EXPECT_EQ(encodeRecord(*route), kFullRoute);
}

TEST(WireRoute, AbsentOptionalsAreOmittedNeverNull)
{
    Endpoint endpoint = Endpoint::fromWire(*decodeRecord<WireRoute>(kMinimalRoute));
    endpoint.seqMode = "anything"; // no steps: neither "sequence" nor "seqMode" is sent
    EXPECT_EQ(encodeRecord(endpoint.wire()), kMinimalRoute);
    EXPECT_EQ(encodeRecord(endpoint.wire()).find("null"), std::string::npos);
    EXPECT_EQ(Endpoint::fromWire(endpoint.wire()).seqMode, "sticky");
}

TEST(WireRoute, PlainStepEncodesOnlyStatusAndBody)
{
    Endpoint endpoint;
    endpoint.id = "x";
    endpoint.sequence = {MockStep::make(202, "done")};
    endpoint.sequence[0].repeatCount = 1;
    const auto j = toOrderedJson(endpoint.wire());
    EXPECT_EQ(j["sequence"].dump(), R"([{"status":202,"body":"done"}])");
    EXPECT_EQ(j["seqMode"], "sticky");

    endpoint.sequence[0].repeatCount = 0; // below 2 is never sent, and comes back as 1
    EXPECT_EQ(toOrderedJson(endpoint.wire())["sequence"].dump(), R"([{"status":202,"body":"done"}])");
    EXPECT_EQ(Endpoint::fromWire(endpoint.wire()).sequence[0].repeatCount, 1);
}

TEST(WireRoute, MissingAlwaysKeyOrWrongTypeFailsTheWholeList)
{
    const std::string good = kMinimalRoute;
    const std::string noPassThrough = R"({"id":"2","method":"GET","host":"h","path":"/","status":200,"latencyMs":0,)"
                                      R"("active":true,"body":""})";
    const std::string stringStatus = R"({"id":"3","method":"GET","host":"h","path":"/","status":"200","latencyMs":0,)"
                                     R"("active":true,"body":"","passThrough":false})";
    const std::string extraKey = R"({"id":"4","method":"GET","host":"h","path":"/","status":200,"latencyMs":0,)"
                                 R"("active":true,"body":"","passThrough":false,"colour":"blue"})";
    EXPECT_FALSE(decodeRecord<std::vector<WireRoute>>("[" + good + "," + noPassThrough + "]"));
    EXPECT_FALSE(decodeRecord<std::vector<WireRoute>>("[" + good + "," + stringStatus + "]"));
    const auto withExtra = decodeRecord<std::vector<WireRoute>>("[" + good + "," + extraKey + "]");
    ASSERT_TRUE(withExtra);
    EXPECT_EQ(withExtra->size(), 2u);
    EXPECT_FALSE(decodeRecord<std::vector<WireRoute>>(
        R"([{"id":"5","method":"GET","host":"h","path":"/","status":200,"latencyMs":0,"active":true,"body":"",)"
        R"("passThrough":false,"sequence":[{"status":200}]}])"));
}

TEST(WireRoute, NullOrMissingSequenceGivesNoSteps)
{
    const auto withNull = decodeRecord<WireRoute>(
        R"({"id":"1","method":"GET","host":"h","path":"/","status":200,"latencyMs":0,"active":true,"body":"",)"
        R"("passThrough":false,"sequence":null,"override":null,"group":null})");
    ASSERT_TRUE(withNull);
    EXPECT_FALSE(withNull->sequence);
    const Endpoint a = Endpoint::fromWire(*withNull);
    const Endpoint b = Endpoint::fromWire(*decodeRecord<WireRoute>(kMinimalRoute));
    EXPECT_TRUE(a.sequence.empty());
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.override, ErrorOverride::ok);
    EXPECT_EQ(a.group, "");
    EXPECT_EQ(a.seqMode, "sticky");
}

TEST(Endpoint, RoundTripKeepsEverythingButStepIds)
{
    const Endpoint original = sampleEndpoint();
    Endpoint back = Endpoint::fromWire(original.wire());
    ASSERT_EQ(back.sequence.size(), 2u);
    EXPECT_NE(back.sequence[0].id, original.sequence[0].id);
    EXPECT_EQ(back.sequence[0].id.size(), 36u);
    for (std::size_t i = 0; i < back.sequence.size(); ++i)
        back.sequence[i].id = original.sequence[i].id;
    EXPECT_EQ(back, original);
}

TEST(Endpoint, TwoDecodingsWithStepsAreUnequal)
{
    const auto route = decodeRecord<WireRoute>(kFullRoute);
    ASSERT_TRUE(route);
    EXPECT_NE(Endpoint::fromWire(*route), Endpoint::fromWire(*route));
    const auto plain = decodeRecord<WireRoute>(kMinimalRoute);
    EXPECT_EQ(Endpoint::fromWire(*plain), Endpoint::fromWire(*plain));
}

TEST(Endpoint, MethodTextIsUpperCasedOrFallsBackToGet)
{
    WireRoute route = *decodeRecord<WireRoute>(kMinimalRoute);
    route.method = "patch";
    EXPECT_EQ(Endpoint::fromWire(route).method, HTTPMethod::PATCH);
    route.method = "Delete";
    EXPECT_EQ(Endpoint::fromWire(route).method, HTTPMethod::DELETE);
    route.method = "HEAD";
    EXPECT_EQ(Endpoint::fromWire(route).method, HTTPMethod::GET);
    route.method = "";
    EXPECT_EQ(Endpoint::fromWire(route).method, HTTPMethod::GET);
}

TEST(HTTPMethod, RawTextsAreExactAndCaseSensitive)
{
    std::vector<std::string> texts;
    for (const HTTPMethod method : allHTTPMethods)
        texts.emplace_back(rawValue(method));
    EXPECT_EQ(texts, (std::vector<std::string>{"GET", "POST", "PUT", "DELETE", "PATCH", "CONNECT"}));
    EXPECT_EQ(httpMethodFromRaw("CONNECT"), HTTPMethod::CONNECT);
    EXPECT_FALSE(httpMethodFromRaw("get"));
    EXPECT_FALSE(httpMethodFromRaw("HEAD"));
    EXPECT_EQ(nlohmann::json(HTTPMethod::PUT).dump(), R"("PUT")");
    EXPECT_EQ(decodeRecord<HTTPMethod>(R"("DELETE")"), HTTPMethod::DELETE);
    EXPECT_FALSE(decodeRecord<HTTPMethod>(R"("delete")"));
    EXPECT_FALSE(decodeRecord<HTTPMethod>("3"));
}

TEST(ErrorOverride, WireTextsBothWays)
{
    EXPECT_FALSE(wireText(ErrorOverride::ok));
    EXPECT_EQ(wireText(ErrorOverride::notFound), "404");
    EXPECT_EQ(wireText(ErrorOverride::serverError), "500");
    EXPECT_EQ(wireText(ErrorOverride::timeout), "timeout");
    EXPECT_EQ(wireText(ErrorOverride::custom), "custom");

    EXPECT_EQ(errorOverrideFromWire("404"), ErrorOverride::notFound);
    EXPECT_EQ(errorOverrideFromWire("500"), ErrorOverride::serverError);
    EXPECT_EQ(errorOverrideFromWire("timeout"), ErrorOverride::timeout);
    EXPECT_EQ(errorOverrideFromWire("custom"), ErrorOverride::custom);
    for (const char *other : {"", "ok", "OK", " 404", "404 ", "Timeout", "CUSTOM", "notFound", "503"})
        EXPECT_EQ(errorOverrideFromWire(other), ErrorOverride::ok) << other;
}

TEST(ErrorOverride, RawValuesAreTheCaseNames)
{
    std::vector<std::string> texts;
    for (const ErrorOverride value : allErrorOverrides)
        texts.emplace_back(rawValue(value));
    EXPECT_EQ(texts, (std::vector<std::string>{"ok", "notFound", "serverError", "timeout", "custom"}));
    EXPECT_EQ(errorOverrideFromRaw("serverError"), ErrorOverride::serverError);
    EXPECT_FALSE(errorOverrideFromRaw("500"));
    EXPECT_FALSE(errorOverrideFromRaw("Ok"));
}

TEST(Endpoint, OverridesTravelAsWireTexts)
{
    Endpoint endpoint = Endpoint::fromWire(*decodeRecord<WireRoute>(kMinimalRoute));
    endpoint.override = ErrorOverride::notFound;
    EXPECT_EQ(endpoint.wire().override, "404");
    endpoint.override = ErrorOverride::ok;
    EXPECT_FALSE(endpoint.wire().override);
    WireRoute route = endpoint.wire();
    route.override = "ok";
    EXPECT_EQ(Endpoint::fromWire(route).override, ErrorOverride::ok);
}

TEST(Endpoint, GroupIsSentOnlyWhenNotEmpty)
{
    Endpoint endpoint;
    endpoint.id = "g";
    EXPECT_FALSE(endpoint.wire().group);
    endpoint.group = "Billing";
    EXPECT_EQ(endpoint.wire().group, "Billing");
}

TEST(Endpoint, ListConversionsKeepOrder)
{
    Endpoint a;
    a.id = "a";
    Endpoint b;
    b.id = "b";
    const auto wires = toWire(std::vector<Endpoint>{a, b});
    ASSERT_EQ(wires.size(), 2u);
    EXPECT_EQ(wires[1].id, "b");
    EXPECT_EQ(toEndpoints(wires), (std::vector<Endpoint>{a, b}));
    EXPECT_EQ(encodeRecord(std::vector<WireRoute>{}), "[]");
}
