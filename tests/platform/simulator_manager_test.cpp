// SimulatorManager with a fake xcrun: the booted list, the trust messages and the shared busy flag.
#include "platform/fake_tool.h"
#include "platform/simulator_manager.h"
#include "platform/tool_runner.h"
#include "support/test_support.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QStringList names(const QList<Simulator> &simulators)
{
    QStringList result;
    for (const Simulator &sim : simulators)
        result.append(sim.name);
    return result;
}

const QByteArray TwoRuntimes = R"({
  "devices": {
    "com.apple.CoreSimulator.SimRuntime.iOS-17-2": [
      {"udid": "A1", "name": "iPhone 15", "state": "Booted", "isAvailable": true, "dataPath": "/x"},
      {"udid": "A2", "name": "iPad Air", "state": "booted"}
    ],
    "com.apple.CoreSimulator.SimRuntime.watchOS-10-0": [
      {"udid": "W1", "name": "Apple Watch", "state": "Shutdown"}
    ]
  },
  "extra": 1
})";

// A fake xcrun that logs its arguments, prints the listing file on "list" and answers "keychain" from files.
class FakeXcrun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        xcrun = faketool::write(
            dir, "xcrun",
            "d=$(dirname \"$0\")\n"
            "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$d/args\"\n"
            "if [ \"$2\" = list ]; then cat \"$d/listing\"; exit \"$(cat \"$d/list-status\" 2>/dev/null || echo 0)\"; fi\n"
            "while [ -e \"$d/hold\" ]; do sleep 0.02; done\n"
            "cat \"$d/trust-stderr\" >&2 2>/dev/null\n"
            "exit \"$(cat \"$d/trust-status\" 2>/dev/null || echo 0)\"");
        env.emplace(ToolPaths::XcrunEnv, xcrun.toUtf8());
        put("listing", TwoRuntimes);
    }

    void put(const QString &name, const QByteArray &content)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QStringList loggedArguments()
    {
        QFile file(dir.filePath("args"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    bool refreshAndWait(SimulatorManager &manager)
    {
        manager.refresh();
        return testsupport::waitFor([&] { return !manager.busy(); }, 10000);
    }

    QTemporaryDir dir;
    QString xcrun;
    std::optional<faketool::ScopedEnv> env;
};

} // namespace

TEST(SimctlParse, KeepsOnlyBootedDevicesWithTheirRuntimeLabel)
{
    const auto listed = Simctl::parseBootedDevices(TwoRuntimes);
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 1);
    EXPECT_EQ(listed->first(), (Simulator{"A1", "iPhone 15", "iOS 17.2", "Booted"}));

    const auto none = Simctl::parseBootedDevices(R"({"devices": {}})");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->isEmpty());
}

TEST(SimctlParse, AnyMalformedPartRejectsTheWholeDocument)
{
    const QList<QByteArray> rejected = {
        "",
        "not json",
        R"([])",
        R"({"runtimes": {}})",
        R"({"devices": []})",
        R"({"devices": {"r.iOS-17-2": {"udid": "A"}}})",
        R"({"devices": {"r.iOS-17-2": ["A"]}})",
        R"({"devices": {"r.iOS-17-2": [{"udid": "A", "name": "ok", "state": "Booted"},
                                       {"udid": "B", "name": "no state"}]}})",
        R"({"devices": {"r.iOS-17-2": [{"udid": 7, "name": "number udid", "state": "Booted"}]}})",
        R"({"devices": {"r.iOS-17-2": [{"udid": "C", "name": null, "state": "Booted"}]}})",
    };
    for (const QByteArray &json : rejected)
        EXPECT_FALSE(Simctl::parseBootedDevices(json).has_value()) << json.constData();
}

TEST(SimctlParse, SortsByNameCaseSensitivelyAndStably)
{
    const auto letters = Simctl::parseBootedDevices(R"({"devices": {"r.iOS-17": [
        {"udid": "1", "name": "b", "state": "Booted"},
        {"udid": "2", "name": "B", "state": "Booted"},
        {"udid": "3", "name": "a", "state": "Booted"}]}})");
    ASSERT_TRUE(letters);
    EXPECT_EQ(names(*letters), (QStringList{"B", "a", "b"}));

    // Precomposed and decomposed "é" are the same name, so their order of appearance stays; "z" sorts
    // before "é" by scalar value, and a character beyond the BMP after both.
    const auto unicode = Simctl::parseBootedDevices(R"({"devices": {"r.iOS-17": [
        {"udid": "p", "name": "\u00e9", "state": "Booted"},
        {"udid": "s", "name": "\ud83d\ude00", "state": "Booted"},
        {"udid": "d", "name": "e\u0301", "state": "Booted"},
        {"udid": "h", "name": "\uff21", "state": "Booted"},
        {"udid": "z", "name": "z", "state": "Booted"}]}})");
    ASSERT_TRUE(unicode);
    QStringList udids;
    for (const Simulator &sim : *unicode)
        udids.append(sim.udid);
    EXPECT_EQ(udids, (QStringList{"z", "p", "d", "h", "s"}));

    const auto twins = Simctl::parseBootedDevices(R"({"devices": {
        "r.iOS-17-2": [{"udid": "X", "name": "Phone", "state": "Booted"}],
        "r.iOS-16-4": [{"udid": "Y", "name": "Phone", "state": "Booted"}],
        "r.iOS-18-0": [{"udid": "Z", "name": "Apple", "state": "Booted"}]}})");
    ASSERT_TRUE(twins);
    EXPECT_EQ(names(*twins), (QStringList{"Apple", "Phone", "Phone"}));
}

