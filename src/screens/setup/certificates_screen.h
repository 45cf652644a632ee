// The TLS Certificates screen: generate the root CA, trust it here, export it for a device.
#pragma once

#include "app/app_context.h"

#include <QWidget>

class Card;
class CodeBox;
class KSButton;
class PlainButton;
class QGraphicsOpacityEffect;
class QVariantAnimation;
class ShellText;
class SnowTag;
class SnowToast;

class CertificatesScreen final : public QWidget
{
    Q_OBJECT
public:
    explicit CertificatesScreen(const AppContext &context, QWidget *parent = nullptr);

    static const QStringList &steps();

    // The manual trust command is shown.
    bool showManualTrust() const { return m_showManualTrust; }
    void toggleManualTrust();

    // Asks where to save the PEM text and writes it; reveals the file only once it is written.
    void exportCert();
    // Reveals the engine's own CA file.
    void revealCert();

    // For tests and renders.
    KSButton *generateButton() const { return m_generate; }
    KSButton *trustButton() const { return m_trust; }
    KSButton *retrustButton() const { return m_retrust; }
    KSButton *exportButton() const { return m_export; }
    KSButton *revealButton() const { return m_reveal; }
    PlainButton *disclosure() const { return m_disclosure; }
    CodeBox *fingerprintBox() const { return m_fingerprint; }
    CodeBox *manualTrustBox() const { return m_manualBox; }
    SnowToast *trustToast() const { return m_trustToast; }
    SnowToast *exportToast() const { return m_exportToast; }
    SnowTag *statusTag() const { return m_statusTag; }
    qreal trustCardOpacity() const;
    qreal chevronAngle() const;
    QStringList shownTexts() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildRootCard();
    QWidget *buildTrustCard();
    QWidget *buildMacTrustSection();
    QWidget *buildStatusCard();
    void refresh();
    void showExportError(const QString &error);

    AppContext m_context;
    bool m_showManualTrust = false;
    bool m_firstRefresh = true;

    QWidget *m_generatedBox = nullptr;
    CodeBox *m_fingerprint = nullptr;
    ShellText *m_expiry = nullptr;
    KSButton *m_generate = nullptr;

    Card *m_trustCard = nullptr;
    QGraphicsOpacityEffect *m_trustOpacity = nullptr;
    QVariantAnimation *m_fade = nullptr;
    QWidget *m_trustedRow = nullptr;
    KSButton *m_retrust = nullptr;
    QWidget *m_untrustedRow = nullptr;
    KSButton *m_trust = nullptr;
    SnowToast *m_trustToast = nullptr;
    PlainButton *m_disclosure = nullptr;
    class DisclosureChevron *m_chevron = nullptr;
    CodeBox *m_manualBox = nullptr;
    KSButton *m_export = nullptr;
    KSButton *m_reveal = nullptr;
    SnowToast *m_exportToast = nullptr;

    SnowTag *m_statusTag = nullptr;
};
