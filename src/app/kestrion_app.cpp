// Process start-up: fonts, snapshot hand-off, the main window and the event loop.
#include "app/kestrion_app.h"

#include "app/root_view.h"
#include "design/fonts.h"

#include <QApplication>
#include <QSocketNotifier>

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
    if (snapshotKickoff)
        snapshotKickoff();

    RootView window;
    window.show();
    return app.exec();
}

} // namespace KestrionApp