TEST(SimctlParse, PrettyRuntimeLabels)
{
    const QList<QPair<QString, QString>> cases = {
        {"com.apple.CoreSimulator.SimRuntime.iOS-17-2", "iOS 17.2"},
        {"com.apple.CoreSimulator.SimRuntime.watchOS-10-0", "watchOS 10.0"},
        {"com.apple.CoreSimulator.SimRuntime.tvOS-17", "tvOS 17"},
        {"iOS--17", "iOS 17"},
        {"com.apple.xrOS", "xrOS"},
        {"plain", "plain"},
        {"", ""},
        {"...", "..."},
        {"a.---", "---"},
        {"a.iOS-17-2.", "iOS 17.2"},
    };
    for (const auto &[identifier, label] : cases)
        EXPECT_EQ(Simctl::prettyRuntime(identifier), label) << identifier.toStdString();
}

TEST_F(FakeXcrun, RefreshListsBootedSimulatorsWithTheSimctlCommandLine)
{
    SimulatorManager manager;
    int busyChanges = 0;
    QObject::connect(&manager, &SimulatorManager::busyChanged, [&] { ++busyChanges; });
    manager.refresh();
    EXPECT_TRUE(manager.busy());
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }));
    EXPECT_EQ(busyChanges, 2);
    EXPECT_EQ(loggedArguments(), (QStringList{"simctl", "list", "devices", "booted", "-j"}));
    ASSERT_EQ(manager.simulators().size(), 1);
    EXPECT_EQ(manager.simulators().first(), (Simulator{"A1", "iPhone 15", "iOS 17.2", "Booted"}));
    EXPECT_FALSE(manager.status().has_value());
}

TEST_F(FakeXcrun, FailedRefreshesGiveAnEmptyListAndKeepTrustState)
{
    SimulatorManager manager;
    ASSERT_TRUE(refreshAndWait(manager));
    ASSERT_EQ(manager.simulators().size(), 1);
    manager.trust(manager.simulators().first(), dir.filePath("ca.pem"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }));
    ASSERT_TRUE(manager.trusted().contains("A1"));

    put("listing", R"({"devices": {"r.iOS-17": [{"udid": "A1", "name": "broken"}]}})");
    ASSERT_TRUE(refreshAndWait(manager));
    EXPECT_TRUE(manager.simulators().isEmpty()) << "malformed JSON";
    EXPECT_TRUE(manager.trusted().contains("A1"));
    EXPECT_EQ(manager.status(), QString("Kestrion CA trusted in iPhone 15."));

    put("listing", TwoRuntimes);
    ASSERT_TRUE(refreshAndWait(manager));
    ASSERT_EQ(manager.simulators().size(), 1);
    put("list-status", "1");
    ASSERT_TRUE(refreshAndWait(manager));
    EXPECT_TRUE(manager.simulators().isEmpty()) << "non-zero exit, even with a valid listing";

    put("list-status", "0");
    put("listing", "\xff\xfe{}");
    ASSERT_TRUE(refreshAndWait(manager));
    EXPECT_TRUE(manager.simulators().isEmpty()) << "output that is not UTF-8";

    // Off the Mac there is no xcrun at all.
    faketool::ScopedEnv missing(ToolPaths::XcrunEnv, "/nonexistent/xcrun");
    put("listing", TwoRuntimes);
    ASSERT_TRUE(refreshAndWait(manager));
    EXPECT_TRUE(manager.simulators().isEmpty());
    EXPECT_FALSE(manager.busy());
}

TEST_F(FakeXcrun, SuccessfulTrustRecordsTheUdidThenTheMessageThenIdles)
{
    SimulatorManager manager;
    const Simulator phone{"UDID-1", "Test Phone", "iOS 17.2", "Booted"};
    const QString caPath = dir.filePath("my \"ca\" file's.pem");
    QStringList order;
    QObject::connect(&manager, &SimulatorManager::trustedChanged, [&] { order << "trusted"; });
    QObject::connect(&manager, &SimulatorManager::statusChanged, [&] { order << "status"; });
    QObject::connect(&manager, &SimulatorManager::busyChanged,
                     [&] { order << (manager.busy() ? "busy" : "idle"); });

    manager.trust(phone, caPath);
    ASSERT_TRUE(testsupport::waitFor([&] { return order.contains("idle"); }));
    EXPECT_EQ(order, (QStringList{"busy", "trusted", "status", "idle"}));
    EXPECT_EQ(loggedArguments(), (QStringList{"simctl", "keychain", "UDID-1", "add-root-cert", caPath}));
    EXPECT_EQ(manager.trusted().keys(), QStringList{"UDID-1"});
    EXPECT_EQ(manager.status(), QString("Kestrion CA trusted in Test Phone."));
    EXPECT_FALSE(manager.statusIsFailure());
    EXPECT_TRUE(manager.simulators().isEmpty()) << "trust does not touch the list";
}

