// Analytics: opt-in anonymous usage events posted as {"event": <name>}.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class QNetworkAccessManager;

class Analytics final : public QObject
{
    Q_OBJECT
public:
    // The process-wide sender; it has no endpoint, so it never sends anything.
    static Analytics &shared();

    // A sender posting to `endpoint` (tests give a local one).
    explicit Analytics(const QString &endpoint = {}, QObject *parent = nullptr);

    // Posts the event when "ks.analyticsOptIn" is on and an endpoint is set; with `once`, at
    // most one time per run.
    void track(const QString &name, bool once = false);

    const QString &endpoint() const { return m_endpoint; }
    const QSet<QString> &sentOnce() const { return m_sentOnce; }

    // Tells views that read the opt-in preference to redraw (the settings screen calls it).
    void announceChange() { emit changed(); }

signals:
    void changed();

private:
    QString m_endpoint;
    QSet<QString> m_sentOnce;
    QNetworkAccessManager *m_network = nullptr;
};
