// Pure decisions of the header, the sidebar's project switcher and the environment picker.
#pragma once

#include "app/app_state.h"
#include "engine/records/environment_records.h"
#include "engine/records/project_records.h"
#include "engine/records/route_records.h"

#include <QList>
#include <QString>

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

// The environment picker's width: its full width while the breadcrumb's least fits in crumbRoom, else narrower
// by what the breadcrumb lacks, down to `least`. Every crumb stays in the bar, however small the window.
int environmentPickerWidth(int crumbRoom, int crumbsLeast, int full, int least);

// "Imported…" (exact prefix) reads as success; anything else as an error.
bool isSuccessSummary(const QString &summary);

} // namespace HeaderLogic