TEST_F(FakeXcrun, FailedTrustMessages)
{
    SimulatorManager manager;
    const Simulator phone{"UDID-1", "Test Phone", "iOS 17.2", "Booted"};
    put("trust-status", "1");
    put("trust-stderr", "  \nAn error was encountered processing the command (code=2).\n\n");
    manager.trust(phone, "/ca.pem");
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }));
    EXPECT_EQ(manager.status(), QString("Trust failed: An error was encountered processing the command (code=2)."));
    EXPECT_TRUE(manager.statusIsFailure());
    EXPECT_TRUE(manager.trusted().isEmpty());

    put("trust-stderr", " \t\n \n");
    manager.trust(phone, "/ca.pem");
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }));
    EXPECT_EQ(manager.status(), QString("Trust failed"));

    faketool::ScopedEnv missing(ToolPaths::XcrunEnv, "/nonexistent/xcrun");
    manager.trust(phone, "/ca.pem");
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }));
    EXPECT_EQ(manager.status(), QString("Trust failed: No such file or directory"));
    EXPECT_TRUE(manager.statusIsFailure());
    EXPECT_TRUE(manager.trusted().isEmpty());
}

TEST_F(FakeXcrun, MissingCaIsAFailureMessageThatRunsNothing)
{
    SimulatorManager manager;
    const Simulator phone{"UDID-1", "Test Phone", "iOS 17.2", "Booted"};
    int statusChanges = 0;
    QObject::connect(&manager, &SimulatorManager::statusChanged, [&] { ++statusChanges; });

    manager.trust(phone, QString());
    EXPECT_EQ(manager.status(), QString("Generate a Root CA first (Certificates tab)."));
    EXPECT_TRUE(manager.statusIsFailure()) << "a missing CA must not read as success";
    EXPECT_EQ(statusChanges, 1);
    EXPECT_FALSE(manager.busy());

    // Also while another run holds busy, which it leaves as it was.
    put("hold", "");
    manager.trust(phone, "/ca.pem");
    ASSERT_TRUE(manager.busy());
    manager.trust(phone, QString());
    EXPECT_TRUE(manager.busy());
    EXPECT_EQ(manager.status(), QString("Generate a Root CA first (Certificates tab)."));
    QFile::remove(dir.filePath("hold"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }));
    EXPECT_EQ(loggedArguments().count("add-root-cert"), 1);
    EXPECT_FALSE(manager.statusIsFailure());
}

TEST_F(FakeXcrun, BusyStaysUntilTheLastOverlappingRunEnds)
{
    SimulatorManager manager;
    const Simulator phone{"UDID-1", "Test Phone", "iOS 17.2", "Booted"};
    int busyChanges = 0;
    QObject::connect(&manager, &SimulatorManager::busyChanged, [&] { ++busyChanges; });
    bool listed = false;
    QObject::connect(&manager, &SimulatorManager::simulatorsChanged, [&] { listed = true; });

    put("hold", "");
    manager.trust(phone, "/ca.pem");
    manager.refresh();
    ASSERT_TRUE(testsupport::waitFor([&] { return listed; }));
    EXPECT_EQ(manager.simulators().size(), 1);
    EXPECT_TRUE(manager.busy()) << "the held trust is still running";
    EXPECT_EQ(busyChanges, 1);

    QFile::remove(dir.filePath("hold"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }));
    EXPECT_EQ(busyChanges, 2);
    EXPECT_TRUE(manager.trusted().contains("UDID-1"));
}

TEST_F(FakeXcrun, TrustMarksBelongToTheCaTheyWereMadeWith)
{
    SimulatorManager manager;
    const Simulator sim{"UDID-1", "iPhone", "iOS 17.2", "Booted"};
    manager.trust(sim, dir.filePath("ca.pem"), "AA:AA");
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }, 20000));
    EXPECT_TRUE(manager.isTrusted("UDID-1", "AA:AA"));
    EXPECT_FALSE(manager.isTrusted("UDID-1", "BB:BB"));
    EXPECT_FALSE(manager.isTrusted("UDID-2", "AA:AA"));

    // Trusting again with the new CA moves the mark to it.
    QSignalSpy changed(&manager, &SimulatorManager::trustedChanged);
    manager.trust(sim, dir.filePath("ca.pem"), "BB:BB");
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager.busy(); }, 20000));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(manager.isTrusted("UDID-1", "BB:BB"));
    EXPECT_FALSE(manager.isTrusted("UDID-1", "AA:AA"));
}
