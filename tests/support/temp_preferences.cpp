// Linked into a test program, this starts every test on a temporary preferences file, never the user's settings.
#include "support/temp_preferences.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class TemporaryPreferences final : public ::testing::Environment
{
public:
    void SetUp() override { m_dir = std::make_unique<testsupport::TemporaryPreferencesDir>(); }
    void TearDown() override { m_dir.reset(); }

private:
    std::unique_ptr<testsupport::TemporaryPreferencesDir> m_dir;
};

const auto *const registered = ::testing::AddGlobalTestEnvironment(new TemporaryPreferences);

} // namespace
