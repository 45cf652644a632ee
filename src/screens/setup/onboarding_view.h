// The first-run setup sheet: trust the root CA, start the proxy with demo routes, send a request.
#pragma once

#include "app/app_context.h"

#include <QWidget>

#include <functional>

class CodeBox;
class CodeText;
class KSButton;
class QScrollArea;
class ShellText;

class OnboardingView final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int SheetWidth = 540;
    static constexpr int SheetHeight = 560;

    // onFinish runs once, before the sheet closes, when the user leaves by a finish action. Escape closes
    // the sheet without it, so the sheet comes back at the next launch.
    OnboardingView(const AppContext &context, std::function<void()> onFinish, QWidget *parent = nullptr);

    // "Skip for now", "Done", "Open Live Traffic": the finish action, then the sheet closes.
    void finish();
    // "Start proxy + demo routes": starts the proxy and adds the demo routes beside the user's, as soon as the
    // route load has said what those are.
    void startProxyWithDemoRoutes();

    // For tests and renders.
    KSButton *skipButton() const { return m_skip; }
    KSButton *doneButton() const { return m_done; }
    KSButton *generateButton() const { return m_generate; }
    KSButton *trustButton() const { return m_trust; }
    KSButton *startButton() const { return m_start; }
    KSButton *liveTrafficButton() const { return m_liveTraffic; }
    QString curlCommand() const;
    // Whether step n (1 to 3) shows its check mark.
    bool stepDone(int step) const;
    QStringList shownTexts() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildStep(int number, const QString &title, const QString &detail, QWidget *content);
    QWidget *buildTrustContent();
    QWidget *buildProxyContent();
    QWidget *buildRequestContent();
    QWidget *buildFooter();
    void refresh();
    void addDemoRoutes();

    AppContext m_context;
    std::function<void()> m_onFinish;
    bool m_finished = false;
    bool m_demoRoutesWanted = false;

    class StepBadge *m_badges[3] = {};
    QWidget *m_connecting = nullptr;
    KSButton *m_generate = nullptr;
    QWidget *m_trustRow = nullptr;
    KSButton *m_trust = nullptr;
    QWidget *m_trustDone = nullptr;
    QWidget *m_errorBanner = nullptr;
    ShellText *m_errorText = nullptr;
    KSButton *m_start = nullptr;
    QWidget *m_proxyDone = nullptr;
    ShellText *m_proxyDoneText = nullptr;
    CodeText *m_curl = nullptr;
    class CopyButton *m_curlCopy = nullptr;
    KSButton *m_liveTraffic = nullptr;
    KSButton *m_skip = nullptr;
    KSButton *m_done = nullptr;
};
