// What the routes-library tests share: app objects without an engine process, a themed frame for renders.
#pragma once

#include "app/app_context.h"
#include "app/app_state.h"
#include "design/palette.h"
#include "design/snow_menu_item.h"
#include "engine/engine_client.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

namespace routestest {

inline Endpoint route(const std::string &id, HTTPMethod method, const std::string &host, const std::string &path,
                      const std::string &group = {})
{
    Endpoint e;
    e.id = id;
    e.method = method;
    e.host = host;
    e.path = path;
    e.group = group;
    return e;
}

inline QStringList ids(const QList<Endpoint> &routes)
{
    QStringList out;
    for (const Endpoint &r : routes)
        out.append(QString::fromStdString(r.id));
    return out;
}

// Runs the menu entry with that title; a missing entry fails the test.
inline void runEntry(const QList<SnowMenuItem> &items, const QString &title)
{
    for (const SnowMenuItem &item : items) {
        if (item.title == title) {
            item.action();
            return;
        }
    }
    ADD_FAILURE() << "no entry " << title.toStdString();
}

// An AppState and an EngineClient that never starts a process (no control port: pushes send nothing).
struct Objects
{
    AppState state;
    EngineClient engine;
    AppContext context() { return AppContext{&state, &engine, nullptr, nullptr}; }
};

// A window-like frame that carries a palette and paints the content background behind a widget.
class ThemedFrame final : public QWidget
{
public:
    ThemedFrame(QWidget *content, const QSize &size, bool dark)
    {
        PaletteHost::set(this, dark ? Palette::dark() : Palette::light());
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
        resize(size);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Palette::of(this).content); }
};

// True when the image was written and holds more than a flat fill (something was drawn).
inline bool drewSomething(const QString &path)
{
    const QImage image(path);
    if (image.isNull())
        return false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            if (image.pixel(x, y) != first)
                return true;
    return false;
}

// Saves light and dark renders of a widget built by make() at a fixed size: <name>_light/_dark.png.
// Returns false when a render is missing or blank.
template <typename Make>
bool renderBothThemes(const QString &name, const QSize &size, Make make)
{
    bool ok = true;
    for (const bool dark : {false, true}) {
        ThemedFrame frame(make(), size, dark);
        frame.show();
        QCoreApplication::processEvents();
        ok = drewSomething(testsupport::saveRender(&frame, QStringLiteral("routes"), name + (dark ? "_dark" : "_light")))
             && ok;
    }
    return ok;
}

} // namespace routestest
