// Reading and safely replacing the stand-in engine's files under its data directory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace standin {

// The file's bytes, or none when there is no such file (one that cannot be opened reads as empty).
std::optional<std::string> readFileIfPresent(const std::filesystem::path &file);

// Writes text to "<file>.tmp" (creating the folder) and renames that over the file, so a failed write
// never leaves half a file. A failed write is logged as "could not save <file>" and leaves the file as it
// was; a failed rename is returned for the caller to report or not.
std::error_code saveFileReplacing(const std::filesystem::path &file, std::string_view text);

} // namespace standin
