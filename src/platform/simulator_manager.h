// The booted iOS simulators found through xcrun simctl, and installing the root CA into one of them.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

struct Simulator
{
    QString udid;
    QString name;
    QString os;
    QString state;

    const QString &id() const { return udid; }
    bool operator==(const Simulator &other) const = default;
};

namespace Simctl {

// The label shown under a simulator's name: "com.apple.CoreSimulator.SimRuntime.iOS-17-2" gives "iOS 17.2".
QString prettyRuntime(const QString &identifier);

// The booted devices of a "simctl list devices booted -j" document, stably sorted by name (case-sensitive
// Unicode scalar order after canonical composition, not the locale's); nullopt when the document is not
// of the accepted form, since there is no partial result.
std::optional<QList<Simulator>> parseBootedDevices(const QByteArray &json);

} // namespace Simctl

class SimulatorManager final : public QObject
{
    Q_OBJECT
public:
    static constexpr char SimulatorAppIdentifier[] = "com.apple.iphonesimulator";
    static constexpr char SimulatorAppFallback[] = "/Applications/Xcode.app/Contents/Developer/Applications/Simulator.app";

    explicit SimulatorManager(QObject *parent = nullptr);

    const QList<Simulator> &simulators() const { return m_simulators; }
    // Udids trusted during this run, each with the fingerprint of the CA it was given; never saved.
    const QHash<QString, QString> &trusted() const { return m_trusted; }
    // Whether the simulator holds the CA with this fingerprint: a mark made for an earlier CA does not count.
    bool isTrusted(const QString &udid, const QString &caFingerprint) const;
    // The last trust message; absent until the first trust attempt.
    const std::optional<QString> &status() const { return m_status; }
    // Whether status reports a failure (a failed trust, or no root CA to install).
    bool statusIsFailure() const { return m_statusIsFailure; }
    // True while any simctl run of this manager is going on, however many overlap.
    bool busy() const { return m_runs > 0; }

    // Re-reads the booted simulators; returns at once.
    void refresh();
    // Installs the CA file at caPath into the simulator's keychain; returns at once. The fingerprint
    // names the CA in that file, so a later CA is not taken for trusted.
    void trust(const Simulator &sim, const QString &caPath, const QString &caFingerprint = {});
    void openSimulatorApp();

    // Whether this computer has the simulator tool (xcrun): without it a refresh finds nothing and no trust runs.
    static bool toolFound();
    // Whether openSimulatorApp() has an application to open.
    static bool appFound();

signals:
    void simulatorsChanged();
    void trustedChanged();
    void statusChanged();
    void busyChanged();

private:
    void setSimulators(const QList<Simulator> &simulators);
    void setStatus(const QString &text, bool failure);
    void beginRun();
    void endRun();

    QList<Simulator> m_simulators;
    QHash<QString, QString> m_trusted;
    std::optional<QString> m_status;
    bool m_statusIsFailure = false;
    int m_runs = 0;
};
