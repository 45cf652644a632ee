// EngineClient: the route list (load, debounced push, single-route edits, groups) and capture import.
#include "engine/engine_client.h"

#include "engine/analytics.h"
#include "engine/engine_output.h"

#include <QNetworkReply>

#include <algorithm>

QList<Endpoint> EngineClient::toEndpointList(const std::vector<WireRoute> &routes)
{
    QList<Endpoint> list;
    list.reserve(qsizetype(routes.size()));
    for (const WireRoute &route : routes)
        list.append(Endpoint::fromWire(route));
    return list;
}

void EngineClient::loadRoutes(Done done)
{
    if (controlPort())
        setRoutesLoaded(false);
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("routes"), {}, std::nullopt, generalTimeout(), this,
        [this, done](const ControlReply &reply) {
            if (!reply.transportFailed()) {
                if (auto routes = decodeRecord<std::vector<WireRoute>>(asView(reply.body))) {
                    applyLoadedRoutes(toEndpointList(*routes));
                    setRoutesLoaded(true);
                }
            }
            if (done)
                done();
        });
    if (!reply && done)
        done();
}

// ---- Debounced push ----

void EngineClient::applyLoadedRoutes(const QList<Endpoint> &routes)
{
    // A waiting push keeps the list it was scheduled with; it reaches the engine only while the
    // project it was made for is still the active one.
    if (m_routePushTimer.isActive() && !m_routePushRoutes)
        m_routePushRoutes = m_endpoints;
    m_endpoints = routes;
    endpointsDidChange(-1);
}

void EngineClient::dropWaitingRoutePush()
{
    if (!m_routePushTimer.isActive())
        return;
    m_routePushTimer.stop();
    m_routePushRoutes.reset();
    finishRoutePush();
}

void EngineClient::pushRoutes()
{
    if (!listWritesOpen())
        return;
    // The newest snapshot replaces a waiting one and cancels a post still in flight.
    m_routePushTimer.stop();
    ++m_routePushGeneration;
    abortInFlight(m_routePushReply);

    // Encoded once, when the debounce ends, so a burst of edits to a long list costs one encoding
    // instead of one per keystroke. Every edit of the list pushes again, so the live list at that moment
    // is the list as it was here, unless setEndpoints() replaced it meanwhile (it then keeps this one).
    m_routePushRoutes.reset();
    m_routePushProject = m_activeProjectID;
    m_routePushTimer.start(PushDebounceMs);
}

QByteArray EngineClient::routePushBody() const
{
    std::vector<WireRoute> wire;
    const QList<Endpoint> &routes = m_routePushRoutes ? *m_routePushRoutes : m_endpoints;
    wire.reserve(std::size_t(routes.size()));
    for (const Endpoint &endpoint : routes)
        wire.push_back(endpoint.wire());
    return QByteArray::fromStdString(encodeRecord(wire));
}

void EngineClient::postRoutes(const QByteArray &body)
{
    m_routePushTimer.stop();
    m_routePushRoutes.reset();
    if (!pushMayLand(m_routePushProject)) {
        finishRoutePush();
        return;
    }
    const int generation = m_routePushGeneration;
    // The answer is not examined: a failed push is overtaken by the next push or load.
    m_routePushReply = sendControl("POST", QStringLiteral("routes"), {}, body, generalTimeout(), this,
                                   [this, generation](const ControlReply &) {
                                       if (generation != m_routePushGeneration)
                                           return;
                                       m_routePushReply = nullptr;
                                       finishRoutePush();
                                   });
    if (!m_routePushReply)
        finishRoutePush();
}

bool EngineClient::routePushPending() const
{
    return m_routePushTimer.isActive() || m_routePushReply;
}

void EngineClient::afterRoutePushSettles(Done done)
{
    if (!done)
        return;
    if (!routePushPending()) {
        done();
        return;
    }
    m_routePushWaiters.push_back(std::move(done));
}

void EngineClient::finishRoutePush()
{
    if (routePushPending())
        return;
    std::vector<Done> waiters;
    waiters.swap(m_routePushWaiters);
    for (Done &waiter : waiters)
        waiter();
}

QNetworkReply *EngineClient::sendPendingRoutePushNow()
{
    if (m_routePushTimer.isActive())
        postRoutes(routePushBody());
    return m_routePushReply.data();
}

void EngineClient::cancelRoutePush()
{
    m_routePushTimer.stop();
    ++m_routePushGeneration;
    abortInFlight(m_routePushReply);
    finishRoutePush();
}

// ---- Single-route operations ----

