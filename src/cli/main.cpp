// kestrion-link: a command-line driver that boots the engine and prints what the link reports.
// Status, health, the engine log and live traffic are printed as they change; Ctrl-C shuts down.
#include "engine/engine_client.h"
#include "platform/preferences.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void print(const QString &line)
{
    out() << line << Qt::endl;
}

QString statusText(const EngineStatus &status)
{
    switch (status.kind()) {
    case EngineStatus::Kind::Error:
        return QStringLiteral("error: ") + status.message();
    case EngineStatus::Kind::Stopped:
        return QStringLiteral("stopped");
    case EngineStatus::Kind::Starting:
        return QStringLiteral("starting");
    case EngineStatus::Kind::Healthy:
        return QStringLiteral("healthy");
    }
    return {};
}

QString healthText(const EngineHealth &health)
{
    const QLocale c = QLocale::c();
    return QStringLiteral("health: %1, engine %2 (pid %3), proxy %4 on :%5, %6 routes, %7 MB")
        .arg(QString::fromStdString(health.status), QString::fromStdString(health.version))
        .arg(health.pid)
        .arg(health.proxyRunning ? QStringLiteral("running") : QStringLiteral("stopped"))
        .arg(health.proxyPort)
        .arg(health.routeCount)
        .arg(c.toString(double(health.memoryBytes) / (1024.0 * 1024.0), 'f', 1));
}

QString trafficText(const TrafficEntry &entry)
{
    return QStringLiteral("traffic: %1 %2%3 -> %4 in %5 ms%6")
        .arg(QString::fromUtf8(rawValue(entry.method).data(), qsizetype(rawValue(entry.method).size())),
             QString::fromStdString(entry.host), QString::fromStdString(entry.path))
        .arg(entry.status)
        .arg(entry.latency)
        .arg(entry.injected ? QStringLiteral(" (mock)") : QString());
}

const char *const Usage =
    "Usage: kestrion-link [-h | --help]\n"
    "\n"
    "Starts the engine on your Kestrion data folder (and its proxy when auto-start is on, as in the\n"
    "application), then prints the engine's status, health, log and live traffic as they change.\n"
    "Ctrl-C shuts the engine down.\n"
    "\n"
    "Options:\n"
    "  -h, --help  print this help and exit\n"
    "\n"
    "Environment:\n"
    "  KESTRION_ENGINE    the engine program to start\n"
    "  KESTRION_DATA_DIR  the engine's data folder\n";

// Decided before anything starts: help exits 0, anything else on the command line is a usage error (2).
std::optional<int> handleArguments(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        const char *what = argument.starts_with('-') ? "unknown option" : "unexpected argument";
        std::fprintf(stderr, "kestrion-link: %s '%s'\n\n%s", what, argv[i], Usage);
        return 2;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> exitCode = handleArguments(argc, argv))
        return *exitCode;

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrion"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrion"));

    if (::pipe(signalPipe) != 0) {
        print(QStringLiteral("kestrion-link: cannot watch for Ctrl-C"));
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    EngineClient client;
    bool stopping = false;
    QString lastStatus;
    QString lastHealth;
    int exitCode = 0;

    QObject::connect(&client, &EngineClient::statusChanged, &app, [&] {
        const QString text = statusText(client.status());
        if (text != lastStatus)
            print(QStringLiteral("status: ") + text);
        lastStatus = text;
    });
    QObject::connect(&client, &EngineClient::healthChanged, &app, [&] {
        if (!client.health())
            return;
        // Uptime changes on every answer; only the rest is worth a line.
        EngineHealth shown = *client.health();
        shown.uptimeSeconds = 0;
        shown.memoryBytes = shown.memoryBytes / (1024 * 1024 * 8);
        const QString key = healthText(shown);
        if (key != lastHealth)
            print(healthText(*client.health()));
        lastHealth = key;
    });
    // The log is printed here with its prefix; a second copy on standard error would double every line.
    client.setLogToStandardError(false);
    QObject::connect(&client, &EngineClient::logChanged, &app, [&] {
        if (!client.log().isEmpty())
            print(QStringLiteral("log: ") + client.log().last());
    });
    QObject::connect(&client, &EngineClient::trafficFlushed, &app, [&](int appended, int) {
        const QList<TrafficEntry> &traffic = client.traffic();
        for (qsizetype i = traffic.size() - appended; i < traffic.size(); ++i)
            print(trafficText(traffic[i]));
    });

    auto finish = [&] {
        QTimer::singleShot(0, &app, [&] { QCoreApplication::exit(exitCode); });
    };
    QObject::connect(&client, &EngineClient::engineExited, &app, [&](int) {
        if (!stopping) {
            print(QStringLiteral("kestrion-link: the engine has exited"));
            exitCode = 1;
        }
        finish();
    });

    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        if (stopping)
            return;
        stopping = true;
        print(QStringLiteral("stopping\u2026"));
        const bool hadEngine = client.engineReady() || client.status() == EngineStatus::starting();
        client.shutdown();
        if (!hadEngine)
            finish();
        // The engine ends on the shutdown request, its closed input or the terminate request;
        // whatever is left after this is ended when the link is destroyed.
        QTimer::singleShot(3000, &app, finish);
    });

    print(QStringLiteral("kestrion-link: engine %1, data in %2 (Ctrl-C to stop)")
              .arg(client.engineExecutable(), client.dataDirectory()));
    client.boot(Preferences::instance().boolValue(PrefKey::AutostartPref, true));
    if (client.status().isError())
        return 1;
    return app.exec();
}
