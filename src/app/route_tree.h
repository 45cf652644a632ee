// Route grouping shared by sidebar, info panel and routes screen: hosts, groups, dominant method, initials.
#pragma once

#include "engine/records/route_records.h"

#include <QList>
#include <QString>

#include <string>
#include <string_view>

namespace RouteTree {

// The label of routes without a group; never stored on a route.
inline constexpr char ungroupedLabel[] = "Ungrouped";

// One labelled block of routes: a host, or a group section.
struct Block
{
    std::string label;
    QList<Endpoint> routes;

    QString title() const { return QString::fromStdString(label); }
};

// The same blocks as positions into the route list, for lists that must not copy every route.
struct PositionBlock
{
    std::string label;
    QList<int> positions;

    QString title() const { return QString::fromStdString(label); }
};

// One block per distinct host (compared exactly), in order of first appearance, routes in list order.
QList<Block> hostGroups(const QList<Endpoint> &routes);
QList<PositionBlock> hostGroupPositions(const QList<Endpoint> &routes);

// True when at least one route has a non-empty group (a single space counts).
bool hasGroups(const QList<Endpoint> &routes);

// The section a route is listed under: its group, or "Ungrouped" when the group is empty.
std::string sectionLabel(const Endpoint &route);
// The same without a copy; valid while the route is.
std::string_view sectionLabelView(const Endpoint &route);

// Label order: code points of the canonically composed text, "Ungrouped" after every other label;
// labels equal after composition fall back to their stored bytes so the order is always total.
bool labelLess(const std::string &a, const std::string &b);

// One block per section label, sorted by labelLess, routes in list order.
QList<Block> groupSections(const QList<Endpoint> &routes);
QList<PositionBlock> groupSectionPositions(const QList<Endpoint> &routes);

// The text filter of route lists (routes screen, command palette): the lower-cased filter occurs in
// the lower-cased path, host or method. Nothing else is searched (not status, group, body or id).
// `loweredFilter` is the typed filter after toLower(); an empty one matches every route.
bool matchesFilter(const Endpoint &route, const QString &loweredFilter);
// The lower-cased texts the filter searches, for lists that keep them between keystrokes.
struct FilterText
{
    QString path;
    QString host;
    QString method;
};
FilterText filterText(const Endpoint &route);
// The same from a route's path and host already turned into text.
FilterText filterText(const QString &path, const QString &host, HTTPMethod method);
bool matchesFilter(const FilterText &text, const QString &loweredFilter);
// The routes that pass, in list order; all of them for an empty filter (blanks are not empty).
QList<Endpoint> filtered(const QList<Endpoint> &routes, const QString &filter);

// The method most routes use; ties go to the method declared first; GET for no routes.
HTTPMethod dominantMethod(const QList<Endpoint> &routes);
// The same over the routes at the given positions.
HTTPMethod dominantMethod(const QList<Endpoint> &routes, const QList<int> &positions);

// The avatar letters of a project name: first characters of the first two space-separated words,
// or the first two characters of a single word, upper-cased; "?" when there are no words.
QString initials(const QString &name);

} // namespace RouteTree
