// Analytics: opt-in anonymous usage events posted as {"event": <name>}.
#include "platform/analytics.h"

#include "platform/preferences.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <nlohmann/json.hpp>

Analytics &Analytics::shared()
{
    static Analytics *instance = new Analytics;
    return *instance;
}

Analytics::Analytics(const QString &endpoint, QObject *parent)
    : QObject(parent), m_endpoint(endpoint)
{
}

void Analytics::track(const QString &name, bool once)
{
    if (!Preferences::instance().boolValue(PrefKey::AnalyticsOptIn, false))
        return;
    if (m_endpoint.isEmpty())
        return;
    const QUrl url(m_endpoint, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    if (once) {
        if (m_sentOnce.contains(name))
            return;
        m_sentOnce.insert(name); // before sending, so a failed send is not repeated
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    nlohmann::json event = {{"event", name.toStdString()}};
    const std::string body = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);

    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkReply *reply = m_network->post(request, QByteArray::fromStdString(body));
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    // The whole post is bounded, not only an idle connection; the outcome is never looked at.
    QTimer::singleShot(60000, reply, &QNetworkReply::abort);
}
