// A real stand-in engine process for the tests.
#include "standin-engine/engine_process.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <sys/resource.h>

namespace standintest {

EngineProcess::EngineProcess(QString dataDir, QStringList extraArguments, QByteArray fault)
    : m_dataDir(std::move(dataDir))
    , m_arguments(std::move(extraArguments))
    , m_fault(std::move(fault))
{
}

EngineProcess::~EngineProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    closeStdin();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool EngineProcess::start(int timeoutMs)
{
    QStringList arguments {"--data-dir", m_dataDir};
    if (!m_arguments.contains("--control-port"))
        arguments << "--control-port" << "0";
    if (!m_arguments.contains("--proxy-port"))
        arguments << "--proxy-port" << "0";
    arguments << m_arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("KESTRION_STANDIN_FAULT");
    if (!m_fault.isEmpty())
        environment.insert("KESTRION_STANDIN_FAULT", QString::fromUtf8(m_fault));
    for (const auto &[name, value] : m_environment)
        environment.insert(name, value);
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    if (m_dataLimit > 0 || m_fileSizeLimit > 0 || m_descriptorLimit > 0) {
        const rlim_t dataLimit = m_dataLimit > 0 ? static_cast<rlim_t>(m_dataLimit) : RLIM_INFINITY;
        const rlim_t fileLimit = m_fileSizeLimit > 0 ? static_cast<rlim_t>(m_fileSizeLimit) : RLIM_INFINITY;
        const rlim_t descriptorLimit = static_cast<rlim_t>(m_descriptorLimit);
        m_process.setChildProcessModifier([dataLimit, fileLimit, descriptorLimit] {
            const struct rlimit data {dataLimit, dataLimit};
            ::setrlimit(RLIMIT_DATA, &data);
            // The soft limit only, so that it can be lifted again from outside.
            const struct rlimit fileSize {fileLimit, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
            if (descriptorLimit > 0) {
                // A soft limit below the hard one, as desktops start processes: the engine raises it.
                const struct rlimit descriptors {descriptorLimit / 2, descriptorLimit};
                ::setrlimit(RLIMIT_NOFILE, &descriptors);
            }
        });
    }
    m_process.start(testsupport::standinEnginePath(), arguments);
    if (!m_process.waitForStarted(timeoutMs))
        return false;

    static const QRegularExpression portLine(QStringLiteral("(?:^|\\n)KESTRION_CONTROL_PORT=(\\d+)\\n"));
    static const QRegularExpression tokenLine(QStringLiteral("(?:^|\\n)KESTRION_CONTROL_TOKEN=([0-9A-Za-z]+)\\n"));
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QString text = QString::fromUtf8(output());
        const auto match = portLine.match(text);
        if (match.hasMatch()) {
            m_controlPort = match.captured(1).toInt();
            m_controlToken = tokenLine.match(text).captured(1).toStdString();
            return true;
        }
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(50);
    }
    return false;
}

QByteArray EngineProcess::output()
{
    m_output += m_process.readAll();
    return m_output;
}

std::unique_ptr<HttpClient> EngineProcess::client() const
{
    auto client = std::make_unique<HttpClient>("127.0.0.1", m_controlPort);
    client->set_read_timeout(5, 0);
    client->set_connection_timeout(2, 0);
    client->set_default_headers({{"X-Kestrion-Token", m_controlToken}});
    return client;
}

std::string EngineProcess::controlFields() const
{
    return "Host: 127.0.0.1:" + std::to_string(m_controlPort) + "\r\nX-Kestrion-Token: " + m_controlToken;
}

int EngineProcess::proxyPort() const
{
    const auto reply = client()->Get("/health");
    if (!reply)
        return -1;
    const auto health = decodeRecord<EngineHealth>(reply->body);
    return health ? health->proxyPort : -1;
}

bool EngineProcess::liftFileSizeLimit()
{
    const struct rlimit unlimited {RLIM_INFINITY, RLIM_INFINITY};
    return ::prlimit(static_cast<pid_t>(m_process.processId()), RLIMIT_FSIZE, &unlimited, nullptr) == 0;
}

void EngineProcess::closeStdin()
{
    m_process.closeWriteChannel();
}

bool EngineProcess::waitForExit(int timeoutMs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
}

int EngineProcess::exitCode() const
{
    return m_process.exitCode();
}

void EngineTest::startEngine(const std::vector<std::pair<QString, QString>> &environment, const QString &dataFolder)
{
    const QString data = dataFolder.isEmpty() ? m_dir.path() : m_dir.path() + "/" + dataFolder;
    m_engine = std::make_unique<EngineProcess>(data, QStringList {"--autostart"});
    for (const auto &[name, value] : environment)
        m_engine->setEnvironment(name, value);
    ASSERT_TRUE(m_engine->start());
    m_proxyPort = m_engine->proxyPort();
    ASSERT_GT(m_proxyPort, 0);
}

void EngineTest::setRoutes(const std::vector<WireRoute> &routes)
{
    const auto posted = m_engine->client()->Post("/routes", encodeRecord(routes), "application/json");
    ASSERT_TRUE(posted);
    ASSERT_EQ(posted->status, 200) << posted->body;
}

std::vector<TrafficRecord> EngineTest::history()
{
    const auto reply = m_engine->client()->Get("/traffic?limit=1000");
    return decodeRecord<std::vector<TrafficRecord>>(reply ? reply->body : "").value_or(std::vector<TrafficRecord> {});
}

QString EngineTest::writeTemporaryFile(const QString &name, const std::string &bytes)
{
    const QString path = m_dir.path() + "/" + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
}

} // namespace standintest

