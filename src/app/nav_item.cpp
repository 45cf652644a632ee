// Titles, symbols and raw values of the screens.
#include "app/nav_item.h"

namespace Nav {

namespace {

struct NavInfo
{
    const char *raw;
    const char *title;
    const char *icon;
};

const NavInfo &info(NavItem item)
{
    static const NavInfo table[] = {
        {"dashboard", "Dashboard", "rectangle.grid.2x2"},
        {"endpoints", "Endpoints", "list.bullet"},
        {"liveTraffic", "Live Traffic", "waveform.path.ecg"},
        {"history", "History", "clock.arrow.circlepath"},
        {"schema", "Schema Drift", "arrow.triangle.branch"},
        {"certificates", "Certificates", "lock.shield"},
        {"devices", "Devices", "iphone"},
    };
    return table[static_cast<int>(item)];
}

} // namespace

QString rawValue(NavItem item)
{
    return QString::fromLatin1(info(item).raw);
}

QString title(NavItem item)
{
    return QString::fromLatin1(info(item).title);
}

QString icon(NavItem item)
{
    return QString::fromLatin1(info(item).icon);
}

std::optional<NavItem> fromRawValue(const QString &text)
{
    for (NavItem item : allCases) {
        if (rawValue(item) == text)
            return item;
    }
    return std::nullopt;
}

} // namespace Nav
