// The compiled route table and the per-snapshot cache the proxy matches through.
#include "exchange/route_table.h"

#include "core/engine_support.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_set>

namespace standin {

namespace {

constexpr uint32_t kNoRoute = std::numeric_limits<uint32_t>::max();

bool isParam(std::string_view segment)
{
    return segment.size() > 1 && segment.front() == ':';
}

size_t segmentCount(std::string_view path)
{
    return static_cast<size_t>(std::count(path.begin(), path.end(), '/')) + 1;
}

bool segmentMatches(std::string_view wanted, std::string_view actual)
{
    return isParam(wanted) ? !actual.empty() : wanted == actual;
}

bool equalsIgnoringAsciiCase(std::string_view lowered, std::string_view text)
{
    if (lowered.size() != text.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lowered[i])
            return false;
    }
    return true;
}

} // namespace

void RouteTable::split(std::string_view path, SplitPath &out)
{
    out.whole = path;
    out.count = segmentCount(path);
    if (!out.split())
        return;
    size_t start = 0;
    for (size_t i = 0; i < out.count; ++i) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string_view::npos ? path.size() : slash;
        out.segments[i] = path.substr(start, end - start);
        start = end + 1;
    }
}

bool RouteTable::ParamPattern::matches(const SplitPath &path) const
{
    if (path.split()) {
        for (size_t i = 0; i < segments.size(); ++i) {
            if (!segmentMatches(segments[i], path.segments[i]))
                return false;
        }
        return true;
    }
    size_t start = 0;
    for (const std::string_view wanted : segments) {
        const size_t slash = path.whole.find('/', start);
        const size_t end = slash == std::string_view::npos ? path.whole.size() : slash;
        if (!segmentMatches(wanted, path.whole.substr(start, end - start)))
            return false;
        start = end + 1;
    }
    return true;
}

void RouteTable::ParamGroup::index()
{
    const size_t width = patterns.front().segments.size();
    std::vector<size_t> distinct(width);
    for (size_t at = 0; at < width; ++at) {
        std::unordered_set<std::string_view> values;
        for (const auto &pattern : patterns) {
            if (!isParam(pattern.segments[at]))
                values.insert(pattern.segments[at]);
        }
        distinct[at] = values.size();
    }
    for (uint32_t i = 0; i < patterns.size(); ++i) {
        const auto &segments = patterns[i].segments;
        std::optional<size_t> chosen;
        for (size_t at = 0; at < width; ++at) {
            if (!isParam(segments[at]) && (!chosen || distinct[at] > distinct[*chosen]))
                chosen = at;
        }
        if (!chosen) {
            allParams.push_back(i);
            continue;
        }
        auto position = std::find_if(positions.begin(), positions.end(), [&](const Position &p) { return p.at == *chosen; });
        if (position == positions.end())
            position = positions.insert(positions.end(), Position {*chosen, {}});
        position->byValue[segments[*chosen]].push_back(i);
    }
}

void RouteTable::ParamGroup::find(const SplitPath &path, uint32_t &best) const
{
    // Each list is in list order, so its first match is its best and anything past `best` can stop it.
    const auto firstMatch = [&](const auto &candidates) {
        for (const uint32_t i : candidates) {
            if (patterns[i].index >= best)
                return;
            if (patterns[i].matches(path)) {
                best = patterns[i].index;
                return;
            }
        }
    };
    if (!path.split()) {
        for (const auto &pattern : patterns) {
            if (pattern.index >= best)
                return;
            if (pattern.matches(path)) {
                best = pattern.index;
                return;
            }
        }
        return;
    }
    for (const Position &position : positions) {
        if (const auto hit = position.byValue.find(path.segments[position.at]); hit != position.byValue.end())
            firstMatch(hit->second);
    }
    firstMatch(allParams);
}

