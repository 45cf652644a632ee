// The snapshot run: kickoff, warm-up, the two passes and the one way the process ends.
#include "snapshot/snapshot_runner.h"

#include "app/app_context.h"
#include "app/app_state.h"
#include "app/command_palette.h"
#include "app/content_view.h"
#include "app/nav_item.h"
#include "app/shell_registry.h"
#include "design/palette.h"
#include "design/theme.h"
#include "engine/analytics.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"
#include "platform/preferences.h"
#include "platform/tool_runner.h"
#include "screens/setup/simulator_manager.h"
#include "snapshot/host_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace SnapshotRunner {

namespace {

// Whoever sets this first (the finished run or the watchdog) is the one that ends the process.
std::atomic<bool> g_ending{false};
// What the watchdog needs to clean up without touching Qt: the engine child and the throwaway folder.
std::atomic<qint64> g_enginePid{0};
std::mutex g_outputMutex;
std::string g_dataDirectory;

void writeLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// Standard output is a pipe in CI: each line goes out whole and at once. Once the end is claimed,
// no capture line follows the final one.
void printLine(const QString &line)
{
    const std::lock_guard lock(g_outputMutex);
    if (!g_ending.load())
        writeLine(line);
}

// Claims the end of the process and prints its final line; false when the other side already did.
bool claimEnd(const QString &finalLine = {})
{
    const std::lock_guard lock(g_outputMutex);
    bool expected = false;
    if (!g_ending.compare_exchange_strong(expected, true))
        return false;
    if (!finalLine.isEmpty())
        writeLine(finalLine);
    return true;
}

int watchdogLimitMs()
{
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("KESTRION_SNAPSHOT_WATCHDOG_MS", &ok);
    return ok && fromEnvironment > 0 ? fromEnvironment : WatchdogMs;
}

void startWatchdog(int limitMs)
{
    std::thread([limitMs] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (g_ending.load())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!claimEnd(QStringLiteral("SNAPSHOT_TIMEOUT")))
            return;
        // The GUI thread may be stuck, so nothing of Qt is touched from here.
        if (const qint64 pid = g_enginePid.load(); pid > 0)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::error_code ignored;
        if (!g_dataDirectory.empty())
            std::filesystem::remove_all(g_dataDirectory, ignored);
        ::_exit(2);
    }).detach();
}

// A port nobody listens on right now, so a Kestrion already running on 9999 is left alone.
int freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

struct SheetCapture
{
    QString name;
    QSize size;
    // Null when the view has no factory (or, for the inspector pane, when there is no route).
    std::function<QWidget *()> build;
    bool needsRoute = false;
};

class SnapshotRun final : public QObject
{
public:
    SnapshotRun(QString outputDirectory, QString dataDirectory)
        : QObject(QCoreApplication::instance())
        , m_output(std::move(outputDirectory))
        , m_dataDirectory(std::move(dataDirectory))
    {
    }

    ~SnapshotRun() override
    {
        // Quitting by signal ends the run too; the watchdog must not fire during the exit.
        claimEnd();
        finishEngine();
    }

    void start()
    {
        QDir().mkpath(m_output);
        m_state = new AppState(this);
        m_engine = new EngineClient(this);
        m_simulators = new SimulatorManager(this);
        m_context = AppContext{m_state, m_engine, m_simulators, &Analytics::shared()};
        m_engine->setDataDirectory(m_dataDirectory);
        if (const int port = freeLoopbackPort(); port > 0)
            m_engine->setProxyPort(port);
        m_engine->boot(true);
        g_enginePid = m_engine->engineProcessId();
        waitForEngine(50);
    }

private:
    void after(int ms, std::function<void()> next) { QTimer::singleShot(ms, this, std::move(next)); }

    void waitForEngine(int repetitions)
    {
        if (m_engine->engineReady() || repetitions == 0) {
            waitForRoutes(50);
            return;
        }
        after(200, [this, repetitions] { waitForEngine(repetitions - 1); });
    }

    // Seeding before the first route load answered would let the demo push overwrite real routes.
    void waitForRoutes(int repetitions)
    {
        if (!m_engine->routesLoaded() && m_engine->engineReady() && repetitions > 0) {
            after(100, [this, repetitions] { waitForRoutes(repetitions - 1); });
            return;
        }
        if (m_engine->routesLoaded() && m_engine->endpoints().isEmpty()) {
            QList<Endpoint> demo;
            for (const Endpoint &route : MockData::endpoints())
                demo.append(route);
            m_engine->setEndpoints(demo);
            m_engine->pushRoutes();
            after(1200, [this] { startProxy(); });
            return;
        }
        startProxy();
    }

