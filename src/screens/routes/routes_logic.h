// Pure decisions of the routes screen: which routes pass the filter, their sections, row texts and colours.
#pragma once

#include "app/route_tree.h"
#include "design/palette.h"
#include "engine/records/route_records.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>

namespace RoutesLogic {

// One group section: its label and the positions (in the route list) of its routes, in list order.
struct Section
{
    QString label;
    QList<int> routes;
    bool operator==(const Section &) const = default;
};

// What the table lists for a filter: the positions that pass, whether it is grouped, the sections.
struct Listing
{
    QList<int> filtered;
    bool hasGroups = false;
    QList<Section> sections; // empty unless hasGroups
};

// The shell's route filter (path, host, method; lower-cased substring; blanks are not ignored).
QList<int> filterPositions(const QList<Endpoint> &routes, const QString &filter);
// The same over texts lower-cased beforehand (one per route, same order).
QList<int> filterPositions(const QList<RouteTree::FilterText> &texts, const QString &filter);
// Sections of the given positions, labels ordered as the sidebar orders them ("Ungrouped" last).
QList<Section> sections(const QList<Endpoint> &routes, const QList<int> &positions);
Listing listing(const QList<Endpoint> &routes, const QString &filter);
Listing listing(const QList<Endpoint> &routes, const QList<RouteTree::FilterText> &texts, const QString &filter);

// The host and path of a row shortened in the middle to fit a width: the start of the address
// (host first) and its end (path last) stay, with "…" between them when anything was dropped.
struct ElidedAddress
{
    QString hostStart;
    QString pathStart; // what of the path precedes the ellipsis (only when the whole host fits before it)
    bool elided = false;
    QString hostEnd;   // what of the host follows the ellipsis (only when the cut falls inside the host)
    QString pathEnd;
};
ElidedAddress elideAddress(const QString &host, const QFont &hostFont, const QString &path, const QFont &pathFont,
                           qreal width);

// "250ms": the latency as a decimal integer followed by "ms".
QString latencyText(int latencyMs);
// Highlighted from 1001 ms on: yellow on the dark palette, (154, 107, 31) on the light one.
QColor latencyColor(int latencyMs, const Palette &palette);

// "No routes match “<filter>”", the filter exactly as typed.
QString noMatchTitle(const QString &filter);

} // namespace RoutesLogic
