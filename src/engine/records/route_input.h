// Host and path normalisers shared by the new-route sheet and the route inspector.
#pragma once

#include <string>
#include <string_view>

struct RouteInput final {
    RouteInput() = delete;

    // Both normalisers are final after one pass: normalize(normalize(x)) == normalize(x), so
    // what an editor checks, compares and stores is one and the same value.

    // Trims, drops an "https://" then an "http://" prefix (any letter case), cuts at the first
    // "/", trims again, lower-cases. A port stays part of the host.
    static std::string normalizeHost(std::string_view text);

    // Trims; empty stays empty; drops trailing "/" and the blanks they uncover (but "/" stays);
    // ensures a leading "/".
    static std::string normalizePath(std::string_view text);

    // Trims white space and line breaks (ASCII and the Unicode spaces) at both ends.
    static std::string trimmed(std::string_view text);
    // Lower-cases UTF-8 text in every script; bytes that are not UTF-8 stay as they are.
    static std::string lowercased(std::string_view text);
};
