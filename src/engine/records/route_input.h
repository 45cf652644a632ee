// Host and path normalisers shared by the new-route sheet and the route inspector.
#pragma once

#include <string>
#include <string_view>

struct RouteInput final {
    RouteInput() = delete;

    // Trims, drops an "https://" then an "http://" prefix (any letter case), cuts at the first
    // "/", lower-cases. A port stays part of the host.
    static std::string normalizeHost(std::string_view text);

    // Trims; empty stays empty; ensures one leading "/" and drops trailing "/" (but "/" stays).
    static std::string normalizePath(std::string_view text);

    // Trims white space and line breaks (ASCII and the Unicode spaces) at both ends.
    static std::string trimmed(std::string_view text);
    // Lower-cases UTF-8 text in every script; bytes that are not UTF-8 stay as they are.
    static std::string lowercased(std::string_view text);
};
