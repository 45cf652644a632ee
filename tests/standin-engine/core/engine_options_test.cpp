// The stand-in engine's command line and fault switch.
#include "core/engine_options.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace standin;

TEST(EngineOptions, ReadsTheAppsCommandLine)
{
    std::string error;
    const auto options = parseOptions(
        {"--control-port", "0", "--proxy-port", "9999", "--data-dir", "/tmp/k", "--autostart"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->controlPort, 0);
    EXPECT_EQ(options->proxyPort, 9999);
    EXPECT_EQ(options->dataDir, "/tmp/k");
    EXPECT_TRUE(options->autostart);
    EXPECT_FALSE(parseOptions({"--data-dir", "/tmp/k"}, error)->autostart);
}

TEST(EngineOptions, RefusesBadPortsUnknownArgumentsAndAMissingDataDir)
{
    std::string error;
    EXPECT_FALSE(parseOptions({"--data-dir", "/d", "--proxy-port", "65536"}, error));
    EXPECT_FALSE(parseOptions({"--data-dir", "/d", "--proxy-port", "-1"}, error));
    EXPECT_FALSE(parseOptions({"--data-dir", "/d", "--control-port", "12ab"}, error));
    EXPECT_FALSE(parseOptions({"--data-dir", "/d", "--control-port"}, error));
    EXPECT_FALSE(parseOptions({"--data-dir", "/d", "--verbose"}, error));
    EXPECT_FALSE(parseOptions({"--autostart"}, error));
    EXPECT_EQ(error, "--data-dir is required");
}

TEST(EngineOptions, FaultNamesAreExact)
{
    EXPECT_EQ(parseFault(nullptr), Fault::None);
    EXPECT_EQ(parseFault("hang-health"), Fault::HangHealth);
    EXPECT_EQ(parseFault("crash-after-ready"), Fault::CrashAfterReady);
    EXPECT_EQ(parseFault("garbage-events"), Fault::GarbageEvents);
    EXPECT_EQ(parseFault("split-port-line"), Fault::SplitPortLine);
    EXPECT_EQ(parseFault("log-flood"), Fault::LogFlood);
    EXPECT_EQ(parseFault("Hang-Health"), Fault::None);
}

TEST(EngineOptions, WaitsKeepTheirDefaultsUnlessATestShortensThem)
{
    std::string error;
    ::unsetenv(kTestLockGraceVariable);
    ::setenv(kTestSavePeriodVariable, "soon", 1);
    const auto defaults = parseOptions({"--data-dir", "/d"}, error);
    ASSERT_TRUE(defaults) << error;
    EXPECT_EQ(defaults->timings.folderLockGrace, std::chrono::milliseconds(2000));
    EXPECT_EQ(defaults->timings.savePeriod, std::chrono::seconds(1));

    ::setenv(kTestLockGraceVariable, "100", 1);
    ::setenv(kTestSavePeriodVariable, "25", 1);
    const EngineTimings shortened = timingsFrom(readTestSwitches());
    ::unsetenv(kTestLockGraceVariable);
    ::unsetenv(kTestSavePeriodVariable);
    EXPECT_EQ(shortened.folderLockGrace, std::chrono::milliseconds(100));
    EXPECT_EQ(shortened.savePeriod, std::chrono::milliseconds(25));
}
