// Unicode lower-casing of single code points.
#pragma once

// The lower-case form of a code point, or the code point itself when it has none (or, for U+0130,
// whose lower case is two code points, "i" followed by U+0307, which callers add themselves).
char32_t unicodeLower(char32_t cp);