    void startProxy()
    {
        if (m_engine->proxyRunning()) {
            driveTraffic();
            return;
        }
        m_engine->startProxy();
        after(800, [this] { driveTraffic(); });
    }

    void driveTraffic()
    {
        if (!m_engine->proxyRunning()) {
            warmedUp();
            return;
        }
        const QList<Endpoint> routes = m_engine->endpoints();
        for (qsizetype i = 0; i < routes.size() && i < 6; ++i)
            ToolRunner::run(ToolPaths::curl(), curlArguments(routes[i], m_engine->proxyPort()), this,
                            [](const ToolResult &) {});
        after(2500, [this] { after(1500, [this] { warmedUp(); }); });
    }

    void warmedUp()
    {
        m_state->setShowOnboarding(false);
        runPass(false);
    }

    void runPass(bool dark)
    {
        m_dark = dark;
        m_suffix = dark ? QStringLiteral("dark") : QStringLiteral("light");
        m_state->setTheme(dark ? AppTheme::dark : AppTheme::light);
        auto *content = new ContentView(m_context, ShellRegistry::shared());
        m_main = new HostWindow(content, QSize(1280, 820), palette());
        after(600, [this] { captureScreen(0); });
    }

    const Palette &palette() const { return m_dark ? Palette::dark() : Palette::light(); }

    void captureScreen(size_t index)
    {
        if (index == Nav::allCases.size()) {
            captureInspector();
            return;
        }
        const NavItem item = Nav::allCases[index];
        m_state->select(item);
        m_state->setSelectedEndpointID(std::nullopt);
        after(350, [this, index, item] {
            capture(m_main, Nav::rawValue(item));
            captureScreen(index + 1);
        });
    }

    void captureInspector()
    {
        const QList<Endpoint> routes = m_engine->endpoints();
        if (routes.isEmpty()) {
            closeMain();
            return;
        }
        m_state->select(NavItem::endpoints);
        m_state->setSelectedEndpointID(QString::fromStdString(routes.first().id));
        after(1000, [this] {
            capture(m_main, QStringLiteral("inspector"));
            m_state->setSelectedEndpointID(std::nullopt);
            closeMain();
        });
    }

    void closeMain()
    {
        m_main->tearDown();
        m_main->deleteLater();
        m_main = nullptr;
        m_sheets = sheetCaptures();
        captureSheet(0);
    }

    std::vector<SheetCapture> sheetCaptures()
    {
        const ShellRegistry &registry = ShellRegistry::shared();
        const AppContext context = m_context;
        auto fromSheet = [&registry, context](SheetFlag flag) -> std::function<QWidget *()> {
            const ShellRegistry::ScreenFactory *factory = registry.sheet(flag);
            if (!factory)
                return {};
            return [factory = *factory, context] { return factory(context, nullptr); };
        };
        std::function<QWidget *()> inspector;
        const QList<Endpoint> routes = m_engine->endpoints();
        if (const auto *factory = registry.inspector(); factory && !routes.isEmpty()) {
            inspector = [factory = *factory, context, route = routes.first()] {
                return factory(context, route, nullptr);
            };
        }
        std::function<QWidget *()> onboarding;
        if (const auto *factory = registry.onboarding())
            onboarding = [factory = *factory, context] { return factory(context, [] {}, nullptr); };
        return {
            {QStringLiteral("inspector-pane"), QSize(300, 780), inspector, true},
            {QStringLiteral("new-route"), QSize(420, 360), fromSheet(SheetFlag::newRoute)},
            {QStringLiteral("settings"), QSize(560, 600), fromSheet(SheetFlag::settings)},
            {QStringLiteral("onboarding"), QSize(540, 560), onboarding},
            {QStringLiteral("palette"), QSize(560, 440),
             [context] { return static_cast<QWidget *>(new CommandPalette(context)); }},
            {QStringLiteral("environments"), QSize(580, 440), fromSheet(SheetFlag::manageEnvironments)},
            {QStringLiteral("projects"), QSize(460, 420), fromSheet(SheetFlag::manageProjects)},
        };
    }

    void captureSheet(size_t index)
    {
        if (index == m_sheets.size()) {
            if (!m_dark)
                runPass(true);
            else
                finish();
            return;
        }
        const SheetCapture &sheet = m_sheets[index];
        if (sheet.needsRoute && m_engine->endpoints().isEmpty()) {
            captureSheet(index + 1);
            return;
        }
        if (!sheet.build) {
            // A view that cannot be built is reported, never skipped silently.
            fail(sheet.name);
            captureSheet(index + 1);
            return;
        }
        auto *host = new HostWindow(sheet.build(), sheet.size, palette());
        const QString name = sheet.name;
        after(300, [this, host, name, index] {
            capture(host, name);
            host->tearDown();
            host->deleteLater();
            captureSheet(index + 1);
        });
    }

