// Reading and safely replacing the stand-in engine's files under its data directory.
#include "data_file.h"

#include "engine_support.h"

#include <fstream>
#include <sstream>

namespace standin {

std::optional<std::string> readFileIfPresent(const std::filesystem::path &file)
{
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::error_code saveFileReplacing(const std::filesystem::path &file, std::string_view text)
{
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const auto temporary = file.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            logError("could not save " + file.string());
            return {};
        }
    }
    std::filesystem::rename(temporary, file, ec);
    return ec;
}

} // namespace standin
