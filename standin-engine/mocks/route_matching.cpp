// Route matching and answer planning for the stand-in proxy.
#include "mocks/route_matching.h"

#include "core/engine_support.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <charconv>

namespace standin {

namespace {

std::vector<std::string_view> segments(std::string_view path)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string_view::npos ? path.size() : slash;
        parts.push_back(path.substr(start, end - start));
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    return parts;
}

} // namespace

std::string_view withoutTrailingSlash(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

bool splitHostPort(std::string_view authority, std::string &hostname, int &port)
{
    std::string_view name = authority;
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        name = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                return false;
            portText = authority.substr(close + 2);
        }
    } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        name = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
    }
    if (name.empty())
        return false;
    if (!portText.empty()) {
        int value = 0;
        const auto [ptr, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
        if (ec != std::errc() || ptr != portText.data() + portText.size() || value < 1 || value > 65535)
            return false;
        port = value;
    }
    hostname = lowerAscii(name);
    return true;
}

namespace {

// A route's status as the proxy answers it; anything that is not an HTTP status answers 200. Checked
// before narrowing, so a huge value can't wrap into a valid-looking one.
int answerStatus(std::int64_t status)
{
    return status >= 100 && status <= 599 ? static_cast<int>(status) : 200;
}

// A step's repeat count as a span of hits: at least 1, and bounded so that the sum over any
// sequence fits in size_t.
size_t repeatSpan(const WireStep &step)
{
    return static_cast<size_t>(std::clamp<std::int64_t>(step.repeat.value_or(1), 1, std::int64_t(1) << 32));
}

int clampLatency(long long value)
{
    return static_cast<int>(std::clamp<long long>(value, 0, kMaxLatencyMs));
}

} // namespace

std::optional<ProxyTarget> parseProxyTarget(std::string_view requestTarget, std::string_view hostHeader)
{
    ProxyTarget target;
    std::string_view rest = requestTarget;
    std::string_view authority;
    const size_t schemeEnd = rest.find("://");
    if (schemeEnd != std::string_view::npos) {
        target.scheme = lowerAscii(rest.substr(0, schemeEnd));
        if (target.scheme != "http" && target.scheme != "https")
            return std::nullopt;
        rest.remove_prefix(schemeEnd + 3);
        // A loop, not find_first_of, which searches its set once for every character.
        const auto pathStart = std::find_if(rest.begin(), rest.end(), [](char c) { return c == '/' || c == '?'; });
        authority = rest.substr(0, static_cast<size_t>(pathStart - rest.begin()));
        rest.remove_prefix(authority.size());
    } else {
        if (rest.empty() || rest.front() != '/')
            return std::nullopt;
        authority = hostHeader;
    }
    target.port = target.scheme == "https" ? 443 : 80;
    if (!splitHostPort(authority, target.hostname, target.port))
        return std::nullopt;
    target.host = lowerAscii(authority);

    const size_t fragment = rest.find('#');
    if (fragment != std::string_view::npos)
        rest = rest.substr(0, fragment);
    const size_t question = rest.find('?');
    std::string_view path = rest.substr(0, question);
    if (question != std::string_view::npos) {
        target.query = std::string(rest.substr(question + 1));
        target.queryMarked = true;
    }
    target.pathOmitted = path.empty();
    target.path = path.empty() ? "/" : std::string(path);
    return target;
}

std::string originFormTarget(const ProxyTarget &target, std::string_view method)
{
    if (target.pathOmitted && !target.queryMarked && method == "OPTIONS")
        return "*";
    if (!target.queryMarked)
        return target.path;
    std::string text;
    text.reserve(target.path.size() + 1 + target.query.size());
    return text.append(target.path).append("?").append(target.query);
}

bool hostMatches(std::string_view routeHost, const ProxyTarget &target)
{
    if (routeHost.empty())
        return true;
    std::string hostname;
    int port = -1;
    if (!splitHostPort(routeHost, hostname, port))
        return false;
    return hostname == target.hostname && (port == -1 || port == target.port);
}

