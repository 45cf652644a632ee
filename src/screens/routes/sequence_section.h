// The inspector's response sequence: the step cards, the mode picker and "Add step".
#pragma once

#include <QWidget>

#include <map>
#include <string>

class ChoiceChips;
class CodeTextField;
class GhostIconButton;
class GrowingTextField;
class InspectorModel;
class KSButton;
class MiniField;
class QVBoxLayout;
class ShellText;
class SnowSwitch;
class SnowTag;
class StatusChip;
struct MockStep;

// One step of the sequence, bound to its step by id: every edit and the delete go to that step wherever
// it now stands in the list.
class SequenceStepCard final : public QWidget
{
    Q_OBJECT
public:
    SequenceStepCard(InspectorModel *model, const std::string &stepID, QWidget *parent = nullptr);

    const std::string &stepID() const { return m_stepID; }
    // Shows the step at its current position; text being typed stays.
    void showStep(int index, const MockStep &step);

    ShellText *title() const { return m_title; }
    SnowTag *dropTag() const { return m_drop; }
    StatusChip *statusChip() const { return m_chip; }
    GhostIconButton *deleteButton() const { return m_delete; }
    MiniField *statusField() const { return m_status; }
    MiniField *latencyField() const { return m_latency; }
    MiniField *repeatField() const { return m_repeat; }
    SnowSwitch *dropSwitch() const { return m_dropSwitch; }
    GrowingTextField *bodyField() const { return m_body; }
    // The body box of a body with a very long line, in place of bodyField (none until such a body is shown).
    CodeTextField *lineBodyField() const { return m_lineBody; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void showSaved();
    void showBody(const QString &body, bool shown);
    CodeTextField *ensureLineBody();
    // A paste too long for the body field, made in the box that lays out only the lines in view.
    void pasteByLine(qsizetype from, qsizetype to, const QString &text);

    InspectorModel *m_model;
    std::string m_stepID;
    ShellText *m_title;
    SnowTag *m_drop;
    StatusChip *m_chip;
    GhostIconButton *m_delete;
    MiniField *m_status;
    MiniField *m_latency;
    MiniField *m_repeat;
    SnowSwitch *m_dropSwitch;
    GrowingTextField *m_body;
    CodeTextField *m_lineBody = nullptr;
    bool m_firstShow = true;
    // A long body waits a turn before the new card takes it.
    bool m_bodyWaiting = false;
};

class SequenceSection final : public QWidget
{
    Q_OBJECT
public:
    explicit SequenceSection(InspectorModel *model, QWidget *parent = nullptr);

    ShellText *countText() const { return m_count; }
    ShellText *emptyNote() const { return m_emptyNote; }
    ShellText *activeNote() const { return m_activeNote; }
    ChoiceChips *modePicker() const { return m_modes; }
    KSButton *addButton() const { return m_add; }
    // The cards in list order.
    QList<SequenceStepCard *> cards() const;

private:
    // Keeps one card per step id: cards of steps still listed are kept (focus and typing survive),
    // cards of removed steps go, new steps get new cards, and the order follows the list.
    void showSequence();
    void showMode();

    InspectorModel *m_model;
    ShellText *m_count;
    ShellText *m_emptyNote;
    ShellText *m_activeNote;
    ChoiceChips *m_modes;
    QVBoxLayout *m_cardColumn;
    KSButton *m_add;
    std::map<std::string, SequenceStepCard *> m_cards;
};
