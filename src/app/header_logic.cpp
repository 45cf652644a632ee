// Breadcrumb, search form, theme button and picker texts.
#include "app/header_logic.h"

#include <algorithm>

namespace HeaderLogic {

SearchForm searchForm(int room, int crumbsWidth, int fullWidth, int spacing)
{
    return room - crumbsWidth - spacing >= fullWidth ? SearchForm::full : SearchForm::compact;
}

namespace {

const QString ellipsis = QStringLiteral("\u2026");

// The first n characters, a surrogate pair never split.
QString head(const QString &text, qsizetype n)
{
    n = std::clamp<qsizetype>(n, 0, text.size());
    if (n > 0 && n < text.size() && text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

// The last n characters, a surrogate pair never split.
QString tail(const QString &text, qsizetype n)
{
    n = std::clamp<qsizetype>(n, 0, text.size());
    if (n > 0 && n < text.size() && text.at(text.size() - n).isLowSurrogate())
        --n;
    return text.right(n);
}

// The largest k in [0, count) for which fits(k) holds, fits being true up to some k and false past it;
// -1 when it holds for none.
qsizetype largestFitting(qsizetype count, const std::function<bool(qsizetype)> &fits)
{
    qsizetype low = 0;
    qsizetype high = count - 1;
    qsizetype found = -1;
    while (low <= high) {
        const qsizetype mid = low + (high - low) / 2;
        if (fits(mid)) {
            found = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    return found;
}

} // namespace

QString elideEnd(const QString &text, int width, const Measure &measure)
{
    if (measure(text) <= width)
        return text;
    const qsizetype n = largestFitting(text.size(), [&](qsizetype k) { return measure(head(text, k) + ellipsis) <= width; });
    return n > 0 ? head(text, n) + ellipsis : ellipsis;
}

QString elideMiddle(const QString &text, int width, const Measure &measure)
{
    if (measure(text) <= width)
        return text;
    // The start keeps the odd character: a path is read from its start.
    const auto shortened = [&](qsizetype kept) { return head(text, (kept + 1) / 2) + ellipsis + tail(text, kept / 2); };
    const qsizetype n = largestFitting(text.size(), [&](qsizetype k) { return measure(shortened(k)) <= width; });
    return n > 0 ? shortened(n) : ellipsis;
}

HeaderFit fitHeader(const HeaderItems &items)
{
    const QString &project = items.project;
    const int projectFull = items.measureProject(project);
    const int projectLeast = std::min(projectFull, items.measureProject(head(project, 3) + ellipsis));
    const int pathFull = items.path ? items.measurePath(*items.path) : 0;
    const int pathLeast = items.path ? std::min(pathFull, items.measurePath(head(*items.path, 4) + ellipsis
                                                                            + tail(*items.path, 4)))
                                     : 0;
    const int crumbsFull = items.crumbsFixed + projectFull + pathFull;
    const int crumbsLeast = items.crumbsFixed + projectLeast + pathLeast;

    HeaderFit fit;
    const int room = items.bar - items.fixed;
    fit.search = searchForm(room - items.pickerFull, crumbsFull, items.searchFull, 0);
    const int rest = room - (fit.search == SearchForm::full ? items.searchFull : items.searchCompact);
    fit.picker = std::clamp(rest - crumbsFull, items.pickerLeast, items.pickerFull);
    if (rest - fit.picker < crumbsLeast && items.pickerIcon < fit.picker) {
        fit.picker = items.pickerIcon;
        fit.pickerIconOnly = true;
    }

    const int texts = rest - fit.picker - items.crumbsFixed;
    int pathWidth = pathFull;
    int projectWidth = texts - pathWidth;
    if (projectWidth < projectLeast) {
        // The name is down to its first characters: the path gives way next, then both below their least.
        pathWidth = std::max(pathLeast, texts - projectLeast);
        projectWidth = texts - pathWidth;
        const int projectEllipsis = std::min(projectFull, items.measureProject(ellipsis));
        if (items.path && projectWidth < projectEllipsis) {
            projectWidth = projectEllipsis;
            pathWidth = texts - projectWidth;
        }
    }
    fit.project = elideEnd(project, projectWidth, items.measureProject);
    if (items.path)
        fit.path = elideMiddle(*items.path, pathWidth, items.measurePath);
    return fit;
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

} // namespace HeaderLogic
