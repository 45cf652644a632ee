// Shared helpers of the traffic screen tests: a themed host, request and drift events.
#pragma once

#include "design/palette.h"
#include "design/snow_empty_state.h"
#include "design/snow_text.h"
#include "engine/engine_client.h"
#include "screens/settle_test_support.h"
#include "support/model_test_support.h"
#include "support/test_support.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QPainter>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace traffictest {

// The window's content area: the palette's background behind one screen, at a fixed size.
class Host final : public QWidget
{
public:
    explicit Host(const Palette &palette = Palette::light(), QSize size = {1000, 640})
    {
        PaletteHost::set(this, palette);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        resize(size);
    }
    template <class Screen>
    Screen *show(Screen *screen)
    {
        layout()->addWidget(screen);
        QWidget::show();
        QCoreApplication::processEvents();
        return screen;
    }
    void setTheme(const Palette &palette)
    {
        PaletteHost::set(this, palette);
        QCoreApplication::processEvents();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Palette::of(this).background);
    }
};

inline std::string requestEvent(const std::string &id, const std::string &method = "GET",
                                const std::string &path = "/v2/users", int status = 200, int latency = 42,
                                const std::string &host = "api.acme.dev", bool injected = false)
{
    return R"({"type":"request","time":"10:42:07","request":{"id":")" + id + R"(","time":"10:42:07","method":")" + method
           + R"(","host":")" + host + R"(","path":")" + path + R"(","status":)" + std::to_string(status)
           + R"(,"latencyMs":)" + std::to_string(latency) + R"(,"injected":)" + (injected ? "true" : "false") + "}}";
}

// The title of the empty state a screen shows; "" when it shows none (or a loader).
inline QString emptyTitle(QWidget *shown)
{
    auto *state = qobject_cast<SnowEmptyState *>(shown);
    return state ? state->titleText()->text() : QString();
}

// Lets layouts and eases settle, then saves the render under build/renders/traffic/.
inline QString render(QWidget *widget, const QString &name)
{
    screenstest::settle(widget);
    return testsupport::saveRender(widget, QStringLiteral("traffic"), name);
}

// `top` laid over an opaque `below`.
inline QColor over(const QColor &top, const QColor &below)
{
    const float a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + below.redF() * (1 - a), top.greenF() * a + below.greenF() * (1 - a),
                            top.blueF() * a + below.blueF() * (1 - a));
}

inline bool near(const QColor &a, const QColor &b, int tolerance = 6)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
           && qAbs(a.blue() - b.blue()) <= tolerance;
}

// The rightmost column of the area holding a pixel that stands out from the area's own first pixel
// (its background); -1 when none does.
inline int inkRight(const QImage &image, const QRect &area)
{
    const QColor background = image.pixelColor(area.topLeft());
    for (int x = area.right(); x >= area.left(); --x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (qAbs(image.pixelColor(x, y).lightness() - background.lightness()) > 60)
                return x;
    return -1;
}

// Feeds n request events (ids prefix0..prefixN-1) and flushes them as one batch.
inline void feed(EngineClient &engine, int n, const std::string &prefix = "r")
{
    for (int i = 0; i < n; ++i)
        engine.handleEvent(requestEvent(prefix + std::to_string(i), "GET", "/items/" + std::to_string(i)));
    engine.flushTraffic();
}

// Every row as it is once the link has cleared its fresh mark, without waiting for that.
inline void markAllSeen(EngineClient &engine)
{
    QList<TrafficEntry> rows = engine.traffic();
    for (TrafficEntry &row : rows)
        row.fresh = false;
    engine.setTraffic(rows);
}

} // namespace traffictest
