// RouteList: single-route edits in place, whole-list replacement, and one debounced post of the whole list.
#include "engine/route_list.h"

#include "engine/engine_channel.h"
#include "engine/project_store.h"

#include <algorithm>
#include <utility>

RouteList::RouteList(EngineChannel *channel, const ProjectStore *projects, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_projects(projects)
    , m_writes(new OrderedPush(channel, projects, QStringLiteral("routes"), this))
{
    m_writes->setDebounceMs(PushDebounceMs);
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
    if (m_writes->debouncing() && !m_pushRoutes)
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
    // Encoded once, when the debounce ends, so a burst of edits to a long list costs one encoding
    // instead of one per keystroke. Every edit of the list pushes again, so the live list at that moment
    // is the list as it was here, unless setEndpoints() replaced it meanwhile (it then keeps this one).
    m_pushRoutes.reset();
    m_writes->schedule([this] { return takePushBody(); });
}

QByteArray RouteList::takePushBody()
{
    std::vector<WireRoute> wire;
    const QList<Endpoint> routes = m_pushRoutes ? *std::exchange(m_pushRoutes, std::nullopt) : m_endpoints;
    wire.reserve(std::size_t(routes.size()));
    for (const Endpoint &endpoint : routes)
        wire.push_back(endpoint.wire());
    return QByteArray::fromStdString(encodeRecord(wire));
}
