// Rows of the routes table, kept in place across route, filter and fold changes.
#include "screens/routes/route_list_model.h"

#include "app/app_state.h"
#include "app/route_model_support.h"
#include "engine/engine_client.h"

#include <utility>

RouteListModel::RouteListModel(AppState *state, EngineClient *engine, QObject *parent)
    : QAbstractListModel(parent)
    , m_state(state)
    , m_engine(engine)
{
    connect(engine, &EngineClient::endpointsChanged, this, &RouteListModel::refresh);
    connect(state, &AppState::selectedEndpointIDChanged, this, &RouteListModel::updateSelection);
    m_revision = engine->endpointsRevision();
    const QList<Endpoint> &routes = engine->endpoints();
    m_shown.reserve(routes.size());
    m_texts.reserve(routes.size());
    for (const Endpoint &route : routes) {
        m_shown.append(shownOf(route));
        m_texts.append(RouteTree::filterText(m_shown.last().path, m_shown.last().host, route.method));
    }
    m_listing = RoutesLogic::listing(routes, m_texts, m_filter);
    m_rows = buildRows();
    if (state->selectedEndpointID())
        m_selectedID = *state->selectedEndpointID();
}

int RouteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QString RouteListModel::routeIDAt(int row) const
{
    if (row < 0 || row >= m_rows.size() || m_rows[row].kind != Kind::route)
        return {};
    return m_shown[m_rows[row].route].id;
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
    const Shown &route = m_shown[row.route];
    switch (role) {
    case Qt::DisplayRole:
    case PathRole:
        return route.path;
    case RouteIDRole:
        return route.id;
    case MethodRole:
        return QString::fromLatin1(rawValue(route.method));
    case HostRole:
        return route.host;
    case StatusRole:
        return route.status;
    case LatencyRole:
        return route.latency;
    case ActiveRole:
        return route.active;
    case SelectedRole:
        return !m_selectedID.isEmpty() && route.id == m_selectedID;
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

const QList<Endpoint> &RouteListModel::engineRoutes() const
{
    static const QList<Endpoint> none;
    return m_engine ? m_engine->endpoints() : none;
}

void RouteListModel::setFilter(const QString &filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    // The sections read the groups from the engine's list, which the kept texts follow route by route.
    if (engineRoutes().size() != m_shown.size()) {
        refresh();
        return;
    }
    apply(m_shown, m_texts, RoutesLogic::listing(engineRoutes(), m_texts, m_filter));
}

void RouteListModel::toggleCollapsed(const QString &label)
{
    if (!m_collapsed.remove(label))
        m_collapsed.insert(label);
    apply(m_shown, m_texts, m_listing);
}

RouteListModel::Shown RouteListModel::shownOf(const Endpoint &route)
{
    return Shown{QString::fromStdString(route.id), route.method, QString::fromStdString(route.host),
                 QString::fromStdString(route.path), qint64(route.status), qint64(route.latency), route.active,
                 route.group};
}

bool RouteListModel::Shown::sameLook(const Shown &other) const
{
    return method == other.method && host == other.host && path == other.path && status == other.status
           && latency == other.latency && active == other.active;
}

void RouteListModel::refresh()
{
    if (followEdit())
        return;
    if (m_engine)
        m_revision = m_engine->endpointsRevision();
    const QList<Endpoint> &routes = engineRoutes();
    QList<Shown> shown;
    QList<RouteTree::FilterText> texts;
    shown.reserve(routes.size());
    texts.reserve(routes.size());
    for (const Endpoint &route : routes) {
        shown.append(shownOf(route));
        texts.append(RouteTree::filterText(shown.last().path, shown.last().host, route.method));
    }
    RoutesLogic::Listing listing = RoutesLogic::listing(routes, texts, m_filter);
    apply(std::move(shown), std::move(texts), std::move(listing));
}

bool RouteListModel::followEdit()
{
    if (!m_engine)
        return false;
    const int position = RouteModels::followableEdit(*m_engine, m_revision, m_shown.size());
    if (position < 0)
        return false;
    Shown next = shownOf(m_engine->endpoints()[position]);
    const Shown &now = m_shown[position];
    // Another group or filter verdict moves the row, or changes sections and counts.
    if (next.id != now.id || next.group != now.group)
        return false;
    RouteTree::FilterText text = RouteTree::filterText(next.path, next.host, next.method);
    const QString needle = m_filter.toLower();
    if (RouteTree::matchesFilter(text, needle) != RouteTree::matchesFilter(m_texts[position], needle))
        return false;

    const bool sameLook = now.sameLook(next);
    m_shown[position] = std::move(next);
    m_texts[position] = std::move(text);
    if (!sameLook) {
        for (qsizetype i = 0; i < m_rows.size(); ++i) {
            if (m_rows[i].kind == Kind::route && m_rows[i].route == position) {
                emit dataChanged(index(int(i)), index(int(i)));
                break;
            }
        }
    }
    updateSelection();
    emit listingChanged();
    return true;
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

bool RouteListModel::sameKey(const Row &a, const QList<Shown> &ra, const Row &b, const QList<Shown> &rb)
{
    if (a.kind != b.kind)
        return false;
    if (a.kind == Kind::header)
        return a.label == b.label;
    return ra[a.route].id == rb[b.route].id;
}

bool RouteListModel::sameLook(const Row &a, const QList<Shown> &ra, const Row &b, const QList<Shown> &rb)
{
    if (a.kind == Kind::header)
        return a.count == b.count && a.collapsed == b.collapsed;
    return ra[a.route].sameLook(rb[b.route]);
}

void RouteListModel::apply(QList<Shown> shown, QList<RouteTree::FilterText> texts, RoutesLogic::Listing listing)
{
    const QList<Shown> oldShown = m_shown;
    const QList<Row> oldRows = m_rows;
    m_listing = std::move(listing);
    const QList<Row> newRows = buildRows(); // positions into `shown`
    const QList<Shown> &newShown = shown;

    const qsizetype oldN = oldRows.size();
    const qsizetype newN = newRows.size();
    qsizetype prefix = 0;
    while (prefix < oldN && prefix < newN && sameKey(oldRows[prefix], oldShown, newRows[prefix], newShown))
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < oldN - prefix && suffix < newN - prefix
           && sameKey(oldRows[oldN - 1 - suffix], oldShown, newRows[newN - 1 - suffix], newShown))
        ++suffix;

    // Kept rows whose look changed, by their position in the new rows.
    QList<int> changed;
    for (qsizetype i = 0; i < prefix; ++i) {
        if (!sameLook(oldRows[i], oldShown, newRows[i], newShown))
            changed.append(int(i));
    }
    for (qsizetype k = 0; k < suffix; ++k) {
        if (!sameLook(oldRows[oldN - 1 - k], oldShown, newRows[newN - 1 - k], newShown))
            changed.append(int(newN - 1 - k));
    }

    // The kept rows already point into the new list: same keys, new positions.
    QList<Row> kept = newRows.mid(0, prefix);
    kept.append(newRows.mid(newN - suffix, suffix));
    const qsizetype removed = oldN - prefix - suffix;
    const qsizetype inserted = newN - prefix - suffix;
    if (removed > 0)
        beginRemoveRows({}, int(prefix), int(prefix + removed - 1));
    m_shown = std::move(shown);
    m_texts = std::move(texts);
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
    for (const QString &changedID : RouteModels::moveSelection(m_selectedID, id)) {
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
            ids.append(m_shown[row.route].id);
    }
    return ids;
}

int RouteListModel::rowOfRoute(const QString &routeID) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].kind == Kind::route && m_shown[m_rows[i].route].id == routeID)
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
