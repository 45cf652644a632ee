// Whole numbers in the user's locale.
#include "design/integer_text.h"

#include <QLocale>

namespace IntegerText {

namespace {

// Built on each use, so a change of the default locale is followed at once.
QLocale numberLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

} // namespace

QString format(long long value)
{
    return numberLocale().toString(value);
}

std::optional<long long> parse(const QString &text)
{
    bool ok = false;
    const long long value = numberLocale().toLongLong(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace IntegerText