bool pathMatches(std::string_view pattern, std::string_view path)
{
    const auto wanted = segments(withoutTrailingSlash(pattern));
    const auto actual = segments(withoutTrailingSlash(path));
    if (wanted.size() != actual.size())
        return false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (wanted[i].size() > 1 && wanted[i].front() == ':') {
            if (actual[i].empty())
                return false;
        } else if (wanted[i] != actual[i]) {
            return false;
        }
    }
    return true;
}

std::optional<size_t> findRoute(const std::vector<WireRoute> &routes, std::string_view method,
                                const ProxyTarget &target)
{
    const std::string wantedMethod = lowerAscii(method);
    for (size_t i = 0; i < routes.size(); ++i) {
        const WireRoute &route = routes[i];
        if (route.active && lowerAscii(route.method) == wantedMethod && hostMatches(route.host, target)
            && pathMatches(route.path, target.path))
            return i;
    }
    return std::nullopt;
}

struct VariableSnapshot::Table {
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
    };
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> values;
};

VariableSnapshot::VariableSnapshot(const std::vector<WireVar> &variables)
{
    auto table = std::make_shared<Table>();
    table->values.reserve(variables.size());
    for (const auto &variable : variables) {
        if (!variable.key.empty())
            table->values.emplace(variable.key, variable.value);
    }
    m_table = std::move(table);
}

const std::string *VariableSnapshot::find(std::string_view key) const
{
    if (!m_table)
        return nullptr;
    const auto found = m_table->values.find(key);
    return found == m_table->values.end() ? nullptr : &found->second;
}

size_t VariableSnapshot::size() const
{
    return m_table ? m_table->values.size() : 0;
}

namespace {

// Hands `take` the pieces of the substituted text in order; stops early, false, when `take` says so.
template <class Lookup, class Take>
bool substitutedPieces(std::string_view text, const Lookup &lookup, const Take &take)
{
    size_t position = 0;
    while (position < text.size()) {
        const size_t open = text.find("{{", position);
        if (open == std::string_view::npos)
            break;
        const size_t close = text.find("}}", open + 2);
        if (close == std::string_view::npos)
            break;
        std::string_view name = text.substr(open + 2, close - open - 2);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
            name.remove_prefix(1);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.remove_suffix(1);
        if (!take(text.substr(position, open - position)))
            return false;
        const std::string *value = name.empty() ? nullptr : lookup(name);
        if (!take(value ? std::string_view(*value) : text.substr(open, close + 2 - open)))
            return false;
        position = close + 2;
    }
    return take(text.substr(std::min(position, text.size())));
}

// The substituted text, or nothing when it would be longer than `limit`: measured before it is built,
// so a short body naming a large value many times never takes more than `limit`.
template <class Lookup>
std::optional<std::string> substitute(std::string_view text, const Lookup &lookup, size_t limit)
{
    size_t size = 0;
    const bool fits = substitutedPieces(text, lookup, [&](std::string_view piece) {
        size += piece.size();
        return size <= limit;
    });
    if (!fits)
        return std::nullopt;
    std::string out;
    out.reserve(size);
    substitutedPieces(text, lookup, [&](std::string_view piece) {
        out.append(piece);
        return true;
    });
    return out;
}

constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();

} // namespace

std::optional<std::string> substituteVariables(std::string_view text, const VariableSnapshot &variables, size_t limit)
{
    if (variables.empty()) {
        if (text.size() > limit)
            return std::nullopt;
        return std::string(text);
    }
    return substitute(text, [&](std::string_view name) { return variables.find(name); }, limit);
}

std::string substituteVariables(std::string_view text, const VariableSnapshot &variables)
{
    return *substituteVariables(text, variables, kUnbounded);
}

