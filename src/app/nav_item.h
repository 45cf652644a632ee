// The seven screens of the main window, in sidebar order, with their titles and symbols.
#pragma once

#include <QString>

#include <array>
#include <optional>

enum class NavItem {
    dashboard,
    endpoints,
    liveTraffic,
    history,
    schema,
    certificates,
    devices,
};

namespace Nav {

// Every screen in declared order: the sidebar, the command palette and the screen switch use it.
inline constexpr std::array<NavItem, 7> allCases = {
    NavItem::dashboard, NavItem::endpoints,    NavItem::liveTraffic, NavItem::history,
    NavItem::schema,    NavItem::certificates, NavItem::devices,
};

QString rawValue(NavItem item);
QString title(NavItem item);
QString icon(NavItem item);

// Exact, case-sensitive match of a raw value; anything else gives none.
std::optional<NavItem> fromRawValue(const QString &text);

} // namespace Nav
