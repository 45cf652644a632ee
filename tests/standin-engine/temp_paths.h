// A file's path inside a test's temporary folder, in the form the engine's stores take.
#pragma once

#include <QTemporaryDir>

#include <filesystem>

namespace standintest {

inline std::filesystem::path pathIn(const QTemporaryDir &dir, const char *name)
{
    return std::filesystem::path(dir.path().toStdString()) / name;
}

} // namespace standintest