std::string substituteVariables(std::string_view text, const std::vector<WireVar> &variables)
{
    return *substitute(
        text,
        [&](std::string_view name) -> const std::string * {
            const auto variable = std::find_if(variables.begin(), variables.end(),
                                               [&](const WireVar &v) { return !v.key.empty() && v.key == name; });
            return variable == variables.end() ? nullptr : &variable->value;
        },
        kUnbounded);
}

std::string routeKey(std::string_view method, std::string_view host, std::string_view path)
{
    std::string key;
    for (const char c : method)
        key.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    key += ' ';
    key += lowerAscii(host);
    key += path;
    return key;
}

void applyOverride(PlannedAnswer &answer, std::string_view overrideText)
{
    switch (errorOverrideFromWire(overrideText)) {
    case ErrorOverride::notFound:
        answer.status = 404;
        answer.body = R"({"error":"Not Found"})";
        answer.routeBody = false;
        break;
    case ErrorOverride::serverError:
        answer.status = 500;
        answer.body = R"({"error":"Internal Server Error"})";
        answer.routeBody = false;
        break;
    case ErrorOverride::timeout:
        answer.holdThenTimeout = true;
        answer.status = 504;
        answer.body = R"({"error":"Gateway Timeout"})";
        answer.routeBody = false;
        break;
    case ErrorOverride::custom:
    case ErrorOverride::ok:
        break;
    }
}

PlannedAnswer planAnswer(const WireRoute &route, size_t hit, size_t copyUpTo)
{
    PlannedAnswer answer;
    answer.status = answerStatus(route.status);
    const std::string *body = &route.body;
    answer.latencyMs = clampLatency(route.latencyMs);
    std::string overrideText = route.override.value_or("");

    const auto &steps = route.sequence;
    if (steps && !steps->empty()) {
        size_t total = 0;
        for (const auto &step : *steps)
            total += repeatSpan(step);
        size_t position = route.seqMode.value_or("sticky") == "loop" ? hit % total : std::min(hit, total - 1);
        size_t chosen = steps->size() - 1;
        for (size_t step = 0; step < steps->size(); ++step) {
            const size_t span = repeatSpan((*steps)[step]);
            if (position < span) {
                chosen = step;
                break;
            }
            position -= span;
        }
        answer.step = chosen;
        const WireStep &step = (*steps)[chosen];
        answer.status = answerStatus(step.status);
        body = &step.body;
        answer.latencyMs = clampLatency(step.latencyMs.value_or(0));
        overrideText = step.override.value_or("");
    }
    if (answer.status < 100 || answer.status > 599)
        answer.status = 200;
    if (body->size() > copyUpTo)
        answer.uncopied = body;
    else
        answer.body = *body;
    applyOverride(answer, overrideText);
    // A sequence step's "timeout" drops the connection; the route's own holds, then answers 504.
    if (steps && !steps->empty() && answer.holdThenTimeout) {
        answer.holdThenTimeout = false;
        answer.drop = true;
    }
    return answer;
}

void applyChaos(const ChaosPreset &preset, PlannedAnswer &answer, std::mt19937_64 &random)
{
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    for (const auto &fault : preset.faults) {
        if (chance(random) >= fault.probability)
            continue;
        if (fault.kind == "latency") {
            const int low = clampLatency(fault.minMs.value_or(0));
            const int high = std::max(low, clampLatency(fault.maxMs.value_or(low)));
            answer.latencyMs = clampLatency(static_cast<long long>(answer.latencyMs)
                                            + std::uniform_int_distribution<int>(low, high)(random));
        } else if (fault.kind == "status") {
            const std::int64_t status = fault.status.value_or(500);
            answer.status = status >= 100 && status <= 599 ? static_cast<int>(status) : 500;
            answer.body = fault.body.value_or(R"({"error":"injected by chaos preset"})");
            answer.routeBody = false;
        } else if (fault.kind == "drop") {
            answer.drop = true;
        }
    }
}

} // namespace standin
