// The response sequence section and its step cards.
#include "screens/routes/sequence_section.h"

#include "design/badges.h"
#include "design/card_surface.h"
#include "design/choice_chips.h"
#include "design/code_text_field.h"
#include "design/code_text_view.h"
#include "design/exact_plain_text_edit.h"
#include "design/fonts.h"
#include "design/growing_text_field.h"
#include "design/ks_button.h"
#include "design/mini_field.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_switch.h"
#include "screens/routes/inspector_logic.h"
#include "screens/routes/inspector_model.h"
#include "screens/routes/response_section.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

ColorRole muted()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

} // namespace

// ---- SequenceStepCard ----

SequenceStepCard::SequenceStepCard(InspectorModel *model, const std::string &stepID, QWidget *parent)
    : QWidget(parent), m_model(model), m_stepID(stepID)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    m_title = new ShellText({}, Fonts::inter(11, QFont::Medium), muted(), this);
    header->addWidget(m_title);
    m_drop = new SnowTag(QStringLiteral("DROP"), SnowTag::Tone::error, {}, true, this);
    header->addWidget(m_drop);
    m_chip = new StatusChip(200, true, this);
    header->addWidget(m_chip);
    header->addStretch(1);
    m_delete = new GhostIconButton(QStringLiteral("trash"), 24, 12, std::nullopt, [this] {
        m_model->deleteStep(m_stepID);
    }, this);
    header->addWidget(m_delete);
    column->addLayout(header);

    auto *numbers = new QHBoxLayout;
    numbers->setSpacing(8);
    m_status = new MiniField(QStringLiteral("Status"), 200, 64, this);
    numbers->addWidget(m_status, 0, Qt::AlignVCenter);
    m_latency = new MiniField(QStringLiteral("Latency ms"), 0, std::nullopt, this);
    numbers->addWidget(m_latency, 1, Qt::AlignVCenter);
    column->addLayout(numbers);

    auto *repeatRow = new QHBoxLayout;
    repeatRow->setSpacing(8);
    m_repeat = new MiniField(QStringLiteral("Repeat"), 1, 64, this);
    repeatRow->addWidget(m_repeat, 0, Qt::AlignTop);
    repeatRow->addStretch(1);
    auto *dropColumn = new QVBoxLayout;
    dropColumn->setSpacing(6);
    auto *dropLabel = new ShellText(QStringLiteral("Drop conn"), Fonts::inter(11, QFont::Medium), muted(), this);
    dropLabel->setElideMode(Qt::ElideNone);
    dropColumn->addWidget(dropLabel);
    m_dropSwitch = new SnowSwitch(this);
    dropColumn->addWidget(m_dropSwitch);
    repeatRow->addLayout(dropColumn);
    repeatRow->setAlignment(dropColumn, Qt::AlignTop);
    column->addLayout(repeatRow);

    m_body = new GrowingTextField(this);
    m_body->setPlaceholder(QStringLiteral("response body"));
    column->addWidget(m_body);

    // Each field writes into the step it was made for, by id, and then shows the value as saved (clamped),
    // also when the clamp left the step as it was.
    connect(m_status, &MiniField::valueCommitted, this, [this](int v) {
        m_model->setStepStatus(m_stepID, v);
        showSaved();
    });
    connect(m_latency, &MiniField::valueCommitted, this, [this](int v) {
        m_model->setStepLatency(m_stepID, v);
        showSaved();
    });
    connect(m_repeat, &MiniField::valueCommitted, this, [this](int v) {
        m_model->setStepRepeat(m_stepID, v);
        showSaved();
    });
    connect(m_dropSwitch, &SnowSwitch::toggled, this,
            [this](bool on) { m_model->setStepDropsConnection(m_stepID, on); });
    connect(m_body, &GrowingTextField::textEdited, this,
            [this](const QString &text) { m_model->setStepBody(m_stepID, text); });
    // A paste that would hold up the box goes into the box that lays out only the lines in view.
    m_body->editor()->setPasteHandOver(&ResponseSection::needsLineEditor);
    connect(m_body->editor(), &ExactPlainTextEdit::pasteHandedOver, this, &SequenceStepCard::pasteByLine);
}

void SequenceStepCard::showStep(int index, const MockStep &step)
{
    m_title->setText(QStringLiteral("Step ") + QString::number(index + 1));
    const bool drops = step.override == ErrorOverride::timeout;
    m_drop->setVisible(drops);
    m_chip->setVisible(!drops);
    m_chip->setStatus(step.status);
    m_status->setValue(step.status);
    m_status->setDisabled(drops);
    m_latency->setValue(step.latency);
    m_repeat->setValue(step.repeatCount);
    m_dropSwitch->setOn(drops);
    // Hidden, not cleared: the body comes back unchanged when the switch is turned off.
    if (m_bodyWaiting)
        return;
    if (m_firstShow && qsizetype(step.body.size()) > ResponseSection::LongBodyLimit) {
        // A new card takes a long body a turn later: adding the step and laying out its body are then two
        // short waits of the window rather than one long one.
        m_bodyWaiting = true;
        m_body->hide();
        QTimer::singleShot(1, this, [this] {
            m_bodyWaiting = false;
            if (const MockStep *saved = m_model->step(m_stepID))
                showBody(QString::fromStdString(saved->body), saved->override != ErrorOverride::timeout);
        });
    } else {
        showBody(QString::fromStdString(step.body), !drops);
    }
    m_firstShow = false;
}

