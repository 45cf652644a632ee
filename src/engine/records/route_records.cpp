// Routes: method and override texts, the JSON of the wire form, and the Endpoint conversions.
#include "engine/records/route_records.h"

#include "engine/records/record_ids.h"

#include <algorithm>

namespace {

constexpr std::array<std::string_view, 6> kMethodTexts = {"GET", "POST", "PUT", "DELETE", "PATCH", "CONNECT"};
constexpr std::array<std::string_view, 5> kOverrideRaw = {"ok", "notFound", "serverError", "timeout", "custom"};

template <class Json> void writeStep(Json &j, const WireStep &step)
{
    j = Json::object();
    j["status"] = step.status;
    j["body"] = step.body;
    records::putOptional(j, "latencyMs", step.latencyMs);
    records::putOptional(j, "override", step.override);
    records::putOptional(j, "repeat", step.repeat);
}

template <class Json> void writeRoute(Json &j, const WireRoute &route)
{
    j = Json::object();
    j["id"] = route.id;
    j["method"] = route.method;
    j["host"] = route.host;
    j["path"] = route.path;
    j["status"] = route.status;
    j["latencyMs"] = route.latencyMs;
    j["active"] = route.active;
    j["body"] = route.body;
    records::putOptional(j, "override", route.override);
    j["passThrough"] = route.passThrough;
    records::putOptional(j, "sequence", route.sequence);
    records::putOptional(j, "seqMode", route.seqMode);
    records::putOptional(j, "group", route.group);
}

} // namespace

std::string_view rawValue(HTTPMethod method)
{
    return kMethodTexts[static_cast<std::size_t>(method)];
}

std::optional<HTTPMethod> httpMethodFromRaw(std::string_view text)
{
    for (const HTTPMethod method : allHTTPMethods) {
        if (rawValue(method) == text)
            return method;
    }
    return std::nullopt;
}

HTTPMethod httpMethodFromText(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : char(c); });
    return httpMethodFromRaw(upper).value_or(HTTPMethod::GET);
}

void to_json(nlohmann::json &j, HTTPMethod method) { j = std::string(rawValue(method)); }
void to_json(nlohmann::ordered_json &j, HTTPMethod method) { j = std::string(rawValue(method)); }

void from_json(const nlohmann::json &j, HTTPMethod &method)
{
    std::string text;
    records::decodeValue(j, text);
    const auto parsed = httpMethodFromRaw(text);
    if (!parsed)
        throw RecordError({}, "unknown method \"" + text + "\"");
    method = *parsed;
}

std::string_view rawValue(ErrorOverride value)
{
    return kOverrideRaw[static_cast<std::size_t>(value)];
}

std::optional<ErrorOverride> errorOverrideFromRaw(std::string_view text)
{
    for (const ErrorOverride value : allErrorOverrides) {
        if (rawValue(value) == text)
            return value;
    }
    return std::nullopt;
}

std::optional<std::string> wireText(ErrorOverride value)
{
    switch (value) {
    case ErrorOverride::ok:
        return std::nullopt;
    case ErrorOverride::notFound:
        return "404";
    case ErrorOverride::serverError:
        return "500";
    case ErrorOverride::timeout:
        return "timeout";
    case ErrorOverride::custom:
        return "custom";
    }
    return std::nullopt;
}

ErrorOverride errorOverrideFromWire(std::string_view text)
{
    if (text == "404")
        return ErrorOverride::notFound;
    if (text == "500")
        return ErrorOverride::serverError;
    if (text == "timeout")
        return ErrorOverride::timeout;
    if (text == "custom")
        return ErrorOverride::custom;
    return ErrorOverride::ok;
}

void to_json(nlohmann::json &j, ErrorOverride value) { j = std::string(rawValue(value)); }
void to_json(nlohmann::ordered_json &j, ErrorOverride value) { j = std::string(rawValue(value)); }

void from_json(const nlohmann::json &j, ErrorOverride &value)
{
    std::string text;
    records::decodeValue(j, text);
    const auto parsed = errorOverrideFromRaw(text);
    if (!parsed)
        throw RecordError({}, "unknown override \"" + text + "\"");
    value = *parsed;
}

