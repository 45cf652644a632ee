// RouteList: single-route edits in place, whole-list replacement, and one debounced post of the whole list.
#include "engine/route_list.h"

#include "engine/engine_channel.h"
#include "engine/project_store.h"
#include "engine/push_gate.h"
#include "platform/background_work.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

RouteList::RouteList(EngineChannel *channel, PushGate *gate, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_gate(gate)
    , m_writes(new OrderedPush(channel, gate, PushGate::Kind::routes, QStringLiteral("routes"), this))
{
    m_writes->setDebounceMs(PushDebounceMs);
    connect(m_writes, &OrderedPush::landed, this, [this](const QByteArray &body) {
        engineTook(body);
        emit pushLanded();
    });
}

QList<Endpoint> RouteList::fromWire(const std::vector<WireRoute> &routes)
{
    QList<Endpoint> list;
    list.reserve(qsizetype(routes.size()));
    for (const WireRoute &route : routes)
        list.append(Endpoint::fromWire(route));
    return list;
}

QList<Endpoint> RouteList::withEditsSince(const QList<Endpoint> &base, const QList<Endpoint> &edited,
                                          const QList<Endpoint> &imported)
{
    // Nothing edited meanwhile (mostly the very same list, compared at once): the answer as it is, not copied.
    if (edited == base)
        return imported;
    std::unordered_map<std::string, const Endpoint *> before;
    for (const Endpoint &route : base)
        before.emplace(route.id, &route);
    std::unordered_set<std::string> kept;
    for (const Endpoint &route : edited)
        kept.insert(route.id);

    QList<Endpoint> merged;
    merged.reserve(imported.size() + edited.size());
    for (const Endpoint &route : imported)
        if (!before.contains(route.id) || kept.contains(route.id))
            merged.append(route);
    for (const Endpoint &route : edited) {
        const auto was = before.find(route.id);
        if (was != before.end() && *was->second == route)
            continue;
        const auto at = std::find_if(merged.begin(), merged.end(), [&](const Endpoint &e) { return e.id == route.id; });
        if (at != merged.end())
            *at = route;
        else
            merged.append(route);
    }
    return merged;
}

void RouteList::setRoutesLoaded(bool loaded)
{
    if (m_routesLoaded == loaded)
        return;
    m_routesLoaded = loaded;
    emit routesLoadedChanged();
}

void RouteList::didChange(int position)
{
    ++m_revision;
    m_editedEndpoint = position;
    emit endpointsChanged();
}

void RouteList::setEndpoints(const QList<Endpoint> &endpoints)
{
    if (!m_gate->editsOpen())
        return;
    applyLoaded(endpoints);
}

void RouteList::applyLoaded(const QList<Endpoint> &routes)
{
    // A waiting push keeps the list it was scheduled with; it reaches the engine only while the
    // project it was made for is still the active one.
    if (m_writes->debouncing() && !m_pushRoutes)
        m_pushRoutes = m_endpoints;
    m_endpoints = routes;
    didChange(-1);
}

void RouteList::setEngineHolds(const QList<Endpoint> &routes)
{
    m_engineList = routes;
}

QByteArray RouteList::madeFrom(QByteArray body, const QList<Endpoint> &routes)
{
    forgetDropped();
    m_made.append(Made{body, routes});
    return body;
}

void RouteList::forgetDropped()
{
    // A body no one else holds any more was dropped before it went, and can no longer be taken.
    m_made.removeIf([](const Made &made) { return made.body.isDetached(); });
}

void RouteList::engineTook(const QByteArray &body)
{
    // Writes are answered in the order they were made, so the ones made before this are done with too.
    for (qsizetype at = m_made.size() - 1; at >= 0; --at) {
        if (m_made[at].body.isSharedWith(body)) {
            m_engineList = m_made[at].routes;
            m_made.remove(0, at + 1);
            forgetDropped();
            return;
        }
    }
    m_engineList.reset();
}

QStringList RouteList::unsentRouteIds() const
{
    if (!pushPending())
        return {};
    const QList<Endpoint> held = m_engineList.value_or(QList<Endpoint>());
    std::unordered_map<std::string, const Endpoint *> before;
    for (const Endpoint &route : held)
        before.emplace(route.id, &route);
    QStringList ids;
    std::unordered_set<std::string> present;
    for (const Endpoint &route : m_endpoints) {
        present.insert(route.id);
        const auto was = before.find(route.id);
        // The same route object (a list not edited since) needs no comparison of its bodies.
        if (was == before.end() || (was->second != &route && !(*was->second == route)))
            ids.append(QString::fromStdString(route.id));
    }
    for (const Endpoint &route : held)
        if (!present.contains(route.id))
            ids.append(QString::fromStdString(route.id));
    ids.removeDuplicates();
    return ids;
}

void RouteList::load(Done done)
{
    if (m_channel->controlPort())
        setRoutesLoaded(false);
    QNetworkReply *reply = m_channel->sendControl(
        "GET", QStringLiteral("routes"), {}, std::nullopt, m_channel->timeouts().general, this,
        [this, done](const ControlReply &reply) {
            if (reply.transportFailed()) {
                if (done)
                    done();
                return;
            }
            decodeInTurn(reply.body, [this, done](Decoded loaded) {
                if (loaded) {
                    setEngineHolds(*loaded);
                    applyLoaded(*loaded);
                    setRoutesLoaded(true);
                }
                if (done)
                    done();
            });
        });
    if (!reply && done)
        done();
}

namespace {

RouteList::Decoded decodeRoutes(const QByteArray &body)
{
    const auto routes = decodeRecord<std::vector<WireRoute>>(EngineChannel::asView(body));
    return routes ? RouteList::Decoded(RouteList::fromWire(*routes)) : std::nullopt;
}

} // namespace

void RouteList::decodeInTurn(const QByteArray &body, std::function<void(Decoded)> then)
{
    auto decoding = std::make_shared<Decoding>();
    decoding->then = std::move(then);
    m_decoding.append(decoding);
    if (body.size() < OffThreadDecodeBytes) {
        decoding->result = decodeRoutes(body);
        deliverDecoded();
        return;
    }
    BackgroundWork::run(
        this, [body] { return decodeRoutes(body); },
        [this, decoding](Decoded routes) {
            decoding->result = std::move(routes);
            deliverDecoded();
        });
}

void RouteList::deliverDecoded()
{
    // What a delivery sets off may give another answer; it waits for the loop here to reach it.
    if (m_delivering)
        return;
    m_delivering = true;
    while (!m_decoding.isEmpty() && m_decoding.first()->result) {
        const std::shared_ptr<Decoding> next = m_decoding.takeFirst();
        next->then(std::move(*next->result));
    }
    m_delivering = false;
}

// ---- Intents ----

void RouteList::replaceEndpoints(const QList<Endpoint> &endpoints)
{
    if (!m_gate->editsOpen())
        return;
    m_endpoints = endpoints;
    didChange(-1);
    push();
}

bool RouteList::editRoute(const QString &id, const std::function<void(Endpoint &)> &edit)
{
    if (!m_gate->editsOpen())
        return false;
    const std::string key = id.toStdString();
    const auto it = std::find_if(m_endpoints.begin(), m_endpoints.end(), [&](const Endpoint &e) { return e.id == key; });
    if (it == m_endpoints.end())
        return false;
    edit(*it);
    didChange(int(std::distance(m_endpoints.begin(), it)));
    push();
    return true;
}

void RouteList::updateEndpoint(Endpoint endpoint)
{
    editRoute(QString::fromStdString(endpoint.id), [&](Endpoint &e) { e = std::move(endpoint); });
}

void RouteList::toggleEndpoint(const QString &id)
{
    editRoute(id, [](Endpoint &e) { e.active = !e.active; });
}

void RouteList::setGroup(const QString &id, const QString &group)
{
    editRoute(id, [&](Endpoint &e) { e.group = group.toStdString(); });
}

std::optional<QString> RouteList::duplicateEndpoint(const QString &id)
{
    if (!m_gate->editsOpen())
        return std::nullopt;
    const std::string key = id.toStdString();
    const auto it = std::find_if(m_endpoints.cbegin(), m_endpoints.cend(), [&](const Endpoint &e) { return e.id == key; });
    if (it == m_endpoints.cend())
        return std::nullopt;
    Endpoint copy = *it;
    copy.id = makeRouteId();
    m_endpoints.insert(std::distance(m_endpoints.cbegin(), it) + 1, copy);
    didChange(-1);
    push();
    return QString::fromStdString(copy.id);
}

void RouteList::deleteEndpoint(const QString &id)
{
    if (!m_gate->editsOpen())
        return;
    const std::string key = id.toStdString();
    m_endpoints.removeIf([&key](const Endpoint &route) { return route.id == key; });
    didChange(-1);
    push();
}

QStringList RouteList::groupNames() const
{
    std::vector<std::string> names;
    for (const Endpoint &endpoint : m_endpoints) {
        if (!endpoint.group.empty() && std::find(names.begin(), names.end(), endpoint.group) == names.end())
            names.push_back(endpoint.group);
    }
    // Byte order of UTF-8 is code point order.
    std::sort(names.begin(), names.end());
    QStringList result;
    for (const std::string &name : names)
        result.append(QString::fromStdString(name));
    return result;
}

void RouteList::renameGroup(const QString &oldName, const QString &newName)
{
    if (!m_gate->editsOpen())
        return;
    const std::string from = oldName.toStdString();
    const std::string to = newName.toStdString();
    bool changed = false;
    for (Endpoint &endpoint : m_endpoints) {
        if (endpoint.group == from) {
            endpoint.group = to;
            changed = true;
        }
    }
    if (!changed)
        return;
    didChange(-1);
    push();
}

// ---- Debounced push ----

void RouteList::push()
{
    if (m_gate->editsOpen())
        schedulePush();
}

void RouteList::schedulePush()
{
    // Encoded once, when the debounce ends, so a burst of edits to a long list costs one encoding
    // instead of one per keystroke. Every edit of the list pushes again, so the live list at that moment
    // is the list as it was here, unless setEndpoints() replaced it meanwhile (it then keeps this one).
    m_pushRoutes.reset();
    encodeAhead();
    m_writes->schedule([this] { return takePushBody(); });
}

void RouteList::pushNow()
{
    schedulePush();
    m_writes->endDebounce();
}

namespace {

QByteArray encodeRoutes(const QList<Endpoint> &routes)
{
    std::vector<WireRoute> wire;
    wire.reserve(std::size_t(routes.size()));
    for (const Endpoint &endpoint : routes)
        wire.push_back(endpoint.wire());
    return QByteArray::fromStdString(encodeRecord(wire));
}

// Bodies of this many bytes in all take longer to encode than a frame.
constexpr std::size_t EncodeAheadBytes = 512 * 1024;

} // namespace

void RouteList::encodeAhead()
{
    std::size_t bytes = 0;
    for (const Endpoint &endpoint : m_endpoints) {
        bytes += endpoint.body.size();
        for (const MockStep &step : endpoint.sequence)
            bytes += step.body.size();
    }
    if (bytes < EncodeAheadBytes)
        return;
    // The worker encodes a copy that shares the routes: an edit meanwhile copies the list it changes.
    BackgroundWork::run(
        this, [routes = m_endpoints] { return encodeRoutes(routes); },
        [this, revision = m_revision](QByteArray body) {
            if (revision == m_revision)
                m_encodedAhead = Encoded{revision, std::move(body)};
        });
}

QByteArray RouteList::takePushBody()
{
    std::optional<Encoded> ahead = std::exchange(m_encodedAhead, std::nullopt);
    if (m_pushRoutes) {
        const QList<Endpoint> routes = *std::exchange(m_pushRoutes, std::nullopt);
        return madeFrom(encodeRoutes(routes), routes);
    }
    if (ahead && ahead->revision == m_revision)
        return madeFrom(std::move(ahead->body), m_endpoints);
    return madeFrom(encodeRoutes(m_endpoints), m_endpoints);
}
