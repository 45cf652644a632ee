// The replaceable desktop functions: what reaches the clipboard and which URLs the openers ask for.
#include "platform/desktop.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class DesktopHooks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Desktop::setOpenHook([this](const QUrl &url) {
            opened.append(url);
            return true;
        });
    }
    void TearDown() override
    {
        Desktop::setOpenHook({});
        Desktop::setCopyHook({});
    }
    QList<QUrl> opened;
};

} // namespace

TEST_F(DesktopHooks, CopyTextReplacesTheClipboardEvenWithEmptyText)
{
    QGuiApplication::clipboard()->setText("old");
    Desktop::copyText("http://api.local/users");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "http://api.local/users");
    Desktop::copyText(QString());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "");

    QStringList copied;
    Desktop::setCopyHook([&copied](const QString &text) { copied.append(text); });
    Desktop::copyText("snippet");
    EXPECT_EQ(copied, QStringList{"snippet"});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "") << "a hooked copy must not reach the clipboard";
}

TEST_F(DesktopHooks, OpenersAskForTheRightLocations)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("kestrion-ca.pem");
    EXPECT_TRUE(Desktop::openFile(file));
    EXPECT_TRUE(Desktop::revealFile(file));
    EXPECT_TRUE(Desktop::openUrl(QUrl("https://example.com/docs")));
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(file));
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(dir.path())) << "revealing opens the folder that holds the file";
    EXPECT_EQ(opened[2], QUrl("https://example.com/docs"));

    EXPECT_FALSE(Desktop::openFile(QString()));
    EXPECT_FALSE(Desktop::revealFile(QString()));
    EXPECT_EQ(opened.size(), 3);
}

TEST_F(DesktopHooks, ApplicationOpensOnlyThroughAnExistingFallback)
{
    EXPECT_FALSE(Desktop::openApplication("com.apple.iphonesimulator", "/nonexistent/Simulator.app"));
    EXPECT_TRUE(opened.isEmpty());

    QTemporaryDir dir;
    const QString app = dir.filePath("Simulator.app");
    ASSERT_TRUE(QDir().mkpath(app));
    EXPECT_TRUE(Desktop::openApplication("com.apple.iphonesimulator", app));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(app));
}
