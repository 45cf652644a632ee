// AppTheme's raw values.
#include "design/theme.h"

namespace AppThemes {

QList<AppTheme> all()
{
    return {AppTheme::system, AppTheme::light, AppTheme::dark};
}

QString rawValue(AppTheme theme)
{
    switch (theme) {
    case AppTheme::system:
        return QStringLiteral("system");
    case AppTheme::light:
        return QStringLiteral("light");
    case AppTheme::dark:
        return QStringLiteral("dark");
    }
    return QStringLiteral("system");
}

std::optional<AppTheme> fromRawValue(const QString &text)
{
    for (AppTheme theme : all()) {
        if (rawValue(theme) == text)
            return theme;
    }
    return std::nullopt;
}

} // namespace AppThemes
