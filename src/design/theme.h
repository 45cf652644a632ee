// The user's appearance choice and its text form.
#pragma once

#include <QList>
#include <QString>

#include <optional>

enum class AppTheme { system, light, dark };

namespace AppThemes {
// Every case, in declaration order.
QList<AppTheme> all();
QString rawValue(AppTheme theme);
// Exact, case-sensitive match against "system", "light", "dark"; anything else gives no value.
std::optional<AppTheme> fromRawValue(const QString &text);
} // namespace AppThemes
