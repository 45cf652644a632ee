// Blocks and route rows of the sidebar's route tree, their folding and the open route.
#include "app/route_tree_model.h"

#include "app/app_state.h"
#include "app/route_model_support.h"
#include "app/route_tree.h"
#include "engine/engine_client.h"

#include <string_view>
#include <utility>

namespace {

// Route rows carry their block's row + 1 as internal id; blocks carry 0. Block rows only change
// through a reset, so the id stays right for as long as the index may be used.
constexpr quintptr blockID = 0;

} // namespace

RouteTreeModel::RouteTreeModel(AppState *state, EngineClient *engine, QObject *parent)
    : QAbstractItemModel(parent)
    , m_state(state)
    , m_engine(engine)
{
    if (m_engine)
        connect(m_engine, &EngineClient::endpointsChanged, this, &RouteTreeModel::refresh);
    if (m_state) {
        connect(m_state, &AppState::navChanged, this, &RouteTreeModel::updateSelection);
        connect(m_state, &AppState::selectedEndpointIDChanged, this, &RouteTreeModel::updateSelection);
    }
    m_showsGroups = m_engine && RouteTree::hasGroups(m_engine->endpoints());
    m_blocks = readBlocks(m_showsGroups, &m_places);
    if (m_engine)
        m_revision = m_engine->endpointsRevision();
    updateSelection();
}

QList<RouteTreeModel::Block> RouteTreeModel::readBlocks(bool groups, QList<Place> *places) const
{
    QList<Block> blocks;
    places->clear();
    if (!m_engine)
        return blocks;
    const QList<Endpoint> &routes = m_engine->endpoints();
    const QList<RouteTree::PositionBlock> source =
        groups ? RouteTree::groupSectionPositions(routes) : RouteTree::hostGroupPositions(routes);
    places->resize(routes.size());
    blocks.reserve(source.size());
    for (const RouteTree::PositionBlock &block : source) {
        Block shown{block.title(), block.label, {}};
        shown.routes.reserve(block.positions.size());
        for (int position : block.positions) {
            const Endpoint &route = routes[position];
            (*places)[position] = Place{int(blocks.size()), int(shown.routes.size()), !route.group.empty()};
            shown.routes.append(
                RouteEntry{QString::fromStdString(route.id), QString::fromStdString(route.path), route.active});
        }
        blocks.append(std::move(shown));
    }
    return blocks;
}

bool RouteTreeModel::followEdit()
{
    const int position = RouteModels::followableEdit(*m_engine, m_revision, m_places.size());
    if (position < 0)
        return false;
    const Endpoint &route = m_engine->endpoints()[position];
    const Place &place = m_places[position];
    Block &block = m_blocks[place.block];
    // A route whose group turns empty or not may switch the tree between hosts and groups.
    const std::string_view key = m_showsGroups ? RouteTree::sectionLabelView(route) : std::string_view(route.host);
    if (key != block.key || place.grouped != !route.group.empty())
        return false;
    RouteEntry &entry = block.routes[place.row];
    RouteEntry next{QString::fromStdString(route.id), QString::fromStdString(route.path), route.active};
    if (next.id != entry.id)
        return false;
    if (next == entry)
        return true;
    entry = std::move(next);
    if (!blockFolded(block)) {
        const QModelIndex changed = index(place.row, 0, index(place.block, 0));
        emit dataChanged(changed, changed, {Qt::DisplayRole, EnabledRole});
    }
    return true;
}

void RouteTreeModel::refresh()
{
    if (m_engine && followEdit())
        return;
    if (m_engine)
        m_revision = m_engine->endpointsRevision();
    const bool groups = m_engine && RouteTree::hasGroups(m_engine->endpoints());
    QList<Place> places;
    QList<Block> next = readBlocks(groups, &places);
    m_places = std::move(places);

    bool sameShape = groups == m_showsGroups && next.size() == m_blocks.size();
    for (qsizetype b = 0; sameShape && b < next.size(); ++b) {
        const Block &now = m_blocks[b];
        const Block &then = next[b];
        sameShape = now.key == then.key && now.routes.size() == then.routes.size();
        for (qsizetype r = 0; sameShape && r < now.routes.size(); ++r)
            sameShape = now.routes[r].id == then.routes[r].id;
    }
    if (!sameShape) {
        beginResetModel();
        m_showsGroups = groups;
        m_blocks = std::move(next);
        endResetModel();
        return;
    }

    // Same blocks, same routes in them: only paths and on/off flags can differ.
    for (qsizetype b = 0; b < next.size(); ++b) {
        const bool folded = blockFolded(m_blocks[b]);
        for (qsizetype r = 0; r < next[b].routes.size(); ++r) {
            if (m_blocks[b].routes[r] == next[b].routes[r])
                continue;
            m_blocks[b].routes[r] = next[b].routes[r];
            if (!folded) {
                const QModelIndex changed = index(int(r), 0, index(int(b), 0));
                emit dataChanged(changed, changed, {Qt::DisplayRole, EnabledRole});
            }
        }
    }
}

