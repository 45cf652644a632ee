// Process start-up: fonts, snapshot hand-off, the main window and the event loop.
#include "app/kestrion_app.h"

#include "app/root_view.h"
#include "design/fonts.h"
#include "design/scroll_into_view.h"
#include "engine/engine_client.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include <csignal>
#include <unistd.h>

namespace KestrionApp {

namespace {

int g_signalPipe[2] = {-1, -1};

void forwardSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

// Ctrl-C or a polite kill quits through the event loop, so the engine is shut down as on a normal quit.
void quitOnTerminationSignals(QApplication &app)
{
    if (::pipe(g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// With KESTRION_STARTUP_TRACE set, start-up milestones go to standard error as they happen, for
// bench/startup_bench: the first frame of the window painted, and the engine's first good health answer.
class StartupTrace final : public QObject
{
public:
    explicit StartupTrace(RootView &window)
        : QObject(&window)
    {
        window.installEventFilter(this);
        connect(window.engine(), &EngineClient::statusChanged, this, [this, engine = window.engine()] {
            if (!m_engineReady && engine->status() == EngineStatus::healthy()) {
                m_engineReady = true;
                mark("engine ready");
            }
        });
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            // The children paint in the same pass, after the window itself: report once it is over.
            QTimer::singleShot(0, this, [] { mark("first frame"); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static void mark(const char *what)
    {
        std::fprintf(stderr, "kestrion startup: %s\n", what);
        std::fflush(stderr);
    }

    bool m_painted = false;
    bool m_engineReady = false;
};

} // namespace

void registerFonts()
{
    Fonts::registerApplicationFonts();
}

std::optional<QString> snapshotDirectory(const QStringList &arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--snapshot"));
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return arguments[at + 1];
}

int run(int argc, char **argv, std::function<void()> snapshotKickoff)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrion"));
    QApplication::setOrganizationName(QStringLiteral("Kestrion"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kestrion"));
    quitOnTerminationSignals(app);
    registerFonts();
    keepKeyboardFocusInView();
    if (snapshotKickoff)
        snapshotKickoff();

    RootView window;
    if (qEnvironmentVariableIsSet("KESTRION_STARTUP_TRACE"))
        new StartupTrace(window);
    window.show();
    return app.exec();
}

} // namespace KestrionApp
