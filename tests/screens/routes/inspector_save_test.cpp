// A body of megabytes pasted into the inspector reaches the engine whole: the route list past 4 MB is saved.
#include "inspector_fixture.h"

#include "design/ks_button.h"
#include "screens/routes/response_section.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

TEST_F(InspectorEngineTest, AOneLineBodyOfMegabytesPastedIntoTheEditorIsSavedByTheEngine)
{
    seed({inspectorRoute("r-paste", 200, "{}")});
    QSignalSpy notices(&client(), &EngineClient::notice);
    InspectorView &inspector = open("r-paste");
    ResponseSection *body = inspector.responseSection();
    ASSERT_TRUE(testsupport::waitFor([&] { return body->bodyShown(); }));
    body->editButton()->trigger();
    QPlainTextEdit *editor = body->editor();
    ASSERT_NE(editor, nullptr);

    // 3.6 MB of one-line JSON; with its quotes escaped the route list is about 4.3 MB.
    std::string pasted = "[";
    while (pasted.size() < 3600 * 1000)
        pasted += R"({"id":1,"name":"User"},)";
    pasted.back() = ']';
    QApplication::clipboard()->setText(QString::fromStdString(pasted));
    editor->setFocus();
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(inspector.model()->bodyBytes(), qsizetype(pasted.size()));

    ASSERT_TRUE(testsupport::waitFor([this] { return !client().routePushPending(); }, 30000));
    EXPECT_EQ(notices.count(), 0);
    EXPECT_EQ(routeIn(engineRoutes(), "r-paste")["body"].get<std::string>(), pasted);
}
