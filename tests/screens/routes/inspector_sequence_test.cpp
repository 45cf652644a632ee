// Response sequences: steps bound by id, the first step's seed, clamps on save and the wire's omissions.
#include "inspector_fixture.h"

#include "design/badges.h"
#include "design/choice_chips.h"
#include "design/growing_text_field.h"
#include "design/ks_button.h"
#include "design/mini_field.h"
#include "design/snow_switch.h"
#include "screens/routes/sequence_section.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

namespace {

// Route r-a with one step, s-1, whose body is `body`.
Endpoint routeWithStepBody(const std::string &body)
{
    Endpoint route = inspectorRoute("r-a");
    MockStep step;
    step.id = "s-1";
    step.body = body;
    route.sequence = {step};
    return route;
}

void commit(MiniField *field, const QString &text)
{
    typeOver(field->lineEdit(), text);
    QTest::keyClick(field->lineEdit(), Qt::Key_Return);
}

} // namespace

TEST_F(InspectorEngineTest, DeletingStepAWithAnEditPendingInCLandsTheValueOnC)
{
    seed({inspectorRoute("r-a")});
    InspectorView &inspector = open("r-a");
    SequenceSection *section = inspector.sequenceSection();
    for (int i = 0; i < 3; ++i)
        section->addButton()->trigger();
    const std::vector<MockStep> steps = inspector.model()->sequence();
    ASSERT_EQ(steps.size(), 3u);
    QList<SequenceStepCard *> cards = section->cards();
    SequenceStepCard *cardC = cards[2];
    typeOver(cardC->statusField()->lineEdit(), QStringLiteral("503"));

    cards[0]->deleteButton()->trigger();
    cards = section->cards();
    ASSERT_EQ(cards.size(), 2);
    // The card of C is the same widget, renumbered, its typing intact.
    EXPECT_EQ(cards[1], cardC);
    EXPECT_EQ(cardC->title()->text(), "Step 2");
    EXPECT_EQ(cardC->statusField()->lineEdit()->text(), "503");
    QTest::keyClick(cardC->statusField()->lineEdit(), Qt::Key_Return);

    const std::vector<MockStep> &saved = find("r-a")->sequence;
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].id, steps[1].id);
    EXPECT_EQ(saved[0].status, 200);
    EXPECT_EQ(saved[1].id, steps[2].id);
    EXPECT_EQ(saved[1].status, 503);
    EXPECT_EQ(section->countText()->text(), "2 steps");
}

TEST_F(InspectorEngineTest, FirstStepTakesTheSavedStatusAndTheBodyBeingEdited)
{
    seed({inspectorRoute("r-a", 404, "{}"), inspectorRoute("r-zero", 0, "")});
    InspectorView &inspector = open("r-a");
    SequenceSection *section = inspector.sequenceSection();
    EXPECT_TRUE(section->emptyNote()->isVisible());
    EXPECT_FALSE(section->countText()->isVisible());
    EXPECT_FALSE(section->modePicker()->isVisible());

    // The status field holds an uncommitted 500: the step still takes the saved 404.
    typeOver(inspector.statusField()->lineEdit(), QStringLiteral("500"));
    section->addButton()->trigger();
    section->addButton()->trigger();
    const std::vector<MockStep> &steps = inspector.model()->sequence();
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].status, 404);
    EXPECT_EQ(steps[0].body, "{}");
    EXPECT_EQ(steps[0].latency, 0);
    EXPECT_EQ(steps[0].override, ErrorOverride::ok);
    EXPECT_EQ(steps[0].repeatCount, 1);
    EXPECT_EQ(steps[1].status, 200);
    EXPECT_EQ(steps[1].body, "");
    EXPECT_NE(steps[0].id, steps[1].id);
    EXPECT_FALSE(section->emptyNote()->isVisible());
    EXPECT_TRUE(section->activeNote()->isVisible());
    EXPECT_EQ(section->countText()->text(), "2 steps");
    SequenceStepCard *first = section->cards()[0];
    EXPECT_EQ(first->statusChip()->status(), 404);
    EXPECT_TRUE(first->statusChip()->injected());
    EXPECT_EQ(first->latencyField()->value(), 0);
    EXPECT_EQ(first->repeatField()->value(), 1);
    EXPECT_EQ(first->bodyField()->text(), "{}");

    open("r-zero");
    view().sequenceSection()->addButton()->trigger();
    EXPECT_EQ(view().model()->sequence()[0].status, 200);
    EXPECT_EQ(view().model()->sequence()[0].body, "");
    EXPECT_EQ(view().sequenceSection()->countText()->text(), "1 steps");
}

