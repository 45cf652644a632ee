// The inspector against the real stand-in engine: a booted engine link, an app state, a shown inspector,
// and the control requests the link sends, as the network layer reports them.
#pragma once

#include "app/app_state.h"
#include "design/badges.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "engine/engine_client.h"
#include "engine/link/ops_test_support.h"
#include "platform/desktop.h"
#include "screens/routes/inspector_view.h"
#include "support/test_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QVBoxLayout>

#include <nlohmann/json.hpp>

#include <memory>

class InspectorEngineTest : public EngineOpsTest
{
protected:
    void SetUp() override
    {
        EngineOpsTest::SetUp();
        ASSERT_TRUE(bootLoaded());
        QObject::connect(client().network(), &QNetworkAccessManager::finished, &m_watch, [this](QNetworkReply *reply) {
            if (reply->operation() == QNetworkAccessManager::PostOperation && reply->url().path() == "/routes")
                ++m_routePosts;
            if (reply->operation() != QNetworkAccessManager::GetOperation)
                ++m_writes;
        });
        state.setNav(NavItem::endpoints);
    }

    void TearDown() override
    {
        m_view.reset();
        m_host.reset();
        EngineOpsTest::TearDown();
    }

    // Puts routes into the link and the engine, and waits until that push is answered.
    void seed(const QList<Endpoint> &routes)
    {
        client().setEndpoints(routes);
        client().pushRoutes();
        // Sent now rather than after the debounce: the seed is not what these tests watch.
        client().flushPendingPushes();
        ASSERT_TRUE(testsupport::waitFor([this] { return !client().routePushPending(); }));
        m_routePosts = 0;
        m_writes = 0;
    }

    // Opens the inspector on a route of the link's list, in a shown host of the inspector's size.
    InspectorView &open(const std::string &id, const Palette &palette = Palette::light())
    {
        m_view.reset();
        m_host = std::make_unique<QWidget>();
        PaletteHost::set(m_host.get(), palette);
        auto *column = new QVBoxLayout(m_host.get());
        column->setContentsMargins(0, 0, 0, 0);
        const Endpoint *route = find(id);
        EXPECT_NE(route, nullptr);
        state.setSelectedEndpointID(QString::fromStdString(id));
        m_view = std::make_unique<InspectorView>(AppContext{&state, &client(), nullptr, nullptr}, *route, m_host.get());
        column->addWidget(m_view.get());
        m_host->resize(InspectorView::PanelWidth, 820);
        m_host->show();
        QApplication::processEvents();
        return *m_view;
    }

    InspectorView &view() { return *m_view; }

    const Endpoint *find(const std::string &id) const
    {
        for (const Endpoint &route : m_client->endpoints())
            if (route.id == id)
                return &route;
        return nullptr;
    }

    // Once the queued work has run, no push waits for its debounce or its answer: no write can still
    // follow, so a check for "nothing was sent" need not wait out the debounce.
    bool noPushWaiting()
    {
        QApplication::processEvents();
        return !client().routePushPending() && !client().environmentPushPending();
    }

    // Waits out the push debounce and the post.
    bool settled() { return testsupport::waitFor([this] { return !client().routePushPending(); }); }

    // The engine's own route list, as it answers GET /routes.
    nlohmann::json engineRoutes()
    {
        std::optional<QByteArray> body;
        client().sendControl("GET", QStringLiteral("routes"), {}, std::nullopt, 5000, nullptr,
                             [&body](const ControlReply &reply) { body = reply.body; });
        EXPECT_TRUE(testsupport::waitFor([&] { return body.has_value(); }));
        return nlohmann::json::parse(body.value_or("[]").toStdString(), nullptr, false);
    }

    static nlohmann::json routeIn(const nlohmann::json &routes, const std::string &id)
    {
        for (const auto &route : routes)
            if (route.value("id", "") == id)
                return route;
        return nullptr;
    }

    AppState state;
    int m_routePosts = 0;
    int m_writes = 0;
    QObject m_watch;
    std::unique_ptr<QWidget> m_host;
    std::unique_ptr<InspectorView> m_view;
};

// Selects the field's text and types over it: the first key replaces the selection.
inline void typeOver(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// Whether the caret of an editor in the inspector shows in the inspector's scroll area.
inline bool caretInView(QWidget *editor, QScrollArea *area)
{
    const QRect caret = editor->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    const QPoint top = editor->mapTo(area->viewport(), caret.topLeft());
    return top.y() >= 0 && top.y() + caret.height() <= area->viewport()->height();
}

// A route for these tests: id, method GET, host "api.test", path "/<id>", status 200, active.
inline Endpoint inspectorRoute(const std::string &id, int status = 200, const std::string &body = "{}")
{
    Endpoint route = opstest::route(id, "/" + id, body);
    route.status = status;
    return route;
}