void RouteTable::Bucket::add(uint32_t index, std::string_view pattern)
{
    pattern = withoutTrailingSlash(pattern);
    ParamPattern compiled {index, {}};
    bool hasParam = false;
    size_t start = 0;
    for (;;) {
        const size_t slash = pattern.find('/', start);
        const size_t end = slash == std::string_view::npos ? pattern.size() : slash;
        compiled.segments.push_back(pattern.substr(start, end - start));
        hasParam = hasParam || isParam(compiled.segments.back());
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    if (hasParam)
        withParams[compiled.segments.size()].patterns.push_back(std::move(compiled));
    else
        literal.emplace(pattern, index); // a later duplicate never wins, so the first one stays
}

void RouteTable::Bucket::index()
{
    for (auto &[count, group] : withParams)
        group.index();
}

void RouteTable::Bucket::find(const SplitPath &path, uint32_t &best) const
{
    if (const auto hit = literal.find(path.whole); hit != literal.end())
        best = std::min(best, hit->second);
    if (const auto group = withParams.find(path.count); group != withParams.end())
        group->second.find(path, best);
}

RouteTable::MethodBuckets &RouteTable::methodFor(std::string_view lowered)
{
    for (auto &entry : m_methods) {
        if (entry.method == lowered)
            return entry;
    }
    m_methods.push_back(MethodBuckets {std::string(lowered), {}, {}});
    return m_methods.back();
}

// Filled-in bodies by their place among the verdicts, each with the environment it was filled from.
struct RouteTable::FilledBodies {
    struct Entry {
        VariableSnapshot variables;
        Filled filled;
    };
    std::mutex mutex;
    std::unordered_map<size_t, Entry> bySlot;
    size_t bytes = 0;
    // One body filled in or judged at a time: each takes more than its own size again while it is made,
    // and every thread that came at once would otherwise make its own.
    std::mutex making;
};

RouteTable::RouteTable(RouteSnapshot routes)
    : m_routes(std::move(routes))
{
    std::string hostname;
    for (size_t i = 0; i < m_routes.size(); ++i) {
        const WireRoute &route = m_routes[i];
        if (!route.active)
            continue;
        const auto index = static_cast<uint32_t>(i);
        if (route.host.empty()) {
            methodFor(lowerAscii(route.method)).anyHost.add(index, route.path);
            continue;
        }
        int port = -1;
        if (!splitHostPort(route.host, hostname, port))
            continue; // a host that is no host never matches
        HostBuckets &host = methodFor(lowerAscii(route.method)).byHost[hostname];
        if (port == -1) {
            host.anyPort.add(index, route.path);
            continue;
        }
        auto byPort = std::find_if(host.byPort.begin(), host.byPort.end(), [&](const auto &p) { return p.first == port; });
        if (byPort == host.byPort.end())
            byPort = host.byPort.insert(host.byPort.end(), {port, Bucket {}});
        byPort->second.add(index, route.path);
    }
    size_t verdicts = 0;
    for (const WireRoute &route : m_routes) {
        m_firstVerdict.push_back(verdicts);
        verdicts += 1 + (route.sequence ? route.sequence->size() : 0);
    }
    m_verdicts = std::make_unique<std::atomic<const std::string *>[]>(verdicts);
    m_filled = std::make_unique<FilledBodies>();
    for (auto &method : m_methods) {
        method.anyHost.index();
        for (auto &[name, host] : method.byHost) {
            host.anyPort.index();
            for (auto &[port, bucket] : host.byPort)
                bucket.index();
        }
    }
}

std::optional<size_t> RouteTable::find(std::string_view method, const ProxyTarget &target) const
{
    const auto entry = std::find_if(m_methods.begin(), m_methods.end(),
                                    [&](const MethodBuckets &m) { return equalsIgnoringAsciiCase(m.method, method); });
    if (entry == m_methods.end())
        return std::nullopt;
    SplitPath path;
    split(withoutTrailingSlash(target.path), path);
    uint32_t best = kNoRoute;
    entry->anyHost.find(path, best);
    if (const auto host = entry->byHost.find(std::string_view(target.hostname)); host != entry->byHost.end()) {
        host->second.anyPort.find(path, best);
        for (const auto &[port, bucket] : host->second.byPort) {
            if (port == target.port)
                bucket.find(path, best);
        }
    }
    if (best == kNoRoute)
        return std::nullopt;
    return best;
}

const std::string *RouteTable::bodyVerdict(size_t route, std::optional<size_t> step, BodyVerdict decide) const
{
    const WireRoute &source = m_routes[route];
    const std::string &body = step ? source.sequence->at(*step).body : source.body;
    std::atomic<const std::string *> &slot = m_verdicts[m_firstVerdict[route] + (step ? 1 + *step : 0)];
    const std::string *verdict = slot.load(std::memory_order_acquire);
    if (verdict)
        return verdict;
    std::lock_guard making(m_filled->making);
    verdict = slot.load(std::memory_order_acquire);
    if (!verdict) {
        verdict = decide(body);
        slot.store(verdict, std::memory_order_release);
    }
    return verdict;
}

RouteTable::~RouteTable() = default;

std::optional<RouteTable::Filled> RouteTable::filledBody(size_t route, std::optional<size_t> step,
                                                         const VariableSnapshot &variables, size_t limit,
                                                         BodyVerdict decide) const
{
    const size_t slot = m_firstVerdict[route] + (step ? 1 + *step : 0);
    const auto kept = [&]() -> std::optional<Filled> {
        const auto found = m_filled->bySlot.find(slot);
        if (found != m_filled->bySlot.end() && found->second.variables.sameAs(variables))
            return found->second.filled;
        return std::nullopt;
    };
    {
        std::lock_guard lock(m_filled->mutex);
        if (auto filled = kept())
            return filled;
    }
    std::lock_guard making(m_filled->making);
    {
        std::lock_guard lock(m_filled->mutex);
        if (auto filled = kept())
            return filled;
    }
    const WireRoute &source = m_routes[route];
    auto text = substituteVariables(step ? source.sequence->at(*step).body : source.body, variables, limit);
    if (!text)
        return std::nullopt;
    Filled filled {std::make_shared<const std::string>(std::move(*text)), nullptr};
    filled.verdict = decide(*filled.body);
    std::lock_guard lock(m_filled->mutex);
    if (const auto stale = m_filled->bySlot.find(slot); stale != m_filled->bySlot.end()) {
        m_filled->bytes -= stale->second.filled.body->size();
        m_filled->bySlot.erase(stale);
    }
    if (m_filled->bytes + filled.body->size() <= kMaxFilledBytes) {
        m_filled->bytes += filled.body->size();
        m_filled->bySlot.emplace(slot, FilledBodies::Entry {variables, filled});
    }
    return filled;
}

std::shared_ptr<const RouteTable> RouteTable::of(const RouteSnapshot &routes)
{
    // A table holds its snapshot, so while one is alive no other list can take its address: the address
    // alone tells whether a table is still the right one. Threads only watch the shared table, so an idle
    // one never keeps an old route list in memory.
    static std::mutex sharedMutex;
    static std::shared_ptr<const RouteTable> shared;
    thread_local std::weak_ptr<const RouteTable> seen;

    const std::vector<WireRoute> &list = routes;
    if (auto table = seen.lock(); table && &table->source() == &list)
        return table;
    std::lock_guard lock(sharedMutex);
    if (!shared || &shared->source() != &list)
        shared = std::make_shared<const RouteTable>(routes);
    seen = shared;
    return shared;
}

std::optional<size_t> findRoute(const RouteSnapshot &routes, std::string_view method, const ProxyTarget &target)
{
    return RouteTable::of(routes)->find(method, target);
}

} // namespace standin
