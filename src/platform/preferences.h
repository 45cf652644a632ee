// The user's preferences (the "ks." keys) over one QSettings store that tests can redirect.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

class QSettings;

namespace PrefKey {
inline constexpr char ProxyPort[] = "ks.proxyPort";
inline constexpr char AutostartPref[] = "ks.autostartPref";
inline constexpr char OnboardedV1[] = "ks.onboardedV1";
inline constexpr char AnalyticsOptIn[] = "ks.analyticsOptIn";
inline constexpr char CaTrustedFingerprint[] = "ks.caTrusted.fingerprint";
} // namespace PrefKey

class Preferences final : public QObject
{
    Q_OBJECT
public:
    // The process-wide instance; its store is the user's settings unless useFile() redirected it.
    static Preferences &instance();

    // Points the store at an INI file (tests use a temporary one).
    void useFile(const QString &path);

    bool boolValue(const char *key, bool fallback) const;
    int intValue(const char *key, int fallback) const;
    QString stringValue(const char *key, const QString &fallback = {}) const;
    bool contains(const char *key) const;
    void setValue(const char *key, const QVariant &value);
    void remove(const char *key);
    // Writes pending changes to the store now (a process that ends abruptly would lose them).
    void sync();

    // The stored proxy port, or 9999 when the stored value is no port (0 or a hand-edited file), so the
    // engine, the settings and every screen agree on one port.
    static int proxyPort();

signals:
    void valueChanged(const QString &key);

private:
    Preferences();
    ~Preferences() override;
    QSettings *m_settings = nullptr;
};