void SequenceStepCard::showBody(const QString &body, bool shown)
{
    // A long body, or one with a very long line, goes in a box that lays out only the lines in view; the box
    // being typed in keeps the text whatever its shape.
    const bool byLine = m_lineBody && m_lineBody->isFocused() ? true
                      : m_body->isFocused()                     ? false
                                                                : ResponseSection::needsLineEditor(body);
    if (byLine)
        ensureLineBody();
    m_body->setText(byLine ? QString() : body);
    m_body->setVisible(shown && !byLine);
    if (m_lineBody) {
        m_lineBody->setText(byLine ? body : QString());
        m_lineBody->setVisible(shown && byLine);
    }
}

CodeTextField *SequenceStepCard::ensureLineBody()
{
    if (!m_lineBody) {
        m_lineBody = new CodeTextField(m_body->maxLines(), this);
        m_lineBody->setPlaceholder(m_body->placeholder());
        layout()->addWidget(m_lineBody);
        connect(m_lineBody, &CodeTextField::textEdited, this,
                [this](const QString &text) { m_model->setStepBody(m_stepID, text); });
    }
    return m_lineBody;
}

void SequenceStepCard::pasteByLine(qsizetype from, qsizetype to, const QString &text)
{
    CodeTextView *view = ensureLineBody()->view();
    view->setText(m_body->text());
    view->setCursorPosition(from);
    view->setCursorPosition(to, true);
    m_lineBody->show();
    m_body->hide();
    m_body->setText({});
    view->setFocus();
    view->insertText(text);
}

void SequenceStepCard::showSaved()
{
    if (const MockStep *step = m_model->step(m_stepID))
        showStep(m_model->stepIndex(m_stepID), *step);
}

void SequenceStepCard::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paintPanelStyle(p, QRectF(rect()), Palette::of(this), 12);
}

// ---- SequenceSection ----

SequenceSection::SequenceSection(InspectorModel *model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    header->addWidget(
        new ShellText(QStringLiteral("Response sequence"), Fonts::inter(11, QFont::Medium), muted(), this));
    header->addStretch(1);
    m_count = new ShellText({}, Fonts::ksCodeSm(), muted(), this);
    header->addWidget(m_count);
    column->addLayout(header);

    m_emptyNote = new ShellText(
        QStringLiteral("Serve different responses on successive requests — e.g. fail once, then recover."),
        Fonts::inter(11), muted(), this);
    m_emptyNote->setWrap(true);
    column->addWidget(m_emptyNote);
    m_activeNote = new ShellText(QStringLiteral("Active — overrides the static response above."), Fonts::inter(11),
                                 [](const Palette &p) { return InspectorLogic::activeNoteColor(p); }, this);
    m_activeNote->setWrap(true);
    column->addWidget(m_activeNote);
    m_modes = new ChoiceChips(this);
    m_modes->setItems({{QStringLiteral("sticky"), QStringLiteral("Stop at last"), std::nullopt},
                       {QStringLiteral("loop"), QStringLiteral("Loop"), std::nullopt}});
    connect(m_modes, &ChoiceChips::selectionEdited, this,
            [this](const QVariant &value) { m_model->setSeqMode(value.toString()); });
    column->addWidget(m_modes, 0, Qt::AlignLeft);
    m_cardColumn = new QVBoxLayout;
    m_cardColumn->setContentsMargins(0, 0, 0, 0);
    m_cardColumn->setSpacing(12);
    column->addLayout(m_cardColumn);

    m_add = new KSButton(QStringLiteral("Add step"), QStringLiteral("plus"), KSButton::Variant::secondary,
                         KSButton::Size::sm, true, false, false, [this] { m_model->addStep(); }, this);
    column->addWidget(m_add);

    connect(model, &InspectorModel::fieldChanged, this, [this](InspectorModel::Field field) {
        if (field == InspectorModel::Field::sequence)
            showSequence();
        else if (field == InspectorModel::Field::seqMode)
            showMode();
    });
    showSequence();
    showMode();
}

QList<SequenceStepCard *> SequenceSection::cards() const
{
    QList<SequenceStepCard *> list;
    for (int i = 0; i < m_cardColumn->count(); ++i) {
        if (auto *card = qobject_cast<SequenceStepCard *>(m_cardColumn->itemAt(i)->widget()))
            list.append(card);
    }
    return list;
}

void SequenceSection::showSequence()
{
    const std::vector<MockStep> &steps = m_model->sequence();
    const bool any = !steps.empty();
    m_count->setVisible(any);
    m_count->setText(InspectorLogic::stepCountText(qsizetype(steps.size())));
    m_emptyNote->setVisible(!any);
    m_activeNote->setVisible(any);
    m_modes->setVisible(any);

    std::map<std::string, SequenceStepCard *> kept;
    QList<SequenceStepCard *> ordered;
    for (const MockStep &step : steps) {
        SequenceStepCard *card = nullptr;
        if (auto it = m_cards.find(step.id); it != m_cards.end()) {
            card = it->second;
            m_cards.erase(it);
        } else {
            card = new SequenceStepCard(m_model, step.id, this);
        }
        kept[step.id] = card;
        ordered.append(card);
    }
    for (auto &[id, card] : m_cards) {
        m_cardColumn->removeWidget(card);
        card->hide();
        card->deleteLater();
    }
    m_cards = std::move(kept);

    // The layout is touched only when the order of the cards changed.
    if (cards() != ordered) {
        for (SequenceStepCard *card : ordered)
            m_cardColumn->removeWidget(card);
        for (SequenceStepCard *card : ordered)
            m_cardColumn->addWidget(card);
    }
    for (int i = 0; i < ordered.size(); ++i) {
        ordered[i]->showStep(i, steps[std::size_t(i)]);
        ordered[i]->setVisible(true);
    }
}

void SequenceSection::showMode()
{
    m_modes->setSelection(m_model->seqMode());
}