void EngineClient::updateEndpoint(const Endpoint &endpoint)
{
    if (!listWritesOpen())
        return;
    const auto it = std::find_if(m_endpoints.begin(), m_endpoints.end(),
                                 [&](const Endpoint &e) { return e.id == endpoint.id; });
    if (it == m_endpoints.end())
        return;
    *it = endpoint;
    endpointsDidChange(int(std::distance(m_endpoints.begin(), it)));
    pushRoutes();
}

std::optional<QString> EngineClient::duplicateEndpoint(const QString &id)
{
    if (!listWritesOpen())
        return std::nullopt;
    const std::string key = id.toStdString();
    const auto it = std::find_if(m_endpoints.cbegin(), m_endpoints.cend(),
                                 [&](const Endpoint &e) { return e.id == key; });
    if (it == m_endpoints.cend())
        return std::nullopt;
    Endpoint copy = *it;
    copy.id = makeRouteId();
    m_endpoints.insert(std::distance(m_endpoints.cbegin(), it) + 1, copy);
    endpointsDidChange(-1);
    pushRoutes();
    return QString::fromStdString(copy.id);
}

void EngineClient::toggleEndpoint(const QString &id)
{
    if (!listWritesOpen())
        return;
    const std::string key = id.toStdString();
    const auto it = std::find_if(m_endpoints.begin(), m_endpoints.end(),
                                 [&](const Endpoint &e) { return e.id == key; });
    if (it == m_endpoints.end())
        return;
    it->active = !it->active;
    endpointsDidChange(int(std::distance(m_endpoints.begin(), it)));
    pushRoutes();
}

void EngineClient::setGroup(const QString &id, const QString &group)
{
    if (!listWritesOpen())
        return;
    const std::string key = id.toStdString();
    const auto it = std::find_if(m_endpoints.begin(), m_endpoints.end(),
                                 [&](const Endpoint &e) { return e.id == key; });
    if (it == m_endpoints.end())
        return;
    it->group = group.toStdString();
    endpointsDidChange(int(std::distance(m_endpoints.begin(), it)));
    pushRoutes();
}

QStringList EngineClient::groupNames() const
{
    std::vector<std::string> names;
    for (const Endpoint &endpoint : m_endpoints) {
        if (!endpoint.group.empty()
            && std::find(names.begin(), names.end(), endpoint.group) == names.end())
            names.push_back(endpoint.group);
    }
    // Byte order of UTF-8 is code point order.
    std::sort(names.begin(), names.end());
    QStringList result;
    for (const std::string &name : names)
        result.append(QString::fromStdString(name));
    return result;
}

void EngineClient::renameGroup(const QString &oldName, const QString &newName)
{
    if (!listWritesOpen())
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
    endpointsDidChange(-1);
    pushRoutes();
}

// ---- Capture import ----

void EngineClient::importFile(const QString &path)
{
    readFileOffThread(path, [this](const std::optional<QByteArray> &data, const QString &name) {
        if (data)
            importData(*data, name);
        else
            appendLog(QStringLiteral("import: could not read ") + name);
    });
}

void EngineClient::importData(const QByteArray &data, const QString &name, Done done)
{
    // The engine merges the capture into the routes it holds, so edits still waiting reach it first.
    afterPendingPushes([this, data, name, done] { postImport(data, name, done); });
}

void EngineClient::postImport(const QByteArray &data, const QString &name, Done done)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("format"), QStringLiteral("auto"));
    QNetworkReply *reply = sendControl(
        "POST", QStringLiteral("import"), query, data, generalTimeout(), this,
        [this, name, done](const ControlReply &reply) {
            if (reply.transportFailed()) {
                appendLog(QStringLiteral("import ") + name + QStringLiteral(": request failed"));
            } else if (auto routes = reply.isSuccess()
                                         ? decodeRecord<std::vector<WireRoute>>(asView(reply.body))
                                         : std::nullopt) {
                // A push made while the import was under way was made from the list it replaces.
                dropWaitingRoutePush();
                applyLoadedRoutes(toEndpointList(*routes));
                appendLog(QStringLiteral("imported ") + QString::number(routes->size())
                          + QStringLiteral(" routes from ") + name);
                analytics().track(QStringLiteral("import_completed"), false);
            } else {
                // A body cut inside a UTF-8 sequence is not text either.
                const QString text = decodeUtf8Line(reply.body).value_or(QStringLiteral("unknown error"));
                appendLog(QStringLiteral("import ") + name + QStringLiteral(" failed: ") + text);
            }
            if (done)
                done();
        });
    if (!reply && done)
        done();
}
