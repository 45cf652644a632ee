// What the widget benchmarks share: a large route list, a key press, and a main on an offscreen display.
#pragma once

#include "design/fonts.h"
#include "engine/records/route_records.h"

#include <QApplication>
#include <QKeyEvent>
#include <QList>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <string>

namespace benchsupport {

// `count` routes spread over `groups` groups, with every method, several hosts and a short JSON body.
inline QList<Endpoint> manyRoutes(int count, int groups)
{
    QList<Endpoint> routes;
    routes.reserve(count);
    for (int i = 0; i < count; ++i) {
        Endpoint e;
        e.id = "r-" + std::to_string(i);
        e.method = allHTTPMethods[std::size_t(i) % allHTTPMethods.size()];
        e.host = "svc" + std::to_string(i % 7) + ".example.com";
        e.path = "/v" + std::to_string(1 + i % 3) + "/items/" + std::to_string(i) + "/detail";
        e.status = 200 + (i % 5) * 100;
        e.latency = (i * 37) % 1500;
        e.group = "Group " + std::to_string(i % groups);
        e.body = "{\n  \"ok\": true\n}";
        routes.append(std::move(e));
    }
    return routes;
}

inline void press(QWidget *target, Qt::Key key, const QString &text)
{
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &up);
}

enum class AppFonts { system, registered };

// Runs the registered benchmarks inside whatever application object the caller made.
inline int runRegisteredBenchmarks(int &argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// For benchmarks that need an event loop but no display.
inline int runCoreBenchmarks(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runRegisteredBenchmarks(argc, argv);
}

// Runs the registered benchmarks inside a QApplication, offscreen unless a platform is named.
inline int runWidgetBenchmarks(int argc, char **argv, AppFonts fonts = AppFonts::system)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (fonts == AppFonts::registered)
        Fonts::registerApplicationFonts();
    return runRegisteredBenchmarks(argc, argv);
}

} // namespace benchsupport