TEST_F(InspectorEngineTest, StepValuesAreClampedOnCommitAndShownAsSavedWithDefaultsLeftOffTheWire)
{
    seed({inspectorRoute("r-a")});
    InspectorView &inspector = open("r-a");
    SequenceSection *section = inspector.sequenceSection();
    section->addButton()->trigger();
    section->addButton()->trigger();
    section->addButton()->trigger();
    QList<SequenceStepCard *> cards = section->cards();
    commit(cards[0]->statusField(), QStringLiteral("999"));
    commit(cards[0]->latencyField(), QStringLiteral("-5"));
    commit(cards[0]->repeatField(), QStringLiteral("-5"));
    commit(cards[1]->latencyField(), QStringLiteral("250"));
    commit(cards[1]->repeatField(), QStringLiteral("3"));
    QTest::mouseClick(cards[2]->dropSwitch(), Qt::LeftButton);
    emit section->modePicker()->selectionEdited(QStringLiteral("loop"));

    // Once committed, the card and its chip show the value as saved, the value the engine serves.
    EXPECT_EQ(cards[0]->statusField()->lineEdit()->text(), "599");
    EXPECT_EQ(cards[0]->statusChip()->status(), 599);
    EXPECT_EQ(cards[0]->latencyField()->lineEdit()->text(), "0");
    EXPECT_EQ(cards[0]->repeatField()->lineEdit()->text(), "1");
    EXPECT_EQ(inspector.model()->sequence()[0].repeatCount, 1);
    // Also when the clamp leaves the step as it already was.
    commit(cards[0]->statusField(), QStringLiteral("1000"));
    EXPECT_EQ(cards[0]->statusField()->lineEdit()->text(), "599");
    EXPECT_EQ(cards[0]->statusField()->value(), 599);
    commit(cards[0]->repeatField(), QStringLiteral("0"));
    EXPECT_EQ(cards[0]->repeatField()->lineEdit()->text(), "1");
    // A dropped connection shows DROP, disables only the status and hides the body.
    EXPECT_TRUE(cards[2]->dropTag()->isVisible());
    EXPECT_FALSE(cards[2]->statusChip()->isVisible());
    EXPECT_FALSE(cards[2]->statusField()->isEnabled());
    EXPECT_TRUE(cards[2]->latencyField()->isEnabled());
    EXPECT_FALSE(cards[2]->bodyField()->isVisible());

    const std::vector<MockStep> &saved = find("r-a")->sequence;
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].status, 599);
    EXPECT_EQ(saved[0].latency, 0);
    EXPECT_EQ(saved[0].repeatCount, 1);

    ASSERT_TRUE(settled());
    const nlohmann::json route = routeIn(engineRoutes(), "r-a");
    const nlohmann::json expected = nlohmann::json::parse(R"([
        {"status": 599, "body": "{}"},
        {"status": 200, "body": "", "latencyMs": 250, "repeat": 3},
        {"status": 200, "body": "", "override": "timeout"}
    ])");
    EXPECT_EQ(route["sequence"], expected) << route.dump();
    EXPECT_EQ(route["seqMode"], "loop");

    // Deleting every step sends the route without a sequence or mode; adding one brings the mode back.
    for (SequenceStepCard *card : section->cards())
        card->deleteButton()->trigger();
    EXPECT_TRUE(section->emptyNote()->isVisible());
    ASSERT_TRUE(settled());
    const nlohmann::json bare = routeIn(engineRoutes(), "r-a");
    EXPECT_FALSE(bare.contains("sequence")) << bare.dump();
    EXPECT_FALSE(bare.contains("seqMode")) << bare.dump();
    section->addButton()->trigger();
    EXPECT_EQ(section->modePicker()->selection(), QStringLiteral("loop"));
}

