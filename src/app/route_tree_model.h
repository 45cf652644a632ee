// The sidebar's route tree as an item model: host blocks or group sections, their routes, folding and the open route.
#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <string>

class AppState;
class EngineClient;

// Top-level rows are the blocks (one per host, or one per group section once a route has a group);
// each block's children are its routes in list order. A folded block keeps its count but has no
// child rows. Fold sets are kept per block kind and by label, so a label keeps its folding when its
// routes change or the tree switches between hosts and groups.
class RouteTreeModel final : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum class Kind { block, route };
    enum Role {
        KindRole = Qt::UserRole + 1, // Kind as int
        RouteIDRole,                 // route rows: the route's id
        CountRole,                   // blocks: how many routes the block holds, folded or not
        FoldedRole,                  // blocks: whether the routes are hidden
        GroupRole,                   // blocks: true for a group section, false for a host
        SelectedRole,                // routes: the route open in the inspector
        EnabledRole,                 // routes: the route's `active` flag
        SymbolRole,                  // blocks: "folder" or "globe"
    };

    RouteTreeModel(AppState *state, EngineClient *engine, QObject *parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QHash<int, QByteArray> roleNames() const override;

    bool showsGroups() const { return m_showsGroups; }
    QStringList blockLabels() const;
    // The ids listed under a block, folded or not.
    QStringList routeIDs(const QString &label) const;
    QModelIndex blockIndex(const QString &label) const;
    // Invalid while the route's block is folded or no such route is listed.
    QModelIndex routeIndex(const QString &routeID) const;

    bool isFolded(const QString &label) const;
    void setFolded(const QString &label, bool folded);
    void toggleFold(const QString &label);

    // Rereads the engine's routes: a single-route edit that keeps the route in its block updates its row
    // in place; otherwise a change of paths or flags updates rows in place, a change of the blocks or of
    // which routes they hold resets the model.
    void refresh();

private:
    struct RouteEntry
    {
        QString id;
        QString path;
        bool enabled = true;
        bool operator==(const RouteEntry &) const = default;
    };
    struct Block
    {
        QString label;
        std::string key; // the host or section label as stored, compared exactly
        QList<RouteEntry> routes;
    };
    // Where the route at a list position is shown.
    struct Place
    {
        int block = 0;
        int row = 0;
        bool grouped = false; // the route's group is not empty
    };

    QList<Block> readBlocks(bool groups, QList<Place> *places) const;
    // Follows the engine's latest change when it edited one route that stays where it is.
    bool followEdit();
    QSet<QString> &foldSet() { return m_showsGroups ? m_collapsedGroups : m_collapsedHosts; }
    const QSet<QString> &foldSet() const { return m_showsGroups ? m_collapsedGroups : m_collapsedHosts; }
    bool blockFolded(const Block &block) const { return foldSet().contains(block.label); }
    void updateSelection();

    QPointer<AppState> m_state;
    QPointer<EngineClient> m_engine;
    bool m_showsGroups = false;
    QList<Block> m_blocks;
    QList<Place> m_places; // one per engine route, by list position
    quint64 m_revision = 0; // the engine's route revision the rows show
    QSet<QString> m_collapsedHosts;
    QSet<QString> m_collapsedGroups;
    QString m_selectedID; // empty: no route row shows as selected
};
