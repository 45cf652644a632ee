// Shared pieces of the setup screen tests: an app context around one engine link, clicks, renders, CA records.
#pragma once

#include "app/app_context.h"
#include "app/app_state.h"
#include "design/palette.h"
#include "engine/engine_client.h"
#include "platform/analytics.h"
#include "platform/simulator_manager.h"
#include "screens/settle_test_support.h"
#include "support/test_support.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWidget>

#include <memory>

namespace setuptest {

// The objects a screen reads, owned together; the engine link may come from elsewhere.
struct Context
{
    explicit Context(EngineClient *engine = nullptr)
        : ownEngine(engine ? nullptr : std::make_unique<EngineClient>())
    {
        context.state = &state;
        context.engine = engine ? engine : ownEngine.get();
        context.simulators = &simulators;
        context.analytics = &Analytics::shared();
    }

    EngineClient &engine() const { return *context.engine; }

    AppState state;
    std::unique_ptr<EngineClient> ownEngine;
    SimulatorManager simulators;
    AppContext context;
};

inline CAInfo generatedCa(const std::string &path, const std::string &fingerprint = "AA:BB:CC")
{
    CAInfo ca;
    ca.generated = true;
    ca.fingerprint = fingerprint;
    ca.notAfter = "Dec  7 08:00:00 2036 GMT";
    ca.subject = "CN=Kestrion Root CA";
    ca.certPEM = "-----BEGIN CERTIFICATE-----\nMIIBfake\n-----END CERTIFICATE-----\n";
    ca.path = path;
    return ca;
}

// A left click in the middle of a shown widget.
inline void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

// Lets layouts and animations settle and saves the widget in light and dark.
inline void renderBoth(QWidget *widget, const QString &name)
{
    PaletteHost::set(widget, Palette::light());
    screenstest::settle(widget);
    testsupport::saveRender(widget, QStringLiteral("setup"), name + QStringLiteral("-light"));
    PaletteHost::set(widget, Palette::dark());
    screenstest::settle(widget);
    testsupport::saveRender(widget, QStringLiteral("setup"), name + QStringLiteral("-dark"));
    PaletteHost::set(widget, Palette::light());
}

// Scrolls every scroll area inside the widget to its end (for renders of what lies below the fold).
inline void scrollToEnd(QWidget *widget)
{
    for (QScrollArea *area : widget->findChildren<QScrollArea *>())
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
}

// Scrolls the scroll area holding the widget so that it shows with some room above it.
inline void scrollTo(QWidget *target)
{
    for (QWidget *w = target->parentWidget(); w; w = w->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(w)) {
            area->ensureWidgetVisible(target, 0, 160);
            return;
        }
    }
}

} // namespace setuptest
