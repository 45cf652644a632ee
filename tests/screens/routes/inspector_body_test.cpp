// The response body section: variables, generation from the body and from a prompt, and late answers.
#include "inspector_fixture.h"

#include "design/copy_button.h"
#include "design/ks_button.h"
#include "design/snow_dropdown.h"
#include "design/snow_menu_popup.h"
#include "design/snow_stepper.h"
#include "design/snow_text_field.h"
#include "screens/routes/response_section.h"

#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

TEST_F(InspectorEngineTest, GenerateReplacesTheBodyAndKeepsTheEditorReadOnlyMeanwhile)
{
    seed({inspectorRoute("r-a", 200, R"({"name":"Ada","tags":["x"]})")});
    InspectorView &inspector = open("r-a");
    ResponseSection *body = inspector.responseSection();
    body->editButton()->trigger();
    EXPECT_EQ(body->editButton()->title(), "Done");
    EXPECT_EQ(body->modeText()->text(), "editing");
    EXPECT_FALSE(body->generateButton()->disabled());

    body->generateButton()->trigger();
    EXPECT_TRUE(inspector.model()->generating());
    EXPECT_TRUE(body->editor()->isReadOnly());
    EXPECT_TRUE(body->generateButton()->loading());
    EXPECT_TRUE(body->aiButton()->loading());
    // Typing while the answer is on its way changes nothing.
    QTest::keyClicks(body->editor(), QStringLiteral("zzz"));
    EXPECT_EQ(inspector.model()->bodyText(), R"({"name":"Ada","tags":["x"]})");

    ASSERT_TRUE(testsupport::waitFor([&] { return !inspector.model()->generating(); }));
    EXPECT_FALSE(body->editor()->isReadOnly());
    EXPECT_EQ(inspector.model()->genSeed(), 2);
    const QString generated = inspector.model()->bodyText();
    EXPECT_NE(generated, R"({"name":"Ada","tags":["x"]})");
    EXPECT_TRUE(nlohmann::json::accept(generated.toStdString())) << generated.toStdString();
    EXPECT_EQ(body->editor()->toPlainText(), generated);
    EXPECT_EQ(QString::fromStdString(find("r-a")->body), generated);
    EXPECT_EQ(body->copyButton()->text(), generated);
}

TEST_F(InspectorEngineTest, PromptGenerationWithoutAModelFailsQuietly)
{
    seed({inspectorRoute("r-a", 200, "")});
    InspectorView &inspector = open("r-a");
    ResponseSection *body = inspector.responseSection();
    EXPECT_TRUE(body->generateButton()->disabled());
    EXPECT_EQ(body->generateButton()->toolTip(), "Add a JSON body first to use it as a template");
    EXPECT_EQ(body->emptyText()->text(), "(empty response)");
    EXPECT_TRUE(body->aiButton()->disabled());
    // Return with an empty prompt does nothing.
    QTest::keyClick(body->promptField()->lineEdit(), Qt::Key_Return);
    EXPECT_FALSE(inspector.model()->generating());

    QTest::keyClicks(body->promptField()->lineEdit(), QStringLiteral(" "));
    EXPECT_FALSE(body->aiButton()->disabled());
    QTest::keyClick(body->promptField()->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(inspector.model()->generating());
    ASSERT_TRUE(testsupport::waitFor([&] { return !inspector.model()->generating(); }));
    EXPECT_TRUE(logContains(QStringLiteral("AI generation failed")));
    EXPECT_EQ(inspector.model()->bodyText(), "");
    EXPECT_EQ(inspector.model()->genSeed(), 2);
    EXPECT_FALSE(body->resultLine()->isVisible());
    EXPECT_EQ(body->promptField()->text(), " ");
    opstest::settle(200);
    EXPECT_EQ(m_writes, 1); // the generation request itself, no route post
}

TEST_F(InspectorEngineTest, AnswerForAProjectNoLongerActiveIsDropped)
{
    seed({inspectorRoute("r-a", 200, R"({"id":1})")});
    InspectorView &inspector = open("r-a");
    inspector.responseSection()->generateButton()->trigger();
    client().setActiveProjectID(QStringLiteral("another"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !inspector.model()->generating(); }));
    EXPECT_EQ(inspector.model()->bodyText(), R"({"id":1})");
    EXPECT_EQ(find("r-a")->body, R"({"id":1})");
    EXPECT_EQ(inspector.model()->genSeed(), 2);
}

TEST_F(InspectorEngineTest, VariablesAreAppendedAtTheVeryEnd)
{
    seed({inspectorRoute("r-a", 200, "{\"a\":1}")});
    MockEnvironment env{"env-1", "Dev", {EnvVar{"v1", "token", "abc"}, EnvVar{"v2", "", "x"}, EnvVar{"v3", "base", "y"}}};
    client().setEnvironments({env});
    client().setActiveEnvID(QStringLiteral("env-1"));
    InspectorView &inspector = open("r-a");
    ResponseSection *body = inspector.responseSection();
    ASSERT_TRUE(body->variableMenu()->isVisible());
    EXPECT_TRUE(body->variablesNote()->isVisible());
    const QList<SnowMenuItem> items = body->variableMenu()->menu()->currentItems();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].title, "token");
    EXPECT_EQ(items[1].title, "base");

    body->editButton()->trigger();
    QTextCursor cursor = body->editor()->textCursor();
    cursor.setPosition(1);
    body->editor()->setTextCursor(cursor);
    items[0].action();
    EXPECT_EQ(inspector.model()->bodyText(), "{\"a\":1}{{token}}");
    EXPECT_EQ(body->editor()->toPlainText(), "{\"a\":1}{{token}}");
    // The user's cursor stays where it was.
    EXPECT_EQ(body->editor()->textCursor().position(), 1);
    EXPECT_EQ(find("r-a")->body, "{\"a\":1}{{token}}");

    client().setActiveEnvID(QString());
    EXPECT_FALSE(body->variableMenu()->isVisible());
    EXPECT_FALSE(body->variablesNote()->isVisible());
}

// A control port whose every answer is cut off inside its body.
class CutReplyTest : public InspectorEngineTest
{
};

TEST_F(CutReplyTest, GenerationCutMidBodyLeavesTheBodyAndEndsLoading)
{
    seed({inspectorRoute("r-a", 200, R"({"id":1})")});
    InspectorView &inspector = open("r-a");
    QTcpServer cutter;
    ASSERT_TRUE(cutter.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&cutter, &QTcpServer::newConnection, &cutter, [&cutter] {
        while (QTcpSocket *socket = cutter.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 400\r\n\r\n{\"id\":");
                socket->flush();
                socket->disconnectFromHost();
            });
        }
    });
    // The link now talks to the cutting port instead of the engine.
    client().ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(cutter.serverPort()) + "\n");
    inspector.responseSection()->generateButton()->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return !inspector.model()->generating(); }));
    EXPECT_EQ(inspector.model()->bodyText(), R"({"id":1})");
    EXPECT_EQ(inspector.model()->genSeed(), 2);
    EXPECT_TRUE(logContains(QStringLiteral("mock generation failed")));
    EXPECT_FALSE(inspector.responseSection()->generateButton()->loading());
}
