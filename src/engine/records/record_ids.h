// Identifiers the application makes: random UUID texts and the short "r-" / "env-" ids.
#pragma once

#include <string>
#include <string_view>

// A random (version 4) UUID in its standard upper-case text form, 36 characters.
std::string makeUuidText();

// `prefix` followed by the first 8 characters of a fresh random UUID's text.
std::string makeShortId(std::string_view prefix);

// "r-" and 8 upper-case hexadecimal digits, for example r-3F2A9C01.
inline std::string makeRouteId() { return makeShortId("r-"); }
// "env-" and 8 upper-case hexadecimal digits.
inline std::string makeEnvironmentId() { return makeShortId("env-"); }
