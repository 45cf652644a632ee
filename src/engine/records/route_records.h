// Mock routes in their edited form (Endpoint, MockStep) and their wire form (WireRoute, WireStep).
#pragma once

#include "engine/records/json_rules.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class HTTPMethod { GET, POST, PUT, DELETE, PATCH, CONNECT };

inline constexpr std::array<HTTPMethod, 6> allHTTPMethods = {
    HTTPMethod::GET, HTTPMethod::POST, HTTPMethod::PUT, HTTPMethod::DELETE, HTTPMethod::PATCH, HTTPMethod::CONNECT,
};

// "GET", "POST", ... (the raw value is the text).
std::string_view rawValue(HTTPMethod method);
// Exact, case-sensitive match of one of the six texts.
std::optional<HTTPMethod> httpMethodFromRaw(std::string_view text);
// The engine's method texts: upper-cased, then matched; anything else (HEAD, "") is GET.
HTTPMethod httpMethodFromText(std::string_view text);

// Encodes as its raw text; decoding accepts only the six exact texts.
void to_json(nlohmann::json &j, HTTPMethod method);
void to_json(nlohmann::ordered_json &j, HTTPMethod method);
void from_json(const nlohmann::json &j, HTTPMethod &method);

enum class ErrorOverride { ok, notFound, serverError, timeout, custom };

inline constexpr std::array<ErrorOverride, 5> allErrorOverrides = {
    ErrorOverride::ok, ErrorOverride::notFound, ErrorOverride::serverError, ErrorOverride::timeout, ErrorOverride::custom,
};

// The case name: "ok", "notFound", "serverError", "timeout", "custom". Used only inside the application.
std::string_view rawValue(ErrorOverride value);
std::optional<ErrorOverride> errorOverrideFromRaw(std::string_view text);
// What the engine sees: none for ok, "404", "500", "timeout", "custom".
std::optional<std::string> wireText(ErrorOverride value);
// "404", "500", "timeout", "custom" exactly; anything else (including "ok" and "") is ok.
ErrorOverride errorOverrideFromWire(std::string_view text);

// Encodes as its raw value (application-side storage only; the wire uses wireText()).
void to_json(nlohmann::json &j, ErrorOverride value);
void to_json(nlohmann::ordered_json &j, ErrorOverride value);
void from_json(const nlohmann::json &j, ErrorOverride &value);

// One step of a route's response sequence as the application edits it.
struct MockStep {
    std::string id; // made by the application, never sent to the engine
    std::int64_t status = 200;
    std::string body;
    std::int64_t latency = 0; // milliseconds; 0 means none
    ErrorOverride override = ErrorOverride::ok;
    std::int64_t repeatCount = 1;

    // A step with a fresh random id.
    static MockStep make(int status = 200, std::string body = {});

    bool operator==(const MockStep &) const = default;
};

struct WireStep;
struct WireRoute;

// One route as the application edits and shows it.
struct Endpoint {
    std::string id;
    HTTPMethod method = HTTPMethod::GET;
    std::string host;
    std::string path;
    std::int64_t status = 200;
    std::int64_t latency = 0; // milliseconds
    bool active = true;
    ErrorOverride override = ErrorOverride::ok;
    bool passThrough = false;
    std::string body;
    std::vector<MockStep> sequence;
    std::string seqMode = "sticky";
    std::string group; // empty: no group

    // The engine's form of this route.
    WireRoute wire() const;
    // The route for a wire route; every step gets a fresh id.
    static Endpoint fromWire(const WireRoute &wire);

    bool operator==(const Endpoint &) const = default;
};

// One step on the wire.
struct WireStep {
    std::int64_t status = 200;
    std::string body;
    std::optional<std::int64_t> latencyMs;
    std::optional<std::string> override;
    std::optional<std::int64_t> repeat;

    bool operator==(const WireStep &) const = default;
};

// One route on the wire (the "routes", "import" and "profile" bodies are arrays of these).
struct WireRoute {
    std::string id;
    std::string method;
    std::string host;
    std::string path;
    std::int64_t status = 200;
    std::int64_t latencyMs = 0;
    bool active = true;
    std::string body;
    std::optional<std::string> override;
    bool passThrough = false;
    std::optional<std::vector<WireStep>> sequence;
    std::optional<std::string> seqMode;
    std::optional<std::string> group;

    bool operator==(const WireRoute &) const = default;
};

void to_json(nlohmann::json &j, const WireStep &step);
void to_json(nlohmann::ordered_json &j, const WireStep &step);
void from_json(const nlohmann::json &j, WireStep &step);

void to_json(nlohmann::json &j, const WireRoute &route);
void to_json(nlohmann::ordered_json &j, const WireRoute &route);
void from_json(const nlohmann::json &j, WireRoute &route);

// Conversions as free functions, for callers that prefer them to the members.
inline WireRoute toWire(const Endpoint &endpoint) { return endpoint.wire(); }
inline Endpoint toEndpoint(const WireRoute &wire) { return Endpoint::fromWire(wire); }
std::vector<WireRoute> toWire(const std::vector<Endpoint> &endpoints);
std::vector<Endpoint> toEndpoints(const std::vector<WireRoute> &routes);
