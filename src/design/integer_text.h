// Whole numbers as the user's locale writes them, never grouped: the one rule of every integer entry field.
#pragma once

#include <QString>

#include <optional>

namespace IntegerText {

// The value in the current default locale's digits and signs, without a thousands separator.
QString format(long long value);
// The whole integer a text reads as in that locale (surrounding white space ignored); none when it does not,
// also for text with a thousands separator.
std::optional<long long> parse(const QString &text);

} // namespace IntegerText