TEST_F(InspectorEngineTest, DropSwitchHidesTheBodyWithoutClearingIt)
{
    Endpoint route = inspectorRoute("r-a");
    route.sequence = {MockStep::make(201, "first"), MockStep::make(202, "second")};
    route.sequence[1].override = ErrorOverride::notFound;
    route.seqMode = "random";
    seed({route});
    InspectorView &inspector = open("r-a");
    SequenceSection *section = inspector.sequenceSection();
    // A mode other than the two chips selects none and is kept.
    EXPECT_FALSE(section->modePicker()->chip(0)->isSelected());
    EXPECT_FALSE(section->modePicker()->chip(1)->isSelected());
    SequenceStepCard *second = section->cards()[1];
    EXPECT_FALSE(second->dropSwitch()->isOn());
    second->bodyField()->editor()->moveCursor(QTextCursor::End);
    QTest::keyClicks(second->bodyField()->editor(), QStringLiteral("!"));
    EXPECT_EQ(find("r-a")->sequence[1].body, "second!");
    QTest::mouseClick(second->dropSwitch(), Qt::LeftButton);
    QTest::mouseClick(second->dropSwitch(), Qt::LeftButton);
    EXPECT_EQ(find("r-a")->sequence[1].override, ErrorOverride::ok);
    EXPECT_TRUE(second->bodyField()->isVisible());
    EXPECT_EQ(second->bodyField()->text(), "second!");
    EXPECT_EQ(find("r-a")->seqMode, "random");
}

// A step's body keeps its CRLF and LF line ends through edits in its box; a new line takes the end of the
// line it splits.
TEST_F(InspectorEngineTest, StepBodyKeepsItsLineEnds)
{
    seed({routeWithStepBody("a\r\nb\nc")});
    InspectorView &inspector = open("r-a");
    SequenceStepCard *card = inspector.sequenceSection()->cards()[0];
    QPlainTextEdit *box = card->bodyField()->editor();
    EXPECT_EQ(box->toPlainText(), "a\nb\nc");
    box->moveCursor(QTextCursor::End);
    QTest::keyClicks(box, QStringLiteral("!"));
    EXPECT_EQ(inspector.model()->sequence()[0].body, "a\r\nb\nc!");
    box->moveCursor(QTextCursor::Start);
    box->moveCursor(QTextCursor::EndOfLine);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(inspector.model()->sequence()[0].body, "a\r\n\r\nb\nc!");
    box->moveCursor(QTextCursor::End);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(inspector.model()->sequence()[0].body, "a\r\n\r\nb\nc!\n");
    ASSERT_TRUE(settled());
    EXPECT_EQ(routeIn(engineRoutes(), "r-a")["sequence"][0]["body"].get<std::string>(), "a\r\n\r\nb\nc!\n");
}

// A step's body box shows its body's lines as drawn: a line that wraps counts each piece.
TEST_F(InspectorEngineTest, StepBodyBoxGrowsWithAWrappedLine)
{
    const std::string body = "{\"name\":\"Ad\",\"email\":\"ada@example.com\",\"tags\":[\"a\",\"b\"],\"n\":0";
    seed({routeWithStepBody(body)});
    InspectorView &inspector = open("r-a");
    GrowingTextField *box = inspector.sequenceSection()->cards()[0]->bodyField();
    QApplication::processEvents();
    QPlainTextEdit *editor = box->editor();
    const int lineHeight = QFontMetrics(editor->font()).lineSpacing();
    // The body has no spaces: it wraps at any character, a line every `columns` of them.
    const int columns = editor->viewport()->width() / QFontMetrics(editor->font()).horizontalAdvance(QLatin1Char('M'));
    const int drawn = int((body.size() + columns - 1) / columns);
    ASSERT_GT(drawn, 1);
    EXPECT_EQ(box->height(), std::min(drawn, 4) * lineHeight + 2 * GrowingTextField::VerticalInset);
    // The card grows around the box.
    SequenceStepCard *card = inspector.sequenceSection()->cards()[0];
    EXPECT_TRUE(testsupport::waitFor([&] { return box->geometry().bottom() < card->height() - 8; }))
        << box->geometry().bottom() << " " << card->height();
    inspector.scrollArea()->ensureWidgetVisible(box);
    QApplication::processEvents();
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-step-body-wrapped"));
}
