// Rows of the routes table, kept in place across route, filter and fold changes.
#include "screens/routes/route_list_model.h"

#include "app/app_state.h"
#include "engine/engine_client.h"

RouteListModel::RouteListModel(AppState *state, EngineClient *engine, QObject *parent)
    : QAbstractListModel(parent)
    , m_state(state)
    , m_engine(engine)
{
    connect(engine, &EngineClient::endpointsChanged, this, &RouteListModel::refresh);
    connect(state, &AppState::selectedEndpointIDChanged, this, &RouteListModel::updateSelection);
    m_routes = engine->endpoints();
    m_texts = textsOf(m_routes);
    m_listing = RoutesLogic::listing(m_routes, m_texts, m_filter);
    m_rows = buildRows();
    if (state->selectedEndpointID())
        m_selectedID = *state->selectedEndpointID();
}

int RouteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

const Endpoint *RouteListModel::routeAt(int row) const
{
    if (row < 0 || row >= m_rows.size() || m_rows[row].kind != Kind::route)
        return nullptr;
    return &m_routes[m_rows[row].route];
}

QVariant RouteListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows[index.row()];
    if (role == KindRole)
        return int(row.kind);
    if (row.kind == Kind::header) {
        switch (role) {
        case Qt::DisplayRole:
        case LabelRole:
            return row.label;
        case CountRole:
            return row.count;
        case CollapsedRole:
            return row.collapsed;
        default:
            return {};
        }
    }
    const Endpoint &route = m_routes[row.route];
    switch (role) {
    case Qt::DisplayRole:
    case PathRole:
        return QString::fromStdString(route.path);
    case RouteIDRole:
        return QString::fromStdString(route.id);
    case MethodRole:
        return QString::fromLatin1(rawValue(route.method));
    case HostRole:
        return QString::fromStdString(route.host);
    case StatusRole:
        return qint64(route.status);
    case LatencyRole:
        return qint64(route.latency);
    case ActiveRole:
        return route.active;
    case SelectedRole:
        return !m_selectedID.isEmpty() && QString::fromStdString(route.id) == m_selectedID;
    default:
        return {};
    }
}

QHash<int, QByteArray> RouteListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(KindRole, "kind");
    names.insert(RouteIDRole, "routeID");
    names.insert(LabelRole, "label");
    names.insert(CountRole, "count");
    names.insert(CollapsedRole, "collapsed");
    names.insert(MethodRole, "method");
    names.insert(HostRole, "host");
    names.insert(PathRole, "path");
    names.insert(StatusRole, "status");
    names.insert(LatencyRole, "latency");
    names.insert(ActiveRole, "active");
    names.insert(SelectedRole, "selected");
    return names;
}

void RouteListModel::setFilter(const QString &filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    apply(m_routes, RoutesLogic::listing(m_routes, m_texts, m_filter));
}

void RouteListModel::toggleCollapsed(const QString &label)
{
    if (!m_collapsed.remove(label))
        m_collapsed.insert(label);
    apply(m_routes, m_listing);
}

void RouteListModel::refresh()
{
    QList<Endpoint> routes = m_engine ? m_engine->endpoints() : QList<Endpoint>();
    m_texts = textsOf(routes);
    RoutesLogic::Listing listing = RoutesLogic::listing(routes, m_texts, m_filter);
    apply(std::move(routes), std::move(listing));
}

QList<RouteTree::FilterText> RouteListModel::textsOf(const QList<Endpoint> &routes)
{
    QList<RouteTree::FilterText> texts;
    texts.reserve(routes.size());
    for (const Endpoint &route : routes)
        texts.append(RouteTree::filterText(route));
    return texts;
}

QList<RouteListModel::Row> RouteListModel::buildRows() const
{
    QList<Row> rows;
    if (!m_listing.hasGroups) {
        rows.reserve(m_listing.filtered.size());
        for (int position : m_listing.filtered)
            rows.append(Row{Kind::route, position, {}, 0, false});
        return rows;
    }
    rows.reserve(m_listing.filtered.size() + m_listing.sections.size());
    for (const RoutesLogic::Section &section : m_listing.sections) {
        const bool collapsed = m_collapsed.contains(section.label);
        rows.append(Row{Kind::header, -1, section.label, int(section.routes.size()), collapsed});
        if (collapsed)
            continue;
        for (int position : section.routes)
            rows.append(Row{Kind::route, position, {}, 0, false});
    }
    return rows;
}

