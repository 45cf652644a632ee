// EngineChannel: control requests by the shared conventions (URLs, timeouts, what counts as an answer).
#include "engine/engine_channel.h"

#include "engine/engine_output.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

const char TimedOutProperty[] = "ks.timedOut";
// The most room made ahead for a body from its announced length; a longer one grows as it comes.
constexpr qint64 ReserveBodyBytes = 128 * 1024 * 1024;

// Qt also reports 4xx and 5xx statuses as errors (content, server and invalid-operation codes); those
// are answers. Network and proxy errors, and an unknown or failed protocol exchange, mean the reply
// did not arrive whole.
bool brokeOff(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError
           && (error < QNetworkReply::ContentAccessDenied || error == QNetworkReply::ProtocolUnknownError
               || error == QNetworkReply::ProtocolFailure);
}

} // namespace

QUrl EngineChannel::controlUrl(const QString &path, const QUrlQuery &query) const
{
    const QString base = QStringLiteral("http://127.0.0.1:") + QString::number(*m_controlPort);
    QUrl url;
    if (path.startsWith(QLatin1Char('/'))) {
        url = QUrl(base + path, QUrl::StrictMode);
    } else {
        url = QUrl(base);
        // Decoded mode percent-encodes what a path may not hold; "/" stays a separator.
        url.setPath(QLatin1Char('/') + path, QUrl::DecodedMode);
    }
    if (!query.isEmpty()) {
        // A literal "+" would reach the engine as a space.
        QString text = query.toString(QUrl::FullyEncoded);
        text.replace(QLatin1Char('+'), QStringLiteral("%2B"));
        url.setQuery(text, QUrl::StrictMode);
    }
    return url;
}

QNetworkRequest EngineChannel::controlRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    // Without it the engine refuses the request; a link that saw no token line sends none.
    if (!m_controlToken.isEmpty())
        request.setRawHeader(ControlTokenHeader, m_controlToken);
    return request;
}

QNetworkReply *EngineChannel::sendControl(const QByteArray &method, const QString &path,
                                         const QUrlQuery &query, const std::optional<QByteArray> &body,
                                         int timeoutMs, QObject *context, ReplyHandler handler,
                                         const QByteArray &contentType)
{
    if (!m_controlPort)
        return nullptr;
    const QUrl url = controlUrl(path, query);
    if (!url.isValid())
        return nullptr;

    QNetworkRequest request = controlRequest(url);
    if (body)
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);

    QNetworkReply *reply = nullptr;
    const QByteArray payload = body.value_or(QByteArray());
    if (method == "GET")
        reply = m_network->get(request);
    else if (method == "POST" && !body)
        // post() would add a form content type (and warn about it); this sends no body and
        // no content type, with a length of 0.
        reply = m_network->sendCustomRequest(request, method, QByteArray());
    else if (method == "POST")
        reply = m_network->post(request, payload);
    else if (method == "PUT")
        reply = m_network->put(request, payload);
    else if (method == "DELETE" && !body)
        reply = m_network->deleteResource(request);
    else
        reply = m_network->sendCustomRequest(request, method, payload);

    if (timeoutMs > 0) {
        // The transfer timeout only notices idle connections; this bounds the whole request.
        auto *timer = new QTimer(reply);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, reply, [reply] {
            reply->setProperty(TimedOutProperty, true);
            reply->abort();
        });
        timer->start(timeoutMs);
    }
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    if (handler) {
        // The body is taken as it comes: read whole at the end, an answer of tens of megabytes (a large
        // project's routes) would be copied at once on the window's thread.
        auto received = std::make_shared<QByteArray>();
        connect(reply, &QNetworkReply::readyRead, context ? context : this, [reply, received] {
            if (received->isEmpty()) {
                const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
                if (length > 0)
                    received->reserve(qsizetype(std::min(length, ReserveBodyBytes)));
            }
            received->append(reply->readAll());
        });
        connect(reply, &QNetworkReply::finished, context ? context : this,
                [reply, received, handler = std::move(handler)] {
                    ControlReply result;
                    // A reply that broke off (after its status line, mid-body, or at our own timeout) is
                    // a transport failure however good its status looked: its body is not the answer.
                    if (!brokeOff(reply->error()))
                        result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                    // An aborted reply is closed; reading it would only warn.
                    if (reply->isOpen() && result.httpStatus != 0) {
                        result.body = std::exchange(*received, {});
                        result.body.append(reply->readAll());
                        result.headers = reply->rawHeaderPairs();
                    }
                    result.timedOut = result.httpStatus == 0 && reply->property(TimedOutProperty).toBool();
                    if (result.httpStatus == 0)
                        result.error = result.timedOut
                                           ? QStringLiteral("The request timed out.")
                                           : reply->errorString();
                    handler(result);
                });
    }
    return reply;
}

void EngineChannel::postControl(const QString &path, std::function<void(bool, const QString &)> done)
{
    const QString prefix = QStringLiteral("control ") + path + QStringLiteral(": ");
    QNetworkReply *reply = sendControl(
        "POST", path, {}, std::nullopt, m_timeouts.proxyControl, this,
        [this, prefix, done](const ControlReply &reply) {
            const bool ok = reply.isSuccess();
            QString why;
            if (reply.transportFailed()) {
                appendLog(prefix + reply.error);
                why = reply.error;
            } else if (!ok) {
                const QString status = QStringLiteral("HTTP ") + QString::number(reply.httpStatus);
                appendLog(prefix + status);
                const auto refusal = decodeRecord<ErrorReply>(asView(reply.body));
                // One log line, whatever the engine put in its text.
                why = refusal ? QString::fromStdString(refusal->error).simplified() : QString();
                if (why.isEmpty())
                    why = status;
            }
            if (done)
                done(ok, why);
        });
    if (!reply) {
        appendLog(prefix + QStringLiteral("engine not connected"));
        if (done)
            done(false, QString());
    }
}

void EngineChannel::projectRequest(const QString &path, const QByteArray &method,
                                  const std::optional<QByteArray> &body,
                                  std::function<void(const std::optional<QByteArray> &)> done)
{
    projectRequest(path, method, body, [done](const std::optional<QByteArray> &answer, bool) {
        if (done)
            done(answer);
    });
}

void EngineChannel::projectRequest(const QString &path, const QByteArray &method,
                                  const std::optional<QByteArray> &body,
                                  std::function<void(const std::optional<QByteArray> &, bool timedOut)> done)
{
    QNetworkReply *reply = sendControl(method, path, {}, body, m_timeouts.project, this,
                                       [done](const ControlReply &reply) {
                                           if (!done)
                                               return;
                                           if (reply.isSuccess())
                                               done(reply.body, false);
                                           else
                                               done(std::nullopt, reply.timedOut);
                                       });
    if (!reply && done)
        done(std::nullopt, false);
}

void EngineChannel::abortInFlight(QPointer<QNetworkReply> &slot)
{
    if (QNetworkReply *reply = slot.data()) {
        slot = nullptr;
        reply->abort();
    }
}

void EngineChannel::waitForReplies(const QList<QPointer<QNetworkReply>> &inFlight, int waitMs)
{
    if (inFlight.isEmpty())
        return;

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto allDone = [&inFlight] {
        for (const QPointer<QNetworkReply> &reply : inFlight)
            if (reply && !reply->isFinished())
                return false;
        return true;
    };
    for (const QPointer<QNetworkReply> &reply : std::as_const(inFlight))
        connect(reply.data(), &QNetworkReply::finished, &loop, [&loop, &allDone] {
            if (allDone())
                loop.quit();
        });
    if (allDone())
        return;
    deadline.start(waitMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
