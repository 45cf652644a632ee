// The routes table as an item model: group headers and route rows for the screen's filter and folds.
#pragma once

#include "engine/records/route_records.h"
#include "screens/routes/routes_logic.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QSet>
#include <QStringList>

class AppState;
class EngineClient;

// Rows follow EngineClient::endpoints, the filter and the collapsed labels. A change never resets the
// model: rows that stay keep their place and get dataChanged when what they show changed; the rest
// are removed and inserted as one block, so the view repaints rows instead of rebuilding.
class RouteListModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    enum class Kind { header, route };
    enum Role {
        KindRole = Qt::UserRole + 1, // Kind as int
        RouteIDRole,                 // routes
        LabelRole,                   // headers: the section label
        CountRole,                   // headers: routes of the section that passed the filter
        CollapsedRole,               // headers
        MethodRole,                  // routes: "GET", ...
        HostRole,
        PathRole,
        StatusRole,
        LatencyRole,
        ActiveRole,
        SelectedRole,
    };

    RouteListModel(AppState *state, EngineClient *engine, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QString &filter() const { return m_filter; }
    void setFilter(const QString &filter);

    bool isCollapsed(const QString &label) const { return m_collapsed.contains(label); }
    // Labels stay in the set while their section is not shown, so a section that comes back is still folded.
    void toggleCollapsed(const QString &label);
    const QSet<QString> &collapsedGroups() const { return m_collapsed; }

    // The last listing: how many routes passed, whether the table is grouped, the section labels.
    int filteredCount() const { return int(m_listing.filtered.size()); }
    bool hasGroups() const { return m_listing.hasGroups; }
    QStringList sectionLabels() const;
    // Route ids in the order the rows show them (collapsed sections contribute none).
    QStringList shownRouteIDs() const;
    bool isEmptyProject() const { return m_routes.isEmpty(); }

    Kind kindAt(int row) const { return m_rows[row].kind; }
    // The route a row shows, or null for a header.
    const Endpoint *routeAt(int row) const;
    int rowOfRoute(const QString &routeID) const;
    int rowOfHeader(const QString &label) const;

    // Rereads the engine's routes and the selection.
    void refresh();

signals:
    // The count, grouping or emptiness may have changed (after every refresh).
    void listingChanged();

private:
    struct Row
    {
        Kind kind = Kind::route;
        int route = -1;    // position in the route list of the same generation (routes)
        QString label;     // headers
        int count = 0;     // headers
        bool collapsed = false;
    };

    QList<Row> buildRows() const;
    void apply(QList<Endpoint> routes, RoutesLogic::Listing listing);
    static QList<RouteTree::FilterText> textsOf(const QList<Endpoint> &routes);
    void updateSelection();
    static bool sameKey(const Row &a, const QList<Endpoint> &ra, const Row &b, const QList<Endpoint> &rb);
    static bool sameLook(const Row &a, const QList<Endpoint> &ra, const Row &b, const QList<Endpoint> &rb);

    QPointer<AppState> m_state;
    QPointer<EngineClient> m_engine;
    QList<Endpoint> m_routes; // shares the engine's list
    QList<RouteTree::FilterText> m_texts; // lower-cased once per route list, not per keystroke
    RoutesLogic::Listing m_listing;
    QList<Row> m_rows;
    QString m_filter;
    QSet<QString> m_collapsed;
    QString m_selectedID;
};
