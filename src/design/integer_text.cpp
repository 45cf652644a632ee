// Whole numbers in the integer entry fields.
#include "design/integer_text.h"

#include <QLocale>

namespace IntegerText {

namespace {

QLocale withoutGrouping(QLocale locale)
{
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

} // namespace

QString format(long long value)
{
    return withoutGrouping(QLocale::c()).toString(value);
}

std::optional<long long> parse(const QString &text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    // The default locale is read on each use, so a change of it is followed at once.
    long long value = withoutGrouping(QLocale()).toLongLong(trimmed, &ok);
    if (!ok)
        value = withoutGrouping(QLocale::c()).toLongLong(trimmed, &ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace IntegerText
