// The routes table as an item model: group headers and route rows for the screen's filter and folds.
#pragma once

#include "engine/records/route_records.h"
#include "screens/routes/routes_logic.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <string>

class AppState;
class EngineClient;

// Rows follow EngineClient::endpoints, the filter and the collapsed labels. A change never resets the
// model: rows that stay keep their place and get dataChanged when what they show changed; the rest
// are removed and inserted as one block, so the view repaints rows instead of rebuilding. An edit of
// one route that leaves it in its place (same filter match, same group) touches only its row.
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
    bool isEmptyProject() const { return m_shown.isEmpty(); }

    Kind kindAt(int row) const { return m_rows[row].kind; }
    // The id of the route a row shows, or empty for a header.
    QString routeIDAt(int row) const;
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
    // What a route row shows, and the group that places it, kept per route so that a change can be
    // compared with what was shown without holding a copy of the engine's routes.
    struct Shown
    {
        QString id;
        HTTPMethod method = HTTPMethod::GET;
        QString host;
        QString path;
        qint64 status = 0;
        qint64 latency = 0;
        bool active = true;
        std::string group;

        bool sameLook(const Shown &other) const;
    };

    QList<Row> buildRows() const;
    void apply(QList<Shown> shown, QList<RouteTree::FilterText> texts, RoutesLogic::Listing listing);
    static Shown shownOf(const Endpoint &route);
    const QList<Endpoint> &engineRoutes() const;
    // Follows the engine's latest change when it edited one route that keeps its place and rows.
    bool followEdit();
    void updateSelection();
    static bool sameKey(const Row &a, const QList<Shown> &ra, const Row &b, const QList<Shown> &rb);
    static bool sameLook(const Row &a, const QList<Shown> &ra, const Row &b, const QList<Shown> &rb);

    QPointer<AppState> m_state;
    QPointer<EngineClient> m_engine;
    quint64 m_revision = 0;               // the engine's route revision the rows show
    QList<Shown> m_shown;                 // one per engine route, same order
    QList<RouteTree::FilterText> m_texts; // lower-cased once per route, not per keystroke
    RoutesLogic::Listing m_listing;
    QList<Row> m_rows;
    QString m_filter;
    QSet<QString> m_collapsed;
    QString m_selectedID;
};
