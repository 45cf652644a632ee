// Capture import: HAR, Postman collections, Charles sessions and plain JSON request lists.
#include "imports/capture_import.h"

#include "core/bounded_input.h"
#include "core/engine_support.h"
#include "mocks/route_matching.h"

#include "engine/records/record_ids.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <unordered_set>

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

// A member of an object, or nothing.
json *member(json &object, const char *key)
{
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// A text member moved out of its element, which is dropped once read: a body is never copied.
std::string takeText(json &object, const char *key)
{
    json *value = member(object, key);
    return value && value->is_string() ? std::move(value->get_ref<std::string &>()) : std::string();
}

// Indentation may add this much to a body given as JSON, and as much again as the body itself.
constexpr size_t kIndentAllowance = 64 * 1024;

// A body given as text stays text; a body given as JSON is written out as JSON, indented unless the
// indentation would outweigh the body: a deeply nested one would grow to hundreds of times its size.
std::string bodyText(json &value)
{
    if (value.is_string())
        return std::move(value.get_ref<std::string &>());
    if (value.is_null())
        return {};
    const size_t indentedLimit = 2 * writtenJsonSize(value, -1, SIZE_MAX) + kIndentAllowance;
    const bool indented = writtenJsonSize(value, 2, indentedLimit) <= indentedLimit;
    return value.dump(indented ? 2 : -1, ' ', false, json::error_handler_t::replace);
}

std::string decodeBase64(const std::string &input)
{
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(input.size() / 4 * 3 + 3);
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
    if (base64) {
        exchange.body = decodeBase64(text);
        std::string().swap(text); // the encoded text goes before the body is checked
    } else {
        exchange.body = std::move(text);
    }
    exchange.binary = !isTextBody(exchange.body);
}

std::optional<CapturedExchange> fromHarEntry(json &entry)
{
    if (!entry.is_object())
        return std::nullopt;
    json noMember = json::object();
    json *request = member(entry, "request");
    json *response = member(entry, "response");
    request = request ? request : &noMember;
    response = response ? response : &noMember;
    if (!request->is_object() || !response->is_object())
        return std::nullopt;
    CapturedExchange exchange;
    exchange.method = text(*request, "method");
    exchange.url = text(*request, "url");
    exchange.status = integer(*response, "status", 200);
    exchange.latencyMs = number(entry, "time");
    if (json *content = member(*response, "content"); content && content->is_object())
        takeBody(exchange, takeText(*content, "text"), text(*content, "encoding") == "base64");
    return exchange;
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

// One request of a Postman collection; a folder's requests arrive on their own, before the folder.
std::optional<CapturedExchange> fromPostmanItem(json &item)
{
    if (!item.is_object() || item.contains("item"))
        return std::nullopt;
    const json request = item.value("request", json());
    CapturedExchange exchange;
    if (request.is_string()) {
        exchange.method = "GET";
        exchange.url = request.get<std::string>();
    } else if (request.is_object()) {
        exchange.method = text(request, "method");
        exchange.url = postmanUrl(request.value("url", json()));
    } else {
        return std::nullopt;
    }
    if (exchange.method.empty())
        exchange.method = "GET";
    json *responses = member(item, "response");
    if (responses && responses->is_array() && !responses->empty() && responses->front().is_object()) {
        exchange.status = integer(responses->front(), "code", 200);
        takeBody(exchange, takeText(responses->front(), "body"), false);
    }
    return exchange;
}

CapturedExchange fromCharles(json &transaction)
{
    CapturedExchange exchange;
    exchange.method = text(transaction, "method");
    std::string host = text(transaction, "host");
    const int port = integer(transaction, "actualPort", integer(transaction, "port", 0));
    if (port > 0 && port != 80 && port != 443)
        host += ":" + std::to_string(port);
    exchange.host = host;
    exchange.path = text(transaction, "path");
    if (json *response = member(transaction, "response"); response && response->is_object()) {
        exchange.status = integer(*response, "status", 200);
        if (json *body = member(*response, "body"); body && body->is_object())
            takeBody(exchange, takeText(*body, "text"), text(*body, "encoding") == "base64");
    }
    const json durations = transaction.value("durations", json::object());
    if (durations.is_object())
        exchange.latencyMs = number(durations, "total");
    return exchange;
}

// {"method", "url" | "host"+"path", "status", "body", "latencyMs"}, an item of a plain request list.
CapturedExchange fromRequest(json &item)
{
    CapturedExchange exchange;
    exchange.method = text(item, "method").empty() ? "GET" : text(item, "method");
    exchange.url = text(item, "url");
    exchange.host = text(item, "host");
    exchange.path = text(item, "path");
    exchange.status = integer(item, "status", 200);
    json *response = member(item, "response");
    if (json *body = member(item, "body")) {
        takeBody(exchange, bodyText(*body), false);
    } else if (response && response->is_object()) {
        exchange.status = integer(*response, "status", exchange.status);
        json *responseBody = member(*response, "body");
        takeBody(exchange, responseBody ? bodyText(*responseBody) : std::string(), false);
    }
    exchange.latencyMs = number(item, "latencyMs");
    return exchange;
}

bool isCharles(const json &first)
{
    const auto response = first.find("response");
    return first.contains("host") && first.contains("path") && (response != first.end() || first.contains("scheme"))
           && (response == first.end() || response->is_object()) && !first.contains("url");
}

bool isRequest(const json &first)
{
    return first.contains("url") || (first.contains("host") && first.contains("path"));
}

// The route an exchange stands for, or nothing when it names no HTTP route.
std::optional<WireRoute> toRoute(CapturedExchange &exchange)
{
    std::string method = exchange.method;
    std::transform(method.begin(), method.end(), method.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    if (!httpMethodFromRaw(method) || method == "CONNECT")
        return std::nullopt;
    std::string host;
    std::string path;
    if (!exchange.url.empty()) {
        const auto target = parseProxyTarget(exchange.url, exchange.host);
        if (!target)
            return std::nullopt;
        const bool defaultPort = (target->scheme == "http" && target->port == 80)
                                 || (target->scheme == "https" && target->port == 443);
        host = defaultPort ? target->hostname : target->hostname + ":" + std::to_string(target->port);
        path = target->path;
    } else {
        host = lowerAscii(exchange.host);
        path = exchange.path.substr(0, exchange.path.find('?'));
    }
    if (host.empty())
        return std::nullopt;
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();

    WireRoute route;
    route.method = method;
    route.host = sanitizeUtf8(host);
    route.path = sanitizeUtf8(path);
    route.status = exchange.status >= 100 && exchange.status <= 599 ? exchange.status : 200;
    route.latencyMs = static_cast<int>(std::clamp(std::round(exchange.latencyMs), 0.0, 60000.0));
    route.active = true;
    // Bytes that are not text can't be served from a route body without changing them: the real host
    // answers instead.
    route.passThrough = exchange.binary;
    if (!exchange.binary)
        route.body = std::move(exchange.body);
    return route;
}

// The routes of one kind of capture as its exchanges arrive: the first exchange of a method, host and
// path wins; past the route limit only a fingerprint of each further route is kept, to count it.
class RouteCollector final {
public:
    void add(CapturedExchange exchange)
    {
        auto route = toRoute(exchange);
        if (!route)
            return;
        std::string key = route->method + " " + route->host + route->path;
        if (m_kept.count(key))
            return;
        if (m_result.routes.size() >= kMaxImportedRoutes) {
            m_past.insert(std::hash<std::string>()(key));
            return;
        }
        m_kept.insert(std::move(key));
        route->id = makeRouteId();
        m_result.passedThrough += route->passThrough ? 1 : 0;
        m_result.routes.push_back(std::move(*route));
    }
    // A route list keeps its routes as they are, ids and all.
    void addRoute(WireRoute route)
    {
        if (m_result.routes.size() >= kMaxImportedRoutes) {
            ++m_result.leftOut;
            return;
        }
        if (route.id.empty())
            route.id = makeRouteId();
        m_result.routes.push_back(std::move(route));
    }
    CaptureImport take()
    {
        m_result.leftOut += m_past.size();
        return std::move(m_result);
    }

private:
    CaptureImport m_result;
    std::unordered_set<std::string> m_kept;
    std::unordered_set<size_t> m_past;
};

// Where a capture keeps its exchanges: each of these arrays is read one element at a time.
enum class ListKind { None, Har, Postman, Requests, Routes, TopLevel };

ListKind listAt(const DocumentPath &path)
{
    const auto is = [&](size_t at, const char *key) { return path[at] && *path[at] == key; };
    if (path.empty())
        return ListKind::TopLevel;
    if (path.size() == 2 && is(0, "log") && is(1, "entries"))
        return ListKind::Har;
    if (path.size() == 1 && is(0, "requests"))
        return ListKind::Requests;
    if (path.size() == 1 && is(0, "routes"))
        return ListKind::Routes;
    // "item", and a folder's "item" within it, at any depth.
    if (path.size() % 2 == 0)
        return ListKind::None;
    for (size_t at = 0; at < path.size(); ++at) {
        if (at % 2 == 0 ? !is(at, "item") : path[at].has_value())
            return ListKind::None;
    }
    return ListKind::Postman;
}

// Takes the exchanges of every list a capture might be read from; which one counts is known only once
// the whole document is read.
class CaptureReader final {
public:
    ElementStream stream()
    {
        return {[](const DocumentPath &path) { return listAt(path) != ListKind::None; },
                [this](const DocumentPath &path, json &&element, std::string &error) {
                    return take(listAt(path), std::move(element), error);
                }};
    }

    std::optional<CaptureImport> finish(const json &document, std::string &error)
    {
        if (document.is_object()) {
            const auto log = document.find("log");
            if (log != document.end() && log->is_object() && log->contains("entries") && (*log)["entries"].is_array())
                return m_har.take();
            const auto info = document.find("info");
            if (info != document.end() && info->is_object() && document.contains("item"))
                return m_postman.take();
            if (document.contains("routes") && document["routes"].is_array())
                return routeList(error);
            if (m_requestCount > 0 && m_requestsAreObjects)
                return m_requests.take();
        } else if (document.is_array()) {
            if (m_topKind == TopKind::Routes)
                return routeList(error);
            if (m_topKind == TopKind::Charles || m_topKind == TopKind::Requests)
                return m_top.take();
        }
        error = kUnrecognised;
        return std::nullopt;
    }

private:
    enum class TopKind { Unknown, Routes, Charles, Requests };
    static constexpr const char *kUnrecognised
        = "unrecognised capture: expected a HAR file, a Postman collection, a Charles JSON session or a JSON list "
          "of requests";

    // Bodies are moved out of the element, which goes once read.
    bool take(ListKind kind, json element, std::string &error)
    {
        const ReleasedAtExit released(element);
        switch (kind) {
        case ListKind::Har:
            if (auto exchange = fromHarEntry(element))
                m_har.add(std::move(*exchange));
            return true;
        case ListKind::Postman:
            if (auto exchange = fromPostmanItem(element))
                m_postman.add(std::move(*exchange));
            return true;
        case ListKind::Requests:
            ++m_requestCount;
            m_requestsAreObjects = m_requestsAreObjects && element.is_object();
            if (element.is_object())
                m_requests.add(fromRequest(element));
            return true;
        case ListKind::Routes:
            takeRoute(element, m_routes);
            return true;
        case ListKind::TopLevel:
            return takeTopLevel(element, error);
        case ListKind::None:
            break;
        }
        return true;
    }

    // A list at the top: its first element says what it is.
    bool takeTopLevel(json &element, std::string &error)
    {
        if (!element.is_object()) {
            error = kUnrecognised;
            return false;
        }
        if (m_topKind == TopKind::Unknown) {
            if (decodeJson<WireRoute>(element))
                m_topKind = TopKind::Routes;
            else if (isCharles(element))
                m_topKind = TopKind::Charles;
            else if (isRequest(element))
                m_topKind = TopKind::Requests;
            else {
                error = kUnrecognised;
                return false;
            }
        }
        if (m_topKind == TopKind::Routes)
            takeRoute(element, m_top);
        else
            m_top.add(m_topKind == TopKind::Charles ? fromCharles(element) : fromRequest(element));
        return true;
    }

    void takeRoute(const json &element, RouteCollector &into)
    {
        auto route = decodeJson<WireRoute>(element);
        if (!route)
            m_routesBroken = true;
        else
            into.addRoute(std::move(*route));
    }

    std::optional<CaptureImport> routeList(std::string &error)
    {
        if (m_routesBroken) {
            error = "the route list is not in the engine's route form";
            return std::nullopt;
        }
        return m_topKind == TopKind::Routes ? m_top.take() : m_routes.take();
    }

    RouteCollector m_har;
    RouteCollector m_postman;
    RouteCollector m_requests;
    RouteCollector m_routes;
    RouteCollector m_top;
    TopKind m_topKind = TopKind::Unknown;
    size_t m_requestCount = 0;
    bool m_requestsAreObjects = true;
    bool m_routesBroken = false;
};

} // namespace

bool isTextBody(std::string_view bytes)
{
    return bytes.find('\0') == std::string_view::npos && isValidUtf8(bytes);
}

std::optional<CaptureImport> importCapture(std::string_view bytes, std::string &error)
{
    CaptureReader reader;
    const ElementStream stream = reader.stream();
    auto document = parseBoundedJson(bytes, ParseBounds {kMaxImportBytes, kMaxHeldBytes}, error, &stream);
    if (!document) {
        error = "not a readable capture: " + error;
        return std::nullopt;
    }
    const ReleasedAtExit released(*document);
    auto capture = reader.finish(*document, error);
    // A body moved out of the parser keeps the parser's room to spare; what outlives the parse keeps only
    // its own, in room the parser has just given back.
    if (capture) {
        for (WireRoute &route : capture->routes)
            route.body.shrink_to_fit();
    }
    return capture;
}

} // namespace standin
