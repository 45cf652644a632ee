// Pure decisions of the header, the sidebar's project switcher and the environment picker.
#pragma once

#include "app/app_state.h"
#include "engine/records/environment_records.h"
#include "engine/records/project_records.h"
#include "engine/records/route_records.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace HeaderLogic {

// The active project's name; "Kestrion" when no project has the active id.
QString projectName(const QList<Project> &projects, const QString &activeProjectID);

// The selected route's path, only on the routes screen and only when the id names a route.
std::optional<QString> selectedEndpointPath(NavItem nav, const std::optional<QString> &selectedID,
                                            const QList<Endpoint> &routes);

// The route the inspector edits: same rule as the path crumb. Points into `routes`, so a long body is not
// copied on every selection.
const Endpoint *inspectorEndpoint(NavItem nav, const std::optional<QString> &selectedID, const QList<Endpoint> &routes);

QString themeSymbol(AppTheme theme);
// "Theme: Light", "Theme: System", "Theme: Dark".
QString themeTooltip(AppTheme theme);

// The active environment's name; "No environment" when no environment has the active id.
QString activeEnvironmentName(const QList<MockEnvironment> &environments, const QString &activeEnvID);

// How the header's search shows: the full trigger while it fits beside the whole breadcrumb, else the
// magnifying glass, which always stays; past that the breadcrumb gives way.
enum class SearchForm { full, compact };
// room: the width left for the breadcrumb and the search, the gap before the search included.
SearchForm searchForm(int room, int crumbsWidth, int fullWidth, int spacing);

// How the bar's items share its width. The search gives way first (to its magnifying glass), then the
// environment picker (its name shortened, down to its least width), then the crumbs (the project name at
// its end down to its first three characters, then the path in its middle down to its first and last
// four), then the picker again, to its icon; only a bar narrower than the smallest window shortens the
// crumbs further, down to their ellipses. The screen title is never shortened.
using Measure = std::function<int(const QString &)>;

struct HeaderItems
{
    int bar = 0;
    // What never gives way: the padding, the gaps between items, the arrows, theme button, proxy chip,
    // actions menu and info toggle.
    int fixed = 0;
    int searchFull = 0;
    int searchCompact = 0;
    int pickerFull = 0;
    int pickerLeast = 0;
    int pickerIcon = 0;
    // The breadcrumb's own margin and gaps, its slashes and the screen title.
    int crumbsFixed = 0;
    QString project;
    Measure measureProject;
    std::optional<QString> path;
    Measure measurePath;
};

struct HeaderFit
{
    SearchForm search = SearchForm::full;
    int picker = 0;
    bool pickerIconOnly = false;
    // The crumbs as shown.
    QString project;
    QString path;
};

HeaderFit fitHeader(const HeaderItems &items);

// The longest start of the text followed by "…" that fits the width ("…" alone at the least).
QString elideEnd(const QString &text, int width, const Measure &measure);
// The text's start and end around "…", as much of both as fits the width ("…" alone at the least).
QString elideMiddle(const QString &text, int width, const Measure &measure);

} // namespace HeaderLogic