    void capture(HostWindow *host, const QString &name)
    {
        const QString file = name + QLatin1Char('-') + m_suffix + QStringLiteral(".png");
        switch (host->capture(QDir(m_output).filePath(file))) {
        case HostWindow::Capture::written:
            printLine(QStringLiteral("SNAPSHOT_OK ") + file);
            break;
        case HostWindow::Capture::failed:
            fail(name);
            break;
        case HostWindow::Capture::noContent:
            break;
        }
    }

    void fail(const QString &name)
    {
        m_failed = true;
        printLine(QStringLiteral("SNAPSHOT_FAIL ") + name + QLatin1Char('-') + m_suffix + QStringLiteral(".png"));
    }

    void finish()
    {
        if (!claimEnd(QStringLiteral("SNAPSHOTS_DONE ") + QDir(m_output).absolutePath()))
            return;
        m_engine->shutdown();
        after(200, [this] {
            finishEngine();
            QCoreApplication::exit(m_failed ? 1 : 0);
        });
    }

    // No engine outlives the run, and its throwaway folder goes with it.
    void finishEngine()
    {
        delete m_engine.data();
        g_enginePid = 0;
        if (!m_dataDirectory.isEmpty())
            QDir(m_dataDirectory).removeRecursively();
    }

    QString m_output;
    QString m_dataDirectory;
    AppState *m_state = nullptr;
    QPointer<EngineClient> m_engine;
    SimulatorManager *m_simulators = nullptr;
    AppContext m_context;
    HostWindow *m_main = nullptr;
    std::vector<SheetCapture> m_sheets;
    bool m_dark = false;
    QString m_suffix;
    bool m_failed = false;
};

} // namespace

std::optional<QString> outputDirectory(const QStringList &arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--snapshot"));
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return QDir::cleanPath(QDir::current().absoluteFilePath(arguments[at + 1]));
}

QStringList curlArguments(const Endpoint &route, int proxyPort)
{
    const HTTPMethod method = route.method == HTTPMethod::CONNECT ? HTTPMethod::GET : route.method;
    return {QStringLiteral("-s"),
            QStringLiteral("-o"),
            QStringLiteral("/dev/null"),
            QStringLiteral("-m"),
            QStringLiteral("3"),
            QStringLiteral("-X"),
            QString::fromLatin1(rawValue(method)),
            QStringLiteral("-x"),
            QStringLiteral("127.0.0.1:") + QString::number(proxyPort),
            QStringLiteral("http://") + QString::fromStdString(route.host) + QString::fromStdString(route.path)};
}

QStringList passFiles(const QString &suffix, bool hasRoute)
{
    QStringList names;
    for (NavItem item : Nav::allCases)
        names << Nav::rawValue(item);
    if (hasRoute)
        names << QStringLiteral("inspector") << QStringLiteral("inspector-pane");
    names << QStringLiteral("new-route") << QStringLiteral("settings") << QStringLiteral("onboarding")
          << QStringLiteral("palette") << QStringLiteral("environments") << QStringLiteral("projects");
    QStringList files;
    for (const QString &name : names)
        files << name + QLatin1Char('-') + suffix + QStringLiteral(".png");
    return files;
}

bool kickoff(const QStringList &arguments)
{
    const std::optional<QString> output = outputDirectory(arguments);
    if (!output)
        return false;
    // The run's engine must not land in a folder named for the normal window's engine.
    qunsetenv("KESTRION_DATA_DIR");
    Preferences &preferences = Preferences::instance();
    preferences.setValue(PrefKey::OnboardedV1, true);
    preferences.sync();

    // The run's engine gets a folder of its own: the user's history, baselines and routes stay untouched.
    const QString data = QDir(QDir::tempPath()).filePath(
        QStringLiteral("kestrion-snapshot-") + QString::number(QCoreApplication::applicationPid()));
    QDir(data).removeRecursively();
    QDir().mkpath(data);
    g_dataDirectory = data.toStdString();

    auto *run = new SnapshotRun(*output, data);
    QTimer::singleShot(0, run, [run] { run->start(); });
    startWatchdog(watchdogLimitMs());
    return true;
}

void kickoffIfRequested()
{
    kickoff(QCoreApplication::arguments());
}

} // namespace SnapshotRunner
