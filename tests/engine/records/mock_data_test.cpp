// The demo route set.
#include "engine/records/mock_data.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

TEST(MockData, NineRoutesInOrder)
{
    const auto &routes = MockData::endpoints();
    ASSERT_EQ(routes.size(), 9u);
    const std::vector<std::tuple<std::string, HTTPMethod, std::string, int, int, bool>> expected = {
        {"1", HTTPMethod::GET, "/v2/users", 200, 120, true},
        {"2", HTTPMethod::POST, "/v2/users", 201, 340, true},
        {"3", HTTPMethod::GET, "/v2/users/:id/profile", 200, 88, false},
        {"4", HTTPMethod::PUT, "/v2/users/:id", 200, 210, true},
        {"5", HTTPMethod::DELETE, "/v2/users/:id", 204, 95, true},
        {"6", HTTPMethod::GET, "/v2/auth/session", 401, 45, true},
        {"7", HTTPMethod::POST, "/v2/payments/charge", 500, 2800, false},
        {"8", HTTPMethod::GET, "/v2/products", 200, 156, true},
        {"9", HTTPMethod::PATCH, "/v2/products/:id", 200, 188, true},
    };
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const Endpoint &e = routes[i];
        const auto &[id, method, path, status, latency, active] = expected[i];
        EXPECT_EQ(e.id, id);
        EXPECT_EQ(e.method, method) << id;
        EXPECT_EQ(e.path, path) << id;
        EXPECT_EQ(e.status, status) << id;
        EXPECT_EQ(e.latency, latency) << id;
        EXPECT_EQ(e.active, active) << id;
        EXPECT_EQ(e.override, ErrorOverride::ok);
        EXPECT_FALSE(e.passThrough);
        EXPECT_TRUE(e.sequence.empty());
        EXPECT_EQ(e.seqMode, "sticky");
        EXPECT_EQ(e.group, "");
        EXPECT_EQ(e.host, i == 7 ? MockData::cdnHost : MockData::apiHost) << id;
    }
    EXPECT_EQ(&MockData::endpoints(), &routes);
}

TEST(MockData, BodiesAreLaidOutJsonWithKeysInOrder)
{
    const auto &routes = MockData::endpoints();
    EXPECT_EQ(routes[4].body, "");
    for (const Endpoint &e : routes) {
        if (e.body.empty())
            continue;
        const auto json = nlohmann::ordered_json::parse(e.body);
        EXPECT_TRUE(json.is_object()) << e.id;
        EXPECT_EQ(e.body.front(), '{');
        EXPECT_EQ(e.body.substr(0, 4), "{\n  ");
        EXPECT_EQ(e.body.back(), '}') << "no final line break";
        EXPECT_EQ(e.body[e.body.size() - 2], '\n');
    }
    EXPECT_EQ(routes[0].body.substr(0, 14), "{\n  \"users\": [");
    EXPECT_NE(routes[0].body.find("\n    { \"id\": \"usr_01\", \"name\": "), std::string::npos);
    const auto users = nlohmann::ordered_json::parse(routes[0].body);
    EXPECT_EQ(users["total"], 24);
    EXPECT_EQ(users["page"], 1);
    EXPECT_EQ(users["users"][1]["role"], "member");
    std::vector<std::string> keys;
    for (const auto &item : users.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"users", "total", "page"}));

    const auto profile = nlohmann::json::parse(routes[2].body);
    const std::string avatar = profile["avatar_url"];
    EXPECT_EQ(avatar, "https://" + std::string(MockData::cdnHost) + "/avatars/usr_01.jpg");
    EXPECT_EQ(routes[7].body, "{\n  \"products\": [],\n  \"total\": 0\n}");
    EXPECT_EQ(nlohmann::json::parse(routes[8].body)["price"], 49.99);
    EXPECT_EQ(nlohmann::json::parse(routes[5].body)["code"], "TOKEN_EXPIRED");
}

TEST(MockData, HostsShareOneDomain)
{
    EXPECT_EQ(MockData::apiHost.substr(0, 4), "api.");
    EXPECT_EQ(MockData::cdnHost.substr(0, 4), "cdn.");
    EXPECT_EQ(MockData::apiHost.substr(4), MockData::cdnHost.substr(4));
}
