// The Connected Devices screen: booted simulators, installing the root CA into one, the proxy snippet.
#pragma once

#include "app/app_context.h"
#include "platform/simulator_manager.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class CodeBox;
class KSButton;
class QVBoxLayout;
class SnowEmptyState;
class SnowTag;
class SnowToast;

// One booted simulator: its name, runtime and udid, and "Trust CA" or the "Trusted" mark.
class SimulatorRow final : public QWidget
{
    Q_OBJECT
public:
    SimulatorRow(const Simulator &sim, QWidget *parent = nullptr);

    const Simulator &simulator() const { return m_sim; }
    void setState(bool trusted, bool busy, bool caGenerated);
    KSButton *trustButton() const { return m_trust; }
    SnowTag *trustedTag() const { return m_trusted; }

signals:
    void trustRequested(const Simulator &sim);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Simulator m_sim;
    KSButton *m_trust;
    SnowTag *m_trusted;
};

class DevicesScreen final : public QWidget
{
    Q_OBJECT
public:
    explicit DevicesScreen(const AppContext &context, QWidget *parent = nullptr);

    // For tests and renders.
    QWidget *caHint() const { return m_caHint; }
    KSButton *openCertificatesButton() const { return m_openCertificates; }
    QWidget *refreshButton() const { return m_refresh; }
    SnowEmptyState *emptyState() const { return m_empty; }
    QList<SimulatorRow *> rows() const;
    SnowToast *statusToast() const { return m_toast; }
    CodeBox *snippetBox() const { return m_snippet; }
    QStringList shownTexts() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *buildCard();
    void rebuildRows();
    void refreshRows();
    void refreshState();
    void refreshSnippet();
    QString caFingerprint() const;

    AppContext m_context;
    QWidget *m_caHint = nullptr;
    KSButton *m_openCertificates = nullptr;
    QWidget *m_refresh = nullptr;
    SnowEmptyState *m_empty = nullptr;
    QWidget *m_list = nullptr;
    QVBoxLayout *m_listLayout = nullptr;
    QList<QPointer<SimulatorRow>> m_rows;
    SnowToast *m_toast = nullptr;
    CodeBox *m_snippet = nullptr;
};
