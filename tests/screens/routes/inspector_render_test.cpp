// Renders of the inspector's states in both palettes, with checks of what they must show.
#include "inspector_fixture.h"

#include "design/exact_plain_text_edit.h"
#include "design/choice_chips.h"
#include "design/ks_button.h"
#include "design/snow_slider.h"
#include "design/snow_switch.h"
#include "screens/routes/inspector_logic.h"
#include "screens/routes/response_section.h"
#include "screens/routes/sequence_section.h"

#include <QImage>
#include <QScrollArea>
#include <QTcpServer>

namespace {

struct Theme
{
    const char *name;
    const Palette &palette;
};

const Theme themes[] = {{"light", Palette::light()}, {"dark", Palette::dark()}};

} // namespace

class InspectorRender : public InspectorEngineTest
{
protected:
    QImage render(const QString &name, const Theme &theme, int height = 1500)
    {
        m_host->resize(InspectorView::PanelWidth, height);
        QApplication::processEvents();
        const QString path = testsupport::saveRender(m_host.get(), QStringLiteral("routes"),
                                                     QStringLiteral("inspector-%1-%2").arg(name, theme.name));
        return QImage(path);
    }

    void seedRoutes()
    {
        Endpoint users = inspectorRoute("r-users", 200, R"({"users":[{"id":1,"name":"Ada","admin":true}],"next":null})");
        users.host = "api.acme.dev";
        users.path = "/v1/users/:id";
        Endpoint other = users;
        other.id = "r-other";
        other.method = HTTPMethod::POST;
        Endpoint flaky = inspectorRoute("r-flaky", 503, R"({"error":"busy"})");
        flaky.host = "api.acme.dev";
        flaky.path = "/v1/orders";
        flaky.sequence = {MockStep::make(503, R"({"error":"busy"})"), MockStep::make(200, R"({"ok":true})")};
        flaky.sequence[0].repeatCount = 2;
        flaky.sequence.push_back(MockStep::make(200, ""));
        flaky.sequence[2].override = ErrorOverride::timeout;
        flaky.sequence[2].latency = 1200;
        flaky.seqMode = "loop";
        Endpoint slow = inspectorRoute("r-slow", 500, "");
        slow.host = "api.acme.dev";
        slow.path = "/v1/users/:id";
        slow.latency = 2400;
        slow.override = ErrorOverride::serverError;
        slow.passThrough = true;
        seed({users, other, flaky, slow});
    }
};

TEST_F(InspectorRender, PlainRouteWithItsPathHint)
{
    seedRoutes();
    for (const Theme &theme : themes) {
        InspectorView &inspector = open("r-other", theme.palette);
        EXPECT_TRUE(inspector.pathHint()->isVisible());
        EXPECT_FALSE(inspector.conflictWarning()->isVisible());
        EXPECT_EQ(inspector.latencyValue()->text(), "0ms");
        EXPECT_TRUE(inspector.errorChips(0)->chip(0)->isSelected());
        const QImage image = render(QStringLiteral("plain"), theme);
        ASSERT_FALSE(image.isNull());
        // The panel's ground is the palette's background.
        EXPECT_EQ(image.pixelColor(image.width() - 4, image.height() - 4), theme.palette.background);
    }
}

TEST_F(InspectorRender, OverrideLatencyAndConflict)
{
    seedRoutes();
    for (const Theme &theme : themes) {
        InspectorView &inspector = open("r-slow", theme.palette);
        // The other active GET route has the same host and path.
        EXPECT_TRUE(inspector.conflictWarning()->isVisible());
        EXPECT_FALSE(inspector.pathHint()->isVisible());
        EXPECT_EQ(inspector.latencyValue()->text(), "2400ms");
        EXPECT_EQ(inspector.latencyValue()->color(), InspectorLogic::redInk(theme.palette));
        EXPECT_TRUE(inspector.errorChips(0)->chip(2)->isSelected());
        EXPECT_TRUE(inspector.passThroughSwitch()->isOn());
        render(QStringLiteral("override"), theme, 1000);
    }
    // Switching the other route off removes the warning at once.
    client().toggleEndpoint(QStringLiteral("r-users"));
    EXPECT_FALSE(view().conflictWarning()->isVisible());
    EXPECT_TRUE(view().pathHint()->isVisible());
}

TEST_F(InspectorRender, SequenceCards)
{
    seedRoutes();
    for (const Theme &theme : themes) {
        InspectorView &inspector = open("r-flaky", theme.palette);
        SequenceSection *section = inspector.sequenceSection();
        EXPECT_EQ(section->countText()->text(), "3 steps");
        EXPECT_TRUE(section->modePicker()->chip(1)->isSelected());
        const QList<SequenceStepCard *> cards = section->cards();
        ASSERT_EQ(cards.size(), 3);
        EXPECT_TRUE(cards[2]->dropTag()->isVisible());
        inspector.scrollArea()->verticalScrollBar()->setValue(inspector.scrollArea()->verticalScrollBar()->maximum());
        render(QStringLiteral("sequence"), theme, 1900);
    }
}

TEST_F(InspectorRender, GeneratingWithTheEditorOpen)
{
    seedRoutes();
    // A control port that takes requests and never answers keeps the generation running.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    client().ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(silent.serverPort()) + "\n");
    for (const Theme &theme : themes) {
        InspectorView &inspector = open("r-users", theme.palette);
        ResponseSection *body = inspector.responseSection();
        body->editButton()->trigger();
        body->generateButton()->trigger();
        ASSERT_TRUE(inspector.model()->generating());
        render(QStringLiteral("generating"), theme);
        EXPECT_TRUE(inspector.model()->generating());
        EXPECT_TRUE(body->editor()->isReadOnly());
        EXPECT_TRUE(body->generateButton()->loading());
        EXPECT_TRUE(body->aiButton()->loading());
    }
}
