// CertificateAuthority: the engine's root CA, its generation, and trusting it in the user's certificate store.
#pragma once

#include "engine/records/engine_records.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class EngineChannel;

class CertificateAuthority final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;

    explicit CertificateAuthority(EngineChannel *channel, QObject *parent = nullptr);

    const std::optional<CAInfo> &info() const { return m_info; }
    void setInfo(const std::optional<CAInfo> &info);
    bool trustedOnMac() const { return m_trustedOnMac; }
    void setTrustedOnMac(bool trusted);
    const std::optional<QString> &trustMessage() const { return m_trustMessage; }
    void setTrustMessage(const std::optional<QString> &message);

    void load(Done done = {});
    // Trusted when the stored fingerprint is the current CA's.
    void refreshTrustFlag();
    void generate(Done done = {});
    // Runs the trust tool on the current CA; done runs when its outcome is recorded.
    void trust(Done done = {});
    // The arguments of the trust tool for a CA file.
    static QStringList trustArguments(const QString &caPath);

signals:
    void infoChanged();
    void trustedOnMacChanged();
    void trustMessageChanged();
    // The trust tool succeeded.
    void trusted();

private:
    EngineChannel *m_channel;
    std::optional<CAInfo> m_info;
    bool m_trustedOnMac = false;
    std::optional<QString> m_trustMessage;
};
