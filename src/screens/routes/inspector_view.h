// The route inspector: header bar with the saved route and its actions, and the editing sections.
#pragma once

#include "app/app_context.h"
#include "design/snow_menu_item.h"
#include "engine/records/route_records.h"
#include "screens/routes/inspector_model.h"

#include <QList>
#include <QWidget>

class ChoiceChips;
class GhostIconButton;
class MethodBadge;
class MiniField;
class QScrollArea;
class ResponseSection;
class SequenceSection;
class ShellText;
class SnowText;
class SnowDropdown;
class SnowSelect;
class SnowSlider;
class SnowSwitch;
class SnowTextField;
class StatusChip;

// No Save button: every change is saved as it is made (InspectorModel). Built for one route of the active
// project; it can also stand alone at a fixed size.
class InspectorView final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int PanelWidth = 300;
    static constexpr int HeaderHeight = 48;

    InspectorView(const AppContext &context, const Endpoint &route, QWidget *parent = nullptr);
    ~InspectorView() override;

    InspectorModel *model() const { return m_model; }
    // The header menu's entries, built fresh for each opening.
    QList<SnowMenuItem> routeActions();
    // Commits numbers typed into the status and step fields and not yet committed, into this route only.
    void commitPendingEdits();
    // What the close button does.
    void close();

    // ---- Parts, for tests and renders ----
    MethodBadge *headerBadge() const { return m_badge; }
    SnowText *headerTitle() const { return m_title; }
    StatusChip *headerChip() const { return m_chip; }
    SnowDropdown *actionsMenu() const { return m_actions; }
    GhostIconButton *closeButton() const { return m_close; }
    SnowSelect *methodSelect() const { return m_method; }
    MiniField *statusField() const { return m_status; }
    SnowTextField *hostField() const { return m_host; }
    SnowTextField *pathField() const { return m_path; }
    ShellText *hostLabel() const { return m_hostLabel; }
    ShellText *pathLabel() const { return m_pathLabel; }
    QWidget *conflictWarning() const { return m_conflict; }
    ShellText *pathHint() const { return m_pathHint; }
    SnowSwitch *enableMockSwitch() const { return m_enableMock; }
    SnowSwitch *passThroughSwitch() const { return m_passThroughSwitch; }
    ShellText *latencyValue() const { return m_latencyValue; }
    SnowSlider *latencySlider() const { return m_slider; }
    ChoiceChips *errorChips(int row) const { return row == 0 ? m_errorsTop : m_errorsBottom; }
    ResponseSection *responseSection() const { return m_response; }
    SequenceSection *sequenceSection() const { return m_sequence; }
    QScrollArea *scrollArea() const { return m_scroll; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *buildHeaderBar();
    QWidget *buildRequestSection();
    QWidget *buildToggles();
    QWidget *buildLatencySection();
    QWidget *buildErrorSection();
    QWidget *labeledField(const QString &label, SnowTextField *&field, ShellText *&labelText,
                          const QString &placeholder);
    QList<SnowMenuItem> methodItems();

    void showEndpoint();
    void showField(InspectorModel::Field field);
    void showRequestNotes();
    void showLatency();
    void duplicateRoute();
    void deleteRoute();

    AppContext m_context;
    InspectorModel *m_model;

    MethodBadge *m_badge = nullptr;
    SnowText *m_title = nullptr;
    StatusChip *m_chip = nullptr;
    SnowDropdown *m_actions = nullptr;
    GhostIconButton *m_close = nullptr;
    SnowSelect *m_method = nullptr;
    MiniField *m_status = nullptr;
    SnowTextField *m_host = nullptr;
    SnowTextField *m_path = nullptr;
    ShellText *m_hostLabel = nullptr;
    ShellText *m_pathLabel = nullptr;
    QWidget *m_conflict = nullptr;
    ShellText *m_pathHint = nullptr;
    SnowSwitch *m_enableMock = nullptr;
    SnowSwitch *m_passThroughSwitch = nullptr;
    ShellText *m_latencyValue = nullptr;
    SnowSlider *m_slider = nullptr;
    ChoiceChips *m_errorsTop = nullptr;
    ChoiceChips *m_errorsBottom = nullptr;
    ResponseSection *m_response = nullptr;
    SequenceSection *m_sequence = nullptr;
    QScrollArea *m_scroll = nullptr;
};
