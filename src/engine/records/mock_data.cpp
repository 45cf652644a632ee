// The nine demo routes.
#include "engine/records/mock_data.h"

namespace {

Endpoint demo(std::string id, HTTPMethod method, std::string_view host, std::string path, int status, int latency,
              bool active, std::string body)
{
    Endpoint endpoint;
    endpoint.id = std::move(id);
    endpoint.method = method;
    endpoint.host = std::string(host);
    endpoint.path = std::move(path);
    endpoint.status = status;
    endpoint.latency = latency;
    endpoint.active = active;
    endpoint.body = std::move(body);
    return endpoint;
}

std::vector<Endpoint> buildEndpoints()
{
    const auto api = MockData::apiHost;
    return {
        demo("1", HTTPMethod::GET, api, "/v2/users", 200, 120, true,
             "{\n"
             "  \"users\": [\n"
             "    { \"id\": \"usr_01\", \"name\": \"Ada Lovelace\", \"role\": \"admin\" },\n"
             "    { \"id\": \"usr_02\", \"name\": \"Grace Hopper\", \"role\": \"member\" }\n"
             "  ],\n"
             "  \"total\": 24,\n"
             "  \"page\": 1\n"
             "}"),
        demo("2", HTTPMethod::POST, api, "/v2/users", 201, 340, true,
             "{\n"
             "  \"id\": \"usr_03\",\n"
             "  \"email\": \"alan.turing@acme-demo.dev\",\n"
             "  \"created_at\": \"2026-06-28T10:42:00Z\"\n"
             "}"),
        demo("3", HTTPMethod::GET, api, "/v2/users/:id/profile", 200, 88, false,
             "{\n"
             "  \"id\": \"usr_01\",\n"
             "  \"name\": \"Ada Lovelace\",\n"
             "  \"avatar_url\": \"https://" + std::string(MockData::cdnHost) + "/avatars/usr_01.jpg\"\n"
             "}"),
        demo("4", HTTPMethod::PUT, api, "/v2/users/:id", 200, 210, true,
             "{\n"
             "  \"id\": \"usr_01\",\n"
             "  \"updated\": true,\n"
             "  \"updated_at\": \"2026-06-28T11:15:00Z\"\n"
             "}"),
        demo("5", HTTPMethod::DELETE, api, "/v2/users/:id", 204, 95, true, ""),
        demo("6", HTTPMethod::GET, api, "/v2/auth/session", 401, 45, true,
             "{\n"
             "  \"error\": \"Unauthorized\",\n"
             "  \"code\": \"TOKEN_EXPIRED\",\n"
             "  \"message\": \"JWT token has expired\"\n"
             "}"),
        demo("7", HTTPMethod::POST, api, "/v2/payments/charge", 500, 2800, false,
             "{\n"
             "  \"error\": \"Internal Server Error\",\n"
             "  \"trace_id\": \"tr_7f3a1c9d\"\n"
             "}"),
        demo("8", HTTPMethod::GET, MockData::cdnHost, "/v2/products", 200, 156, true,
             "{\n"
             "  \"products\": [],\n"
             "  \"total\": 0\n"
             "}"),
        demo("9", HTTPMethod::PATCH, api, "/v2/products/:id", 200, 188, true,
             "{\n"
             "  \"id\": \"prod_99\",\n"
             "  \"price\": 49.99,\n"
             "  \"updated\": true\n"
             "}"),
    };
}

} // namespace

const std::vector<Endpoint> &MockData::endpoints()
{
    static const std::vector<Endpoint> routes = buildEndpoints();
    return routes;
}