namespace standintest {

EventReader::EventReader(const EngineProcess &engine)
    : m_client("127.0.0.1", engine.controlPort())
{
    m_client.set_read_timeout(30, 0);
    m_client.set_default_headers({{"X-Kestrion-Token", engine.controlToken()}});
    m_thread = std::thread([this] {
        m_client.Get("/events", [this](const char *data, size_t length) {
            std::lock_guard lock(m_mutex);
            m_buffer.append(data, length);
            size_t newline;
            while ((newline = m_buffer.find('\n')) != std::string::npos) {
                m_lines.push_back(m_buffer.substr(0, newline));
                m_buffer.erase(0, newline + 1);
            }
            return true;
        });
    });
}

EventReader::~EventReader()
{
    stop();
}

void EventReader::stop()
{
    m_client.stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::string> EventReader::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

std::vector<std::string> EventReader::payloads() const
{
    std::vector<std::string> result;
    for (const auto &line : lines()) {
        if (line.rfind("data:", 0) == 0) {
            std::string payload = line.substr(5);
            payload.erase(0, payload.find_first_not_of(' '));
            result.push_back(payload);
        }
    }
    return result;
}

bool EventReader::waitForPayload(const std::string &needle, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    // Searched where the lines lie: copying megabytes of them each pass would starve the reading thread.
    std::size_t searched = 0;
    while (!deadline.hasExpired()) {
        {
            std::lock_guard lock(m_mutex);
            for (; searched < m_lines.size(); ++searched) {
                const std::string &line = m_lines[searched];
                if (line.rfind("data:", 0) == 0 && line.find(needle, 5) != std::string::npos)
                    return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Result proxyRequest(int proxyPort, const std::string &method, const std::string &url, const std::string &body)
{
    HttpClient client("127.0.0.1", proxyPort);
    client.set_read_timeout(15, 0);
    if (method == "POST")
        return client.Post(url, body, "application/json");
    if (method == "PUT")
        return client.Put(url, body, "application/json");
    if (method == "DELETE")
        return client.Delete(url);
    if (method == "PATCH")
        return client.Patch(url, body, "application/json");
    return client.Get(url);
}

} // namespace standintest
