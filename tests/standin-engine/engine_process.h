// A real stand-in engine process for tests: started on a temporary data dir, stopped by closing stdin.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

#include "standin-engine/http_client.h"
#include "standin-engine/wire_routes.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace standintest {

class EngineProcess final {
public:
    // `fault` sets KESTRION_STANDIN_FAULT for this process only.
    explicit EngineProcess(QString dataDir, QStringList extraArguments = {}, QByteArray fault = {});
    ~EngineProcess();

    // Caps the engine's data memory (heap and thread stacks) from the next start on, so that a request
    // that would take gigabytes fails inside the engine instead of straining the machine.
    void setDataLimit(qint64 bytes) { m_dataLimit = bytes; }
    // Caps the size of any file the engine writes from the next start on: writes past it fail the way
    // they do on a full disk.
    void setFileSizeLimit(qint64 bytes) { m_fileSizeLimit = bytes; }
    // Caps the descriptors the engine may open (soft and hard) from the next start on.
    void setDescriptorLimit(qint64 descriptors) { m_descriptorLimit = descriptors; }
    // Lifts the file size cap of the running engine, as space coming free on a full disk would.
    bool liftFileSizeLimit();
    // Starts the engine and waits for its control-port line; false when it doesn't come.
    bool start(int timeoutMs = 5000);
    int controlPort() const { return m_controlPort; }
    // What the engine printed for the process that started it; every control request shows it.
    const std::string &controlToken() const { return m_controlToken; }
    // The Host and token fields of a control request written by hand, as header lines without the
    // last line break: "Host: 127.0.0.1:<port>\r\nX-Kestrion-Token: <token>".
    std::string controlFields() const;
    // Everything the engine printed so far (stdout and stderr together).
    QByteArray output();

    // A client of the control port that shows the token on every request.
    std::unique_ptr<HttpClient> client() const;
    // An environment variable for this process only (set before start).
    void setEnvironment(const QString &name, const QString &value) { m_environment.emplace_back(name, value); }
    // The proxy port the engine reports in its health record.
    int proxyPort() const;

    void closeStdin();
    bool waitForExit(int timeoutMs = 5000);
    int exitCode() const;
    QProcess &process() { return m_process; }

private:
    QString m_dataDir;
    QStringList m_arguments;
    QByteArray m_fault;
    std::vector<std::pair<QString, QString>> m_environment;
    QProcess m_process;
    QByteArray m_output;
    int m_controlPort = -1;
    std::string m_controlToken;
    qint64 m_dataLimit = 0;
    qint64 m_fileSizeLimit = 0;
    qint64 m_descriptorLimit = 0;
};

// A test on a real engine that serves its proxy port from the start, on a temporary data folder.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { startEngine(); }

    // Starts the engine with `environment` set for it alone, its data in `dataFolder` under the temporary
    // folder (the temporary folder itself when empty). A fatal failure when it or its proxy port doesn't
    // come up, so a fixture that goes on after it wraps it in ASSERT_NO_FATAL_FAILURE.
    void startEngine(const std::vector<std::pair<QString, QString>> &environment = {}, const QString &dataFolder = {});
    // Replaces the engine's routes; a fatal failure unless it took them.
    void setRoutes(const std::vector<WireRoute> &routes);
    // What the engine recorded so far, up to 1000 exchanges.
    std::vector<TrafficRecord> history();
    // Writes `bytes` to `name` in the temporary folder; its path.
    QString writeTemporaryFile(const QString &name, const std::string &bytes);

    QTemporaryDir m_dir;
    std::unique_ptr<EngineProcess> m_engine;
    int m_proxyPort = 0;
};

} // namespace standintest

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace standintest {

// Reads the engine's event stream on a thread and keeps every line it delivers.
class EventReader final {
public:
    explicit EventReader(const EngineProcess &engine);
    ~EventReader();

    std::vector<std::string> lines() const;
    // The decoded "data:" payload texts, in order.
    std::vector<std::string> payloads() const;
    // Waits until some payload contains the text; true when one did in time.
    bool waitForPayload(const std::string &needle, int timeoutMs = 5000) const;
    void stop();

private:
    HttpClient m_client;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::string m_buffer;
    std::vector<std::string> m_lines;
};

// Sends one request through the proxy in absolute form ("GET http://host/path HTTP/1.1").
Result proxyRequest(int proxyPort, const std::string &method, const std::string &url,
                             const std::string &body = {});

} // namespace standintest
