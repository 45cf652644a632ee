// Linked into a test program, this starts every test on a temporary preferences file, never the user's settings.
#include "platform/preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class TemporaryPreferences final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_dir = std::make_unique<QTemporaryDir>();
        Preferences::instance().useFile(m_dir->filePath(QStringLiteral("prefs.ini")));
    }

    void TearDown() override { m_dir.reset(); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

const auto *const registered = ::testing::AddGlobalTestEnvironment(new TemporaryPreferences);

} // namespace
