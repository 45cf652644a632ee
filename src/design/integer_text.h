// Whole numbers in the integer entry fields: read as the user's locale writes them, shown in ASCII digits.
#pragma once

#include <QString>

#include <optional>

namespace IntegerText {

// The value in ASCII digits without a thousands separator: a locale's own digits (Devanagari, Arabic-Indic)
// are missing from the interface fonts and would draw as boxes.
QString format(long long value);
// The whole integer a text reads as in the current default locale or in ASCII digits (surrounding white
// space ignored); none when it does not, also for text with a thousands separator.
std::optional<long long> parse(const QString &text);

} // namespace IntegerText