MockStep MockStep::make(int status, std::string body)
{
    MockStep step;
    step.id = makeUuidText();
    step.status = status;
    step.body = std::move(body);
    return step;
}

WireRoute Endpoint::wire() const
{
    WireRoute route;
    route.id = id;
    route.method = std::string(rawValue(method));
    route.host = host;
    route.path = path;
    route.status = status;
    route.latencyMs = latency;
    route.active = active;
    route.body = body;
    route.override = wireText(override);
    route.passThrough = passThrough;
    if (!sequence.empty()) {
        std::vector<WireStep> steps;
        steps.reserve(sequence.size());
        for (const MockStep &step : sequence) {
            WireStep out;
            out.status = step.status;
            out.body = step.body;
            if (step.latency != 0)
                out.latencyMs = step.latency;
            out.override = wireText(step.override);
            if (step.repeatCount >= 2)
                out.repeat = step.repeatCount;
            steps.push_back(std::move(out));
        }
        route.sequence = std::move(steps);
        route.seqMode = seqMode;
    }
    if (!group.empty())
        route.group = group;
    return route;
}

Endpoint Endpoint::fromWire(const WireRoute &wire)
{
    Endpoint endpoint;
    endpoint.id = wire.id;
    endpoint.method = httpMethodFromText(wire.method);
    endpoint.host = wire.host;
    endpoint.path = wire.path;
    endpoint.status = wire.status;
    endpoint.latency = wire.latencyMs;
    endpoint.active = wire.active;
    endpoint.override = errorOverrideFromWire(wire.override.value_or(std::string()));
    endpoint.passThrough = wire.passThrough;
    endpoint.body = wire.body;
    if (wire.sequence) {
        endpoint.sequence.reserve(wire.sequence->size());
        for (const WireStep &step : *wire.sequence) {
            MockStep out;
            out.id = makeUuidText();
            out.status = step.status;
            out.body = step.body;
            out.latency = step.latencyMs.value_or(0);
            out.override = errorOverrideFromWire(step.override.value_or(std::string()));
            out.repeatCount = step.repeat.value_or(1);
            endpoint.sequence.push_back(std::move(out));
        }
    }
    endpoint.seqMode = wire.seqMode.value_or("sticky");
    endpoint.group = wire.group.value_or(std::string());
    return endpoint;
}

void to_json(nlohmann::json &j, const WireStep &step) { writeStep(j, step); }
void to_json(nlohmann::ordered_json &j, const WireStep &step) { writeStep(j, step); }

void from_json(const nlohmann::json &j, WireStep &step)
{
    const records::ObjectReader in(j);
    in.required("status", step.status);
    in.required("body", step.body);
    in.optional("latencyMs", step.latencyMs);
    in.optional("override", step.override);
    in.optional("repeat", step.repeat);
}

void to_json(nlohmann::json &j, const WireRoute &route) { writeRoute(j, route); }
void to_json(nlohmann::ordered_json &j, const WireRoute &route) { writeRoute(j, route); }

void from_json(const nlohmann::json &j, WireRoute &route)
{
    const records::ObjectReader in(j);
    in.required("id", route.id);
    in.required("method", route.method);
    in.required("host", route.host);
    in.required("path", route.path);
    in.required("status", route.status);
    in.required("latencyMs", route.latencyMs);
    in.required("active", route.active);
    in.required("body", route.body);
    in.optional("override", route.override);
    in.required("passThrough", route.passThrough);
    in.optional("sequence", route.sequence);
    in.optional("seqMode", route.seqMode);
    in.optional("group", route.group);
}

std::vector<WireRoute> toWire(const std::vector<Endpoint> &endpoints)
{
    std::vector<WireRoute> routes;
    routes.reserve(endpoints.size());
    for (const Endpoint &endpoint : endpoints)
        routes.push_back(endpoint.wire());
    return routes;
}

std::vector<Endpoint> toEndpoints(const std::vector<WireRoute> &routes)
{
    std::vector<Endpoint> endpoints;
    endpoints.reserve(routes.size());
    for (const WireRoute &route : routes)
        endpoints.push_back(Endpoint::fromWire(route));
    return endpoints;
}