bool RouteListModel::sameKey(const Row &a, const QList<Endpoint> &ra, const Row &b, const QList<Endpoint> &rb)
{
    if (a.kind != b.kind)
        return false;
    if (a.kind == Kind::header)
        return a.label == b.label;
    return ra[a.route].id == rb[b.route].id;
}

bool RouteListModel::sameLook(const Row &a, const QList<Endpoint> &ra, const Row &b, const QList<Endpoint> &rb)
{
    if (a.kind == Kind::header)
        return a.count == b.count && a.collapsed == b.collapsed;
    const Endpoint &x = ra[a.route];
    const Endpoint &y = rb[b.route];
    return x.method == y.method && x.host == y.host && x.path == y.path && x.status == y.status
           && x.latency == y.latency && x.active == y.active;
}

void RouteListModel::apply(QList<Endpoint> routes, RoutesLogic::Listing listing)
{
    const QList<Endpoint> oldRoutes = m_routes;
    const QList<Row> oldRows = m_rows;
    m_listing = std::move(listing);
    const QList<Row> newRows = buildRows(); // positions into `routes`
    const QList<Endpoint> &newRoutes = routes;

    const qsizetype oldN = oldRows.size();
    const qsizetype newN = newRows.size();
    qsizetype prefix = 0;
    while (prefix < oldN && prefix < newN && sameKey(oldRows[prefix], oldRoutes, newRows[prefix], newRoutes))
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < oldN - prefix && suffix < newN - prefix
           && sameKey(oldRows[oldN - 1 - suffix], oldRoutes, newRows[newN - 1 - suffix], newRoutes))
        ++suffix;

    // Kept rows whose look changed, by their position in the new rows.
    QList<int> changed;
    for (qsizetype i = 0; i < prefix; ++i) {
        if (!sameLook(oldRows[i], oldRoutes, newRows[i], newRoutes))
            changed.append(int(i));
    }
    for (qsizetype k = 0; k < suffix; ++k) {
        if (!sameLook(oldRows[oldN - 1 - k], oldRoutes, newRows[newN - 1 - k], newRoutes))
            changed.append(int(newN - 1 - k));
    }

    // The kept rows already point into the new list: same keys, new positions.
    QList<Row> kept = newRows.mid(0, prefix);
    kept.append(newRows.mid(newN - suffix, suffix));
    const qsizetype removed = oldN - prefix - suffix;
    const qsizetype inserted = newN - prefix - suffix;
    if (removed > 0)
        beginRemoveRows({}, int(prefix), int(prefix + removed - 1));
    m_routes = std::move(routes);
    m_rows = kept;
    if (removed > 0)
        endRemoveRows();
    if (inserted > 0) {
        beginInsertRows({}, int(prefix), int(prefix + inserted - 1));
        m_rows = newRows;
        endInsertRows();
    } else {
        m_rows = newRows;
    }
    for (int row : changed)
        emit dataChanged(index(row), index(row));
    updateSelection();
    emit listingChanged();
}

void RouteListModel::updateSelection()
{
    const QString id = m_state && m_state->selectedEndpointID() ? *m_state->selectedEndpointID() : QString();
    if (id == m_selectedID)
        return;
    const QString before = m_selectedID;
    m_selectedID = id;
    for (const QString &changedID : {before, id}) {
        if (changedID.isEmpty())
            continue;
        const int row = rowOfRoute(changedID);
        if (row >= 0)
            emit dataChanged(index(row), index(row), {SelectedRole});
    }
}

QStringList RouteListModel::sectionLabels() const
{
    QStringList labels;
    for (const RoutesLogic::Section &section : m_listing.sections)
        labels.append(section.label);
    return labels;
}

QStringList RouteListModel::shownRouteIDs() const
{
    QStringList ids;
    for (const Row &row : m_rows) {
        if (row.kind == Kind::route)
            ids.append(QString::fromStdString(m_routes[row.route].id));
    }
    return ids;
}

int RouteListModel::rowOfRoute(const QString &routeID) const
{
    const std::string id = routeID.toStdString();
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].kind == Kind::route && m_routes[m_rows[i].route].id == id)
            return int(i);
    }
    return -1;
}

int RouteListModel::rowOfHeader(const QString &label) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].kind == Kind::header && m_rows[i].label == label)
            return int(i);
    }
    return -1;
}
