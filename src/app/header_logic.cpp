// Breadcrumb, search form, theme button and picker texts.
#include "app/header_logic.h"

#include <algorithm>

namespace HeaderLogic {

SearchForm searchForm(int room, int crumbsWidth, int fullWidth, int spacing)
{
    return room - crumbsWidth - spacing >= fullWidth ? SearchForm::full : SearchForm::compact;
}

int environmentPickerWidth(int crumbRoom, int crumbsLeast, int full, int least)
{
    return std::clamp(full - std::max(0, crumbsLeast - crumbRoom), least, full);
}

QString projectName(const QList<Project> &projects, const QString &activeProjectID)
{
    const std::string id = activeProjectID.toStdString();
    for (const Project &project : projects) {
        if (project.id == id)
            return QString::fromStdString(project.name);
    }
    return QStringLiteral("Kestrion");
}

const Endpoint *inspectorEndpoint(NavItem nav, const std::optional<QString> &selectedID, const QList<Endpoint> &routes)
{
    if (nav != NavItem::endpoints || !selectedID)
        return nullptr;
    const std::string id = selectedID->toStdString();
    for (const Endpoint &route : routes) {
        if (route.id == id)
            return &route;
    }
    return nullptr;
}

std::optional<QString> selectedEndpointPath(NavItem nav, const std::optional<QString> &selectedID,
                                            const QList<Endpoint> &routes)
{
    if (const Endpoint *route = inspectorEndpoint(nav, selectedID, routes))
        return QString::fromStdString(route->path);
    return std::nullopt;
}

QString themeSymbol(AppTheme theme)
{
    switch (theme) {
    case AppTheme::system: return QStringLiteral("circle.lefthalf.filled");
    case AppTheme::light: return QStringLiteral("sun.max");
    case AppTheme::dark: return QStringLiteral("moon");
    }
    return {};
}

QString themeTooltip(AppTheme theme)
{
    switch (theme) {
    case AppTheme::system: return QStringLiteral("Theme: System");
    case AppTheme::light: return QStringLiteral("Theme: Light");
    case AppTheme::dark: return QStringLiteral("Theme: Dark");
    }
    return {};
}

QString activeEnvironmentName(const QList<MockEnvironment> &environments, const QString &activeEnvID)
{
    const std::string id = activeEnvID.toStdString();
    for (const MockEnvironment &environment : environments) {
        if (environment.id == id)
            return QString::fromStdString(environment.name);
    }
    return QStringLiteral("No environment");
}

bool isSuccessSummary(const QString &summary)
{
    return summary.startsWith(QStringLiteral("Imported"), Qt::CaseSensitive);
}

} // namespace HeaderLogic
