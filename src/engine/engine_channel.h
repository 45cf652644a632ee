// EngineChannel: the engine child process and the control channel to it (boot, health, event stream, requests).
#pragma once

#include "engine/engine_status.h"
#include "engine/line_reader.h"
#include "engine/records/engine_records.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QPair>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrlQuery>

#include <functional>
#include <optional>
#include <string_view>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QProcess;

// What a control request brought back. `httpStatus` is 0 when no HTTP reply arrived.
struct ControlReply
{
    int httpStatus = 0;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // of an HTTP reply
    QString error; // the transport failure's description; empty when an HTTP reply arrived
    // No answer came within the request's time limit: the engine may still carry the request out.
    bool timedOut = false;

    bool transportFailed() const { return httpStatus == 0; }
    // The value of a header of the reply (names match whatever their case); empty when absent.
    QByteArray header(QByteArrayView name) const
    {
        for (const auto &[key, value] : headers) {
            if (name.compare(key, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
    bool isSuccess() const { return httpStatus >= 200 && httpStatus <= 299; }
};

// How long each kind of control request may take before it counts as failed.
struct ControlTimeouts
{
    int general = 60000;
    // A route or environment push.
    int push = 60000;
    int openAPI = 20000;
    int proxyControl = 4000;
    int shutdown = 500;
    // The most a quit waits for the engine in all: the pushes still owed to it, its stop, its exit.
    int quit = 3000;
    int project = 6000;
    // As short as the poll interval, so a hung engine shows within three polls.
    int health = 2000;
    int healthInterval = 2000;
    // From launch to the control-port line; past it the start has failed.
    int start = 10000;
};

class EngineChannel final : public QObject
{
    Q_OBJECT
public:
    using ReplyHandler = std::function<void(const ControlReply &)>;
    static constexpr int MaxLogLines = 200;

    explicit EngineChannel(QObject *parent = nullptr);
    ~EngineChannel() override;

    const EngineStatus &status() const { return m_status; }
    void setStatus(const EngineStatus &status);
    bool proxyRunning() const { return m_proxyRunning; }
    void setProxyRunning(bool running);
    bool engineReady() const { return m_engineReady; }
    void setEngineReady(bool ready);
    const std::optional<EngineHealth> &health() const { return m_health; }
    void setHealth(const std::optional<EngineHealth> &health);
    const QStringList &log() const { return m_log; }
    void setLog(const QStringList &log);
    void appendLog(const QString &line);
    // Each new log line also goes to the process's standard error, so that someone who started the
    // application from a terminal sees why the engine did what it did; a front end that prints the
    // log itself turns this off.
    bool logToStandardError() const { return m_logToStandardError; }
    void setLogToStandardError(bool on) { m_logToStandardError = on; }

    int proxyPort() const { return m_proxyPort; }
    void setProxyPort(int port) { m_proxyPort = port; }
    std::optional<int> controlPort() const { return m_controlPort; }
    qint64 engineProcessId() const;

    // The engine's data directory (created if missing): KESTRION_DATA_DIR, a directory set with
    // setDataDirectory(), else <generic data location>/Kestrion.
    QString dataDirectory() const;
    void setDataDirectory(const QString &path) { m_dataDirectory = path; }
    // The engine executable: KESTRION_ENGINE, a path set with setEngineExecutable(), else
    // kestrion-engine next to the application binary, else in resources/ beside it.
    QString engineExecutable() const;
    void setEngineExecutable(const QString &path) { m_engineExecutable = path; }
    const ControlTimeouts &timeouts() const { return m_timeouts; }
    void setTimeouts(const ControlTimeouts &timeouts) { m_timeouts = timeouts; }

    void boot(bool autostartProxy);
    // Ends the engine child at once and, once it has exited, boots a new one with the proxy as it was;
    // false when no new engine could be launched, or there was no child to end.
    void replaceEngine(std::function<void(bool launched)> done);
    // Asks the engine to shut down, waits briefly for the answer and lets the child go. A child still
    // running when the link ends has until `quit` expires to exit before it is killed.
    void shutdown(QDeadlineTimer quit);
    // POSTs "control/start" or "control/stop" and sets the proxy flag from the answer.
    void startProxy();
    void stopProxyThen(std::function<void()> done);

    void ingestOutput(QByteArrayView chunk);
    void ingestEventStream(QByteArrayView chunk);
    // Decodes one event payload, applies what belongs to the channel and hands the event on.
    void handleEvent(std::string_view payload);

    // Sends one request by the control conventions. A path without a leading "/" is joined as
    // path components, one with a leading "/" is appended to the base as text. The handler runs
    // only while `context` lives; a request without a control port is not sent and the handler
    // is not called (the null return says so). timeoutMs 0 means none.
    QNetworkReply *sendControl(const QByteArray &method, const QString &path, const QUrlQuery &query,
                               const std::optional<QByteArray> &jsonBody, int timeoutMs,
                               QObject *context, ReplyHandler handler,
                               const QByteArray &contentType = QByteArrayLiteral("application/json"));
    // POST without a body; logs failures; done(true) on a 2xx answer. A failed answer also says
    // why: the engine's own "error" text when it gave one, else "HTTP <code>" or the transport
    // failure; empty when nothing was sent.
    void postControl(const QString &path, std::function<void(bool ok, const QString &why)> done);
    // The project and environment request: reply body on a 2xx answer, none otherwise.
    void projectRequest(const QString &path, const QByteArray &method, const std::optional<QByteArray> &body,
                        std::function<void(const std::optional<QByteArray> &)> done);
    // The same, and says whether the request went unanswered past its time limit.
    void projectRequest(const QString &path, const QByteArray &method, const std::optional<QByteArray> &body,
                        std::function<void(const std::optional<QByteArray> &, bool timedOut)> done);

    // A query of one item whose value reaches the engine exactly as given: QUrlQuery would read a
    // "%41" inside it as an escape, so every "%" is escaped first; an empty value still reads "name=".
    static QUrlQuery literalQuery(const QString &name, const QString &value)
    {
        QUrlQuery query;
        addLiteralQueryItem(query, name, value);
        return query;
    }
    static void addLiteralQueryItem(QUrlQuery &query, const QString &name, const QString &value)
    {
        QString escaped = QStringLiteral(""); // never null, so an empty value still reads "name="
        escaped += value;
        escaped.replace(QLatin1Char('%'), QStringLiteral("%25"));
        query.addQueryItem(name, escaped);
    }
    // A reply body as the record decoders read it, without a copy.
    static std::string_view asView(const QByteArray &bytes)
    {
        return std::string_view(bytes.constData(), std::size_t(bytes.size()));
    }
    // done, called only while `context` lives; without a context it is always called.
    template <class T>
    static std::function<void(const T &)> whileContextLives(QObject *context, std::function<void(const T &)> done)
    {
        QPointer<QObject> guard(context);
        const bool tied = context != nullptr;
        return [guard, tied, done = std::move(done)](const T &value) {
            if (done && (!tied || guard))
                done(value);
        };
    }

    // Aborts the request in flight in `slot`, if any; the slot is emptied first, as the abort answers at once.
    static void abortInFlight(QPointer<QNetworkReply> &slot);
    // Runs a local event loop until every reply has finished or waitMs has passed.
    static void waitForReplies(const QList<QPointer<QNetworkReply>> &inFlight, int waitMs);

    QNetworkAccessManager *network() const { return m_network; }

signals:
    void statusChanged();
    void proxyRunningChanged();
    void engineReadyChanged();
    void healthChanged();
    void logChanged();
    // The control port is known: the start-up loads may go.
    void connected();
    // The linked engine exited; what it had loaded is no longer known.
    void disconnected();
    void engineExited(int exitCode);
    void proxyStarted();
    // An event the channel does not handle itself ("request", "schema_drift").
    void eventArrived(const EngineEvent &event);

private:
    void handleOutputLine(const QString &line);
    void connectControl(int port);
    void handleTermination(QProcess *process);
    void startTimedOut();
    void startHealthPolling();
    void pollHealth();
    void startEventStream();
    void stopLinkTasks();
    QUrl controlUrl(const QString &path, const QUrlQuery &query) const;
    // A request to the control port, carrying the engine's token.
    QNetworkRequest controlRequest(const QUrl &url) const;

    EngineStatus m_status = EngineStatus::stopped();
    bool m_proxyRunning = false;
    bool m_engineReady = false;
    std::optional<EngineHealth> m_health;
    QStringList m_log;
    bool m_logToStandardError = true;

    int m_proxyPort = 9999;
    QProcess *m_process = nullptr;
    std::optional<int> m_controlPort;
    LineReader m_outputReader;
    QNetworkAccessManager *m_network = nullptr;
    QString m_dataDirectory;
    QString m_engineExecutable;
    ControlTimeouts m_timeouts;

    // Health polling: one request at a time, then the interval.
    int m_healthGeneration = 0;
    int m_healthMisses = 0;
    QTimer m_healthTimer;
    QTimer m_startTimer;
    QDeadlineTimer m_quit{QDeadlineTimer::Forever};
    QPointer<QNetworkReply> m_healthReply;

    int m_eventsGeneration = 0;
    QPointer<QNetworkReply> m_eventsReply;
    QByteArray m_controlToken; // what this engine printed for our control requests; never logged
    // Once per launch, before the port line; any token line after that is not the engine's own.
    bool m_controlTokenTaken = false;
    LineReader m_eventReader{LineReader::Breaks::EventStream};
};