void RouteTreeModel::updateSelection()
{
    QString id;
    if (m_state && m_state->nav() == NavItem::endpoints && m_state->selectedEndpointID())
        id = *m_state->selectedEndpointID();
    for (const QString &changedID : RouteModels::moveSelection(m_selectedID, id)) {
        const QModelIndex row = routeIndex(changedID);
        if (row.isValid())
            emit dataChanged(row, row, {SelectedRole});
    }
}

QModelIndex RouteTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < m_blocks.size() ? createIndex(row, 0, blockID) : QModelIndex();
    if (parent.internalId() != blockID || parent.column() != 0)
        return {};
    return row < rowCount(parent) ? createIndex(row, 0, quintptr(parent.row()) + 1) : QModelIndex();
}

QModelIndex RouteTreeModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || child.internalId() == blockID)
        return {};
    return createIndex(int(child.internalId() - 1), 0, blockID);
}

int RouteTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return int(m_blocks.size());
    if (parent.column() != 0 || parent.internalId() != blockID || parent.row() >= m_blocks.size())
        return 0;
    const Block &block = m_blocks[parent.row()];
    return blockFolded(block) ? 0 : int(block.routes.size());
}

int RouteTreeModel::columnCount(const QModelIndex &parent) const
{
    // Route rows have no children, hence no columns under them.
    if (parent.isValid() && parent.internalId() != blockID)
        return 0;
    return 1;
}

Qt::ItemFlags RouteTreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled;
    if (index.internalId() != blockID)
        flags |= Qt::ItemNeverHasChildren;
    return flags;
}

QVariant RouteTreeModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    if (index.internalId() == blockID) {
        const Block &block = m_blocks[index.row()];
        switch (role) {
        case Qt::DisplayRole:
            return block.label;
        case KindRole:
            return int(Kind::block);
        case CountRole:
            return int(block.routes.size());
        case FoldedRole:
            return blockFolded(block);
        case GroupRole:
            return m_showsGroups;
        case SymbolRole:
            return m_showsGroups ? QStringLiteral("folder") : QStringLiteral("globe");
        default:
            return {};
        }
    }
    const RouteEntry &route = m_blocks[qsizetype(index.internalId() - 1)].routes[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return route.path;
    case KindRole:
        return int(Kind::route);
    case RouteIDRole:
        return route.id;
    case SelectedRole:
        return !m_selectedID.isEmpty() && route.id == m_selectedID;
    case EnabledRole:
        return route.enabled;
    default:
        return {};
    }
}

QHash<int, QByteArray> RouteTreeModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractItemModel::roleNames();
    names.insert(KindRole, "kind");
    names.insert(RouteIDRole, "routeID");
    names.insert(CountRole, "count");
    names.insert(FoldedRole, "folded");
    names.insert(GroupRole, "group");
    names.insert(SelectedRole, "selected");
    names.insert(EnabledRole, "enabled");
    names.insert(SymbolRole, "symbol");
    return names;
}

QStringList RouteTreeModel::blockLabels() const
{
    QStringList labels;
    for (const Block &block : m_blocks)
        labels.append(block.label);
    return labels;
}

QStringList RouteTreeModel::routeIDs(const QString &label) const
{
    for (const Block &block : m_blocks) {
        if (block.label != label)
            continue;
        QStringList ids;
        for (const RouteEntry &route : block.routes)
            ids.append(route.id);
        return ids;
    }
    return {};
}

QModelIndex RouteTreeModel::blockIndex(const QString &label) const
{
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        if (m_blocks[b].label == label)
            return index(int(b), 0);
    }
    return {};
}

QModelIndex RouteTreeModel::routeIndex(const QString &routeID) const
{
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        if (blockFolded(m_blocks[b]))
            continue;
        const QList<RouteEntry> &routes = m_blocks[b].routes;
        for (qsizetype r = 0; r < routes.size(); ++r) {
            if (routes[r].id == routeID)
                return index(int(r), 0, index(int(b), 0));
        }
    }
    return {};
}

bool RouteTreeModel::isFolded(const QString &label) const
{
    return foldSet().contains(label);
}

void RouteTreeModel::setFolded(const QString &label, bool folded)
{
    if (isFolded(label) == folded)
        return;
    const QModelIndex block = blockIndex(label);
    // A label not listed now still remembers its folding for when it comes back.
    if (!block.isValid()) {
        if (folded)
            foldSet().insert(label);
        else
            foldSet().remove(label);
        return;
    }
    const int routes = int(m_blocks[block.row()].routes.size());
    if (folded) {
        if (routes > 0)
            beginRemoveRows(block, 0, routes - 1);
        foldSet().insert(label);
        if (routes > 0)
            endRemoveRows();
    } else {
        if (routes > 0)
            beginInsertRows(block, 0, routes - 1);
        foldSet().remove(label);
        if (routes > 0)
            endInsertRows();
    }
    emit dataChanged(block, block, {FoldedRole});
}

void RouteTreeModel::toggleFold(const QString &label)
{
    setFolded(label, !isFolded(label));
}
