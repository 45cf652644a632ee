// The main window built offscreen against the real stand-in engine, its data in a folder of its own and
// its proxy on a free port, for tests that walk the whole window.
#pragma once

#include "app/root_view.h"
#include "app/shell_registry.h"
#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "support/temp_preferences.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

inline int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

class WindowOnStandinEngine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        Preferences::instance().setValue(PrefKey::ProxyPort, freePort());
        Preferences::instance().setValue(PrefKey::OnboardedV1, true);
        prepare(m_registry);
        RootView::Options options;
        options.arguments = {QStringLiteral("kestrion")};
        options.registry = &m_registry;
        const QString data = m_dir.filePath(QStringLiteral("data"));
        options.prepareEngine = [data](EngineClient &engine) {
            engine.setEngineExecutable(standinEnginePath());
            engine.setDataDirectory(data);
        };
        m_window = std::make_unique<RootView>(options);
        m_window->show();
    }

    void TearDown() override
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The screens a test needs in the window, installed before it is built.
    virtual void prepare(ShellRegistry &) {}

    // Runs the posted layout and paint work, then waits until every transition in the window (its sheets
    // too) has ended.
    bool settled()
    {
        QCoreApplication::processEvents();
        return waitFor([this] { return animationsSettled(m_window.get()); });
    }

    TemporaryPreferencesDir m_dir;
    ShellRegistry m_registry;
    std::unique_ptr<RootView> m_window;
};

} // namespace testsupport
