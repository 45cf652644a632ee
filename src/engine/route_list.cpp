// RouteList: single-route edits in place, whole-list replacement, and one debounced post of the whole list.
#include "engine/route_list.h"

#include "engine/engine_channel.h"
#include "engine/project_store.h"

#include <QNetworkReply>

#include <algorithm>
#include <utility>

RouteList::RouteList(EngineChannel *channel, const ProjectStore *projects, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_projects(projects)
{
    m_pushTimer.setSingleShot(true);
    connect(&m_pushTimer, &QTimer::timeout, this, [this] { post(pushBody()); });
}

QList<Endpoint> RouteList::fromWire(const std::vector<WireRoute> &routes)
{
    QList<Endpoint> list;
    list.reserve(qsizetype(routes.size()));
    for (const WireRoute &route : routes)
        list.append(Endpoint::fromWire(route));
    return list;
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
    if (!m_projects->writesOpen())
        return;
    applyLoaded(endpoints);
}

void RouteList::applyLoaded(const QList<Endpoint> &routes)
{
    // A waiting push keeps the list it was scheduled with; it reaches the engine only while the
    // project it was made for is still the active one.
    if (m_pushTimer.isActive() && !m_pushRoutes)
        m_pushRoutes = m_endpoints;
    m_endpoints = routes;
    didChange(-1);
}

void RouteList::load(Done done)
{
    if (m_channel->controlPort())
        setRoutesLoaded(false);
    QNetworkReply *reply = m_channel->sendControl(
        "GET", QStringLiteral("routes"), {}, std::nullopt, m_channel->timeouts().general, this,
        [this, done](const ControlReply &reply) {
            if (!reply.transportFailed()) {
                if (auto routes = decodeRecord<std::vector<WireRoute>>(EngineChannel::asView(reply.body))) {
                    applyLoaded(fromWire(*routes));
                    setRoutesLoaded(true);
                }
            }
            if (done)
                done();
        });
    if (!reply && done)
        done();
}

// ---- Intents ----

void RouteList::replaceEndpoints(const QList<Endpoint> &endpoints)
{
    if (!m_projects->writesOpen())
        return;
    m_endpoints = endpoints;
    didChange(-1);
    push();
}

bool RouteList::editRoute(const QString &id, const std::function<void(Endpoint &)> &edit)
{
    if (!m_projects->writesOpen())
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

void RouteList::updateEndpoint(const Endpoint &endpoint)
{
    editRoute(QString::fromStdString(endpoint.id), [&](Endpoint &e) { e = endpoint; });
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
    if (!m_projects->writesOpen())
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
    if (!m_projects->writesOpen())
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
    if (!m_projects->writesOpen())
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
    if (!m_projects->writesOpen())
        return;
    // The newest snapshot replaces a waiting one and cancels a post still in flight.
    m_pushTimer.stop();
    ++m_pushGeneration;
    EngineChannel::abortInFlight(m_pushReply);

    // Encoded once, when the debounce ends, so a burst of edits to a long list costs one encoding
    // instead of one per keystroke. Every edit of the list pushes again, so the live list at that moment
    // is the list as it was here, unless setEndpoints() replaced it meanwhile (it then keeps this one).
    m_pushRoutes.reset();
    m_pushProject = m_projects->activeProjectID();
    m_pushTimer.start(m_pushDebounceMs);
}

QByteArray RouteList::pushBody() const
{
    std::vector<WireRoute> wire;
    const QList<Endpoint> &routes = m_pushRoutes ? *m_pushRoutes : m_endpoints;
    wire.reserve(std::size_t(routes.size()));
    for (const Endpoint &endpoint : routes)
        wire.push_back(endpoint.wire());
    return QByteArray::fromStdString(encodeRecord(wire));
}

void RouteList::post(const QByteArray &body)
{
    m_pushTimer.stop();
    m_pushRoutes.reset();
    const QString &active = m_projects->activeProjectID();
    if (m_projects->changeUnderWay() && (m_pushProject == active || m_pushProject.isEmpty())) {
        // The engine may be on another project by now: the push waits to be landed in its own.
        m_heldBody = body;
        m_heldProject = active;
        return;
    }
    if (!m_projects->pushMayLand(m_pushProject)) {
        finishPush();
        return;
    }
    send(body);
}

void RouteList::send(const QByteArray &body, Done sent)
{
    const int generation = m_pushGeneration;
    // The answer is not examined: a failed push is overtaken by the next push or load.
    m_pushReply = m_channel->sendControl("POST", QStringLiteral("routes"), {}, body, m_channel->timeouts().general,
                                         this, [this, generation, sent](const ControlReply &) {
                                             if (generation == m_pushGeneration) {
                                                 m_pushReply = nullptr;
                                                 finishPush();
                                             }
                                             if (sent)
                                                 sent();
                                         });
    if (!m_pushReply) {
        finishPush();
        if (sent)
            sent();
    }
}

bool RouteList::pushPending() const
{
    return m_pushTimer.isActive() || m_pushReply || m_heldBody;
}

void RouteList::afterPushSettles(Done done)
{
    m_pushWaiters.add(std::move(done), pushPending());
}

void RouteList::finishPush()
{
    m_pushWaiters.release(pushPending());
}

QNetworkReply *RouteList::sendPendingPushNow()
{
    if (m_pushTimer.isActive())
        post(pushBody());
    return m_pushReply.data();
}

void RouteList::cancelPush()
{
    m_heldBody.reset();
    m_pushTimer.stop();
    ++m_pushGeneration;
    EngineChannel::abortInFlight(m_pushReply);
    finishPush();
}

void RouteList::dropWaitingPush()
{
    if (!m_pushTimer.isActive())
        return;
    m_pushTimer.stop();
    m_pushRoutes.reset();
    finishPush();
}

void RouteList::dropWaitingPushOf(const QString &project)
{
    if (m_pushTimer.isActive() && m_pushProject == project)
        dropWaitingPush();
    if (m_heldBody && m_heldProject == project)
        dropHeldPush();
}

void RouteList::holdWaitingPush()
{
    if (m_pushTimer.isActive())
        post(pushBody());
}

void RouteList::postHeldPush(Done sent)
{
    if (!m_heldBody) {
        if (sent)
            sent();
        return;
    }
    const QByteArray body = *std::exchange(m_heldBody, std::nullopt);
    ++m_pushGeneration;
    EngineChannel::abortInFlight(m_pushReply);
    send(body, std::move(sent));
}

void RouteList::dropHeldPush()
{
    if (!m_heldBody)
        return;
    m_heldBody.reset();
    finishPush();
}
