// Capture import: HAR, Postman collections, Charles sessions and plain JSON request lists.
#include "imports/capture_import.h"

#include "core/bounded_input.h"
#include "core/engine_support.h"
#include "mocks/route_matching.h"

#include "engine/records/record_ids.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace standin {

using nlohmann::json;

namespace {

// One exchange taken from a capture, before it becomes a route.
struct CapturedExchange {
    std::string method;
    std::string url; // absolute, or host + path given apart
    std::string host;
    std::string path;
    int status = 200;
    std::string body;
    bool binary = false; // the body is bytes, not text
    double latencyMs = 0;
};


std::string text(const json &object, const char *key)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

int integer(const json &object, const char *key, int fallback)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number())
        return fallback;
    const double value = it->get<double>();
    return std::isfinite(value) ? static_cast<int>(std::clamp(value, -1e9, 1e9)) : fallback;
}

double number(const json &object, const char *key)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<double>() : 0.0;
}

// A body given as text stays text; a body given as JSON is written out as JSON.
std::string bodyText(const json &value)
{
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_null())
        return {};
    return value.dump(2, ' ', false, json::error_handler_t::replace);
}

std::string decodeBase64(const std::string &input)
{
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    int value = 0;
    int bits = -8;
    for (const char c : input) {
        if (c == '=')
            break;
        const size_t index = kAlphabet.find(c);
        if (index == std::string::npos)
            continue;
        value = (value << 6) | static_cast<int>(index);
        bits += 6;
        if (bits >= 0) {
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
            bits -= 8;
        }
    }
    return out;
}

// A base64 body is text only when its bytes are.
void takeBody(CapturedExchange &exchange, std::string text, bool base64)
{
    exchange.body = base64 ? decodeBase64(text) : std::move(text);
    exchange.binary = !isTextBody(exchange.body);
}

std::vector<CapturedExchange> fromHar(const json &document)
{
    std::vector<CapturedExchange> exchanges;
    for (const auto &entry : document["log"]["entries"]) {
        if (!entry.is_object())
            continue;
        const json request = entry.value("request", json::object());
        const json response = entry.value("response", json::object());
        if (!request.is_object() || !response.is_object())
            continue;
        CapturedExchange exchange;
        exchange.method = text(request, "method");
        exchange.url = text(request, "url");
        exchange.status = integer(response, "status", 200);
        exchange.latencyMs = number(entry, "time");
        const json content = response.value("content", json::object());
        if (content.is_object())
            takeBody(exchange, text(content, "text"), text(content, "encoding") == "base64");
        exchanges.push_back(std::move(exchange));
    }
    return exchanges;
}

std::string postmanUrl(const json &url)
{
    if (url.is_string())
        return url.get<std::string>();
    if (!url.is_object())
        return {};
    if (const std::string raw = text(url, "raw"); !raw.empty())
        return raw;
    std::string host;
    if (const auto it = url.find("host"); it != url.end() && it->is_array()) {
        for (const auto &part : *it) {
            if (part.is_string())
                host += (host.empty() ? "" : ".") + part.get<std::string>();
        }
    }
    std::string path;
    if (const auto it = url.find("path"); it != url.end() && it->is_array()) {
        for (const auto &part : *it) {
            if (part.is_string())
                path += "/" + part.get<std::string>();
        }
    }
    return host.empty() ? std::string() : "http://" + host + (path.empty() ? "/" : path);
}

void fromPostmanItems(const json &items, std::vector<CapturedExchange> &exchanges, int depth)
{
    if (!items.is_array() || depth > kMaxNestingDepth)
        return;
    for (const auto &item : items) {
        if (!item.is_object())
            continue;
        if (item.contains("item")) { // a folder
            fromPostmanItems(item["item"], exchanges, depth + 1);
            continue;
        }
        const json request = item.value("request", json());
        CapturedExchange exchange;
        if (request.is_string()) {
            exchange.method = "GET";
            exchange.url = request.get<std::string>();
        } else if (request.is_object()) {
            exchange.method = text(request, "method");
            exchange.url = postmanUrl(request.value("url", json()));
        } else {
            continue;
        }
        if (exchange.method.empty())
            exchange.method = "GET";
        const json responses = item.value("response", json::array());
        if (responses.is_array() && !responses.empty() && responses.front().is_object()) {
            exchange.status = integer(responses.front(), "code", 200);
            takeBody(exchange, text(responses.front(), "body"), false);
        }
        exchanges.push_back(std::move(exchange));
    }
}

std::vector<CapturedExchange> fromCharles(const json &document)
{
    std::vector<CapturedExchange> exchanges;
    for (const auto &transaction : document) {
        CapturedExchange exchange;
        exchange.method = text(transaction, "method");
        std::string host = text(transaction, "host");
        const int port = integer(transaction, "actualPort", integer(transaction, "port", 0));
        if (port > 0 && port != 80 && port != 443)
            host += ":" + std::to_string(port);
        exchange.host = host;
        exchange.path = text(transaction, "path");
        const json response = transaction.value("response", json::object());
        if (response.is_object()) {
            exchange.status = integer(response, "status", 200);
            const json body = response.value("body", json::object());
            if (body.is_object())
                takeBody(exchange, text(body, "text"), text(body, "encoding") == "base64");
        }
        const json durations = transaction.value("durations", json::object());
        if (durations.is_object())
            exchange.latencyMs = number(durations, "total");
        exchanges.push_back(std::move(exchange));
    }
    return exchanges;
}

