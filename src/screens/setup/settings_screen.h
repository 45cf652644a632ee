// The settings sheet: appearance, proxy port and auto-start, the local model, the engine, privacy.
#pragma once

#include "app/app_context.h"

#include <QPointer>
#include <QWidget>

class CircleIconButton;
class KSButton;
class QNetworkReply;
class ShellText;
class SnowLoader;
class SnowProgressBar;
class SnowSegmented;
class SnowSwitch;
class SnowTextField;
class StatusLabel;

class SettingsScreen final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int SheetWidth = 560;
    static constexpr int SheetHeight = 600;

    // Loads the local model's status once: each showing of the sheet builds it anew.
    explicit SettingsScreen(const AppContext &context, QWidget *parent = nullptr);
    // A status load still in flight is dropped, so its late answer changes nothing.
    ~SettingsScreen() override;

    // For tests and renders.
    CircleIconButton *closeButton() const { return m_close; }
    SnowSegmented *themePicker() const { return m_theme; }
    SnowTextField *portField() const { return m_port; }
    SnowSwitch *autostartSwitch() const { return m_autostart; }
    SnowSwitch *optInSwitch() const { return m_optIn; }
    StatusLabel *aiStatusLabel() const { return m_aiStatus; }
    StatusLabel *engineStatusLabel() const { return m_engineStatus; }
    KSButton *setupButton() const { return m_setup; }
    KSButton *startModelButton() const { return m_startModel; }
    KSButton *stopModelButton() const { return m_stopModel; }
    KSButton *refreshModelButton() const { return m_refreshModel; }
    SnowProgressBar *setupBar() const { return m_bar; }
    bool aiStatusLoading() const { return !m_aiLoad.isNull(); }
    QStringList shownTexts() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *section(const QString &title, int spacing, QWidget *content);
    QWidget *settingRow(const QString &title, const QString &subtitle, QWidget *trailing, int verticalInset);
    QWidget *buildAppearance();
    QWidget *buildProxy();
    QWidget *buildAI();
    QWidget *buildEngine();
    QWidget *buildPrivacy();
    void portEdited(const QString &text);
    void refreshPort();
    void refreshAI();
    void refreshEngine();
    void loadAIStatus();

    AppContext m_context;
    QPointer<QNetworkReply> m_aiLoad;

    CircleIconButton *m_close = nullptr;
    SnowSegmented *m_theme = nullptr;
    SnowTextField *m_port = nullptr;
    SnowSwitch *m_autostart = nullptr;
    SnowSwitch *m_optIn = nullptr;

    ShellText *m_aiDetail = nullptr;
    StatusLabel *m_aiStatus = nullptr;
    ShellText *m_modelLine = nullptr;
    QWidget *m_progress = nullptr;
    ShellText *m_progressMessage = nullptr;
    ShellText *m_percent = nullptr;
    SnowProgressBar *m_bar = nullptr;
    ShellText *m_bytes = nullptr;
    QWidget *m_offer = nullptr;
    KSButton *m_setup = nullptr;
    QWidget *m_controls = nullptr;
    KSButton *m_startModel = nullptr;
    KSButton *m_stopModel = nullptr;
    KSButton *m_refreshModel = nullptr;

    ShellText *m_engineSubtitle = nullptr;
    StatusLabel *m_engineStatus = nullptr;
    ShellText *m_memory = nullptr;
    ShellText *m_uptime = nullptr;
    ShellText *m_goroutines = nullptr;
};