// [{"method", "url" | "host"+"path", "status", "body", "latencyMs"}] or {"requests": [...]}.
std::vector<CapturedExchange> fromRequestList(const json &list)
{
    std::vector<CapturedExchange> exchanges;
    for (const auto &item : list) {
        CapturedExchange exchange;
        exchange.method = text(item, "method").empty() ? "GET" : text(item, "method");
        exchange.url = text(item, "url");
        exchange.host = text(item, "host");
        exchange.path = text(item, "path");
        exchange.status = integer(item, "status", 200);
        const json response = item.value("response", json());
        if (item.contains("body")) {
            takeBody(exchange, bodyText(item["body"]), false);
        } else if (response.is_object()) {
            exchange.status = integer(response, "status", exchange.status);
            takeBody(exchange, bodyText(response.value("body", json())), false);
        }
        exchange.latencyMs = number(item, "latencyMs");
        exchanges.push_back(std::move(exchange));
    }
    return exchanges;
}

bool isObjectList(const json &value)
{
    return value.is_array() && !value.empty() && std::all_of(value.begin(), value.end(), [](const json &item) {
               return item.is_object();
           });
}

std::vector<WireRoute> toRoutes(const std::vector<CapturedExchange> &exchanges, size_t &passedThrough)
{
    std::vector<WireRoute> routes;
    std::set<std::string> seen;
    for (const auto &exchange : exchanges) {
        std::string method = exchange.method;
        std::transform(method.begin(), method.end(), method.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
        if (!httpMethodFromRaw(method) || method == "CONNECT")
            continue;
        std::string host;
        std::string path;
        if (!exchange.url.empty()) {
            const auto target = parseProxyTarget(exchange.url, exchange.host);
            if (!target)
                continue;
            const bool defaultPort = (target->scheme == "http" && target->port == 80)
                                     || (target->scheme == "https" && target->port == 443);
            host = defaultPort ? target->hostname : target->hostname + ":" + std::to_string(target->port);
            path = target->path;
        } else {
            host = lowerAscii(exchange.host);
            path = exchange.path.substr(0, exchange.path.find('?'));
        }
        if (host.empty())
            continue;
        if (path.empty() || path.front() != '/')
            path.insert(path.begin(), '/');
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        if (!seen.insert(method + " " + host + path).second)
            continue;

        WireRoute route;
        route.id = makeRouteId();
        route.method = method;
        route.host = sanitizeUtf8(host);
        route.path = sanitizeUtf8(path);
        route.status = exchange.status >= 100 && exchange.status <= 599 ? exchange.status : 200;
        route.latencyMs = static_cast<int>(std::clamp(std::round(exchange.latencyMs), 0.0, 60000.0));
        route.active = true;
        // Bytes that are not text can't be served from a route body without changing them: the real
        // host answers instead.
        route.passThrough = exchange.binary;
        if (exchange.binary)
            ++passedThrough;
        else
            route.body = exchange.body;
        routes.push_back(std::move(route));
        if (routes.size() >= kMaxImportedRoutes)
            break;
    }
    return routes;
}

} // namespace

std::string captureKind(const json &document)
{
    if (document.is_object()) {
        const auto log = document.find("log");
        if (log != document.end() && log->is_object() && log->contains("entries") && (*log)["entries"].is_array())
            return "har";
        const auto info = document.find("info");
        if (info != document.end() && info->is_object() && document.contains("item"))
            return "postman";
        if (document.contains("routes") && document["routes"].is_array())
            return "routes";
        if (isObjectList(document.value("requests", json())))
            return "requests";
        return {};
    }
    if (!isObjectList(document))
        return {};
    if (decodeJson<std::vector<WireRoute>>(document))
        return "routes";
    const json &first = document.front();
    if (first.contains("host") && first.contains("path") && (first.contains("response") || first.contains("scheme"))
        && first.value("response", json::object()).is_object() && !first.contains("url"))
        return "charles";
    if (first.contains("url") || (first.contains("host") && first.contains("path")))
        return "requests";
    return {};
}

bool isTextBody(std::string_view bytes)
{
    return bytes.find('\0') == std::string_view::npos && sanitizeUtf8(bytes) == bytes;
}

std::optional<std::vector<WireRoute>> importCapture(std::string_view bytes, std::string &error,
                                                    size_t *passedThrough)
{
    size_t binaryCount = 0;
    const auto document = parseBoundedJson(bytes, error);
    if (!document) {
        error = "not a readable capture: " + error;
        return std::nullopt;
    }
    const std::string kind = captureKind(*document);
    std::vector<CapturedExchange> exchanges;
    if (kind == "har") {
        exchanges = fromHar(*document);
    } else if (kind == "postman") {
        fromPostmanItems((*document)["item"], exchanges, 0);
    } else if (kind == "charles") {
        exchanges = fromCharles(*document);
    } else if (kind == "requests") {
        exchanges = fromRequestList(document->is_array() ? *document : (*document)["requests"]);
    } else if (kind == "routes") {
        const json &list = document->is_array() ? *document : (*document)["routes"];
        auto routes = decodeJson<std::vector<WireRoute>>(list);
        if (!routes) {
            error = "the route list is not in the engine's route form";
            return std::nullopt;
        }
        for (auto &route : *routes) {
            if (route.id.empty())
                route.id = makeRouteId();
        }
        if (routes->size() > kMaxImportedRoutes)
            routes->resize(kMaxImportedRoutes);
        return routes;
    } else {
        error = "unrecognised capture: expected a HAR file, a Postman collection, a Charles JSON session "
                "or a JSON list of requests";
        return std::nullopt;
    }
    auto routes = toRoutes(exchanges, binaryCount);
    if (passedThrough)
        *passedThrough = binaryCount;
    return routes;
}

} // namespace standin
