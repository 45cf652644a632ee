// A real nginx as the host behind the proxy, for the tests that check what real servers make of it.
#pragma once

#include "standin-engine/http_client.h"

#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace standintest {

// nginx on a free port with its own configuration, pid, logs and temporary files under `root`; its
// access log has a line per request: method, target, status, Expect field.
class Nginx final {
public:
    // Its binary, or empty when it is not installed.
    static QString installed() { return QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/sbin"}); }

    Nginx(QString binary, QString root)
        : m_binary(std::move(binary))
        , m_root(std::move(root))
        , m_port(freePort())
    {
    }
    ~Nginx()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }

    // Serves `locations` (server-level directives) besides the files under www().
    bool start(const std::string &locations, std::string &log)
    {
        QDir(m_root).mkpath("www");
        QDir(m_root).mkpath("temp");
        const std::string root = m_root.toStdString();
        // As root, nginx would hand its workers to an account that can't read the test's folder.
        const std::string user = ::geteuid() == 0 ? "user root;\n" : "";
        write(m_root + "/nginx.conf",
              user + "worker_processes 1;\ndaemon off;\npid " + root + "/nginx.pid;\nerror_log " + root
                  + "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
                    "  log_format requests '$request_method $request_uri $status \"$http_expect\"';\n"
                    "  access_log " + root + "/access.log requests;\n"
                    "  client_body_temp_path " + root + "/temp/body;\n"
                    "  proxy_temp_path " + root + "/temp/proxy;\n  fastcgi_temp_path " + root + "/temp/fastcgi;\n"
                    "  uwsgi_temp_path " + root + "/temp/uwsgi;\n  scgi_temp_path " + root + "/temp/scgi;\n"
                    "  keepalive_timeout 1s;\n"
                    "  gzip on;\n  gzip_proxied any;\n  gzip_min_length 1;\n"
                    "  gzip_types application/json text/plain;\n"
                    "  types { application/json json; text/plain txt; }\n"
                    "  default_type application/octet-stream;\n"
                    "  server {\n    listen 127.0.0.1:" + std::to_string(m_port) + ";\n"
                    "    root " + root + "/www;\n    " + locations + "\n  }\n}\n");
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(m_binary, {"-p", m_root, "-e", m_root + "/error.log", "-c", m_root + "/nginx.conf"});
        const bool listening = testsupport::waitFor([this] {
            RawSocket probe;
            return m_process.state() == QProcess::Running && probe.connect(m_port);
        }, 10000);
        log = m_process.readAll().toStdString() + read(m_root + "/error.log");
        return listening;
    }
    int port() const { return m_port; }
    QString www() const { return m_root + "/www"; }
    // A request's line comes once nginx is done with it, a body it refused unread included.
    std::string accessLog() const { return read(m_root + "/access.log"); }

private:
    static int freePort()
    {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length);
        ::close(probe);
        return ntohs(address.sin_port);
    }
    static void write(const QString &path, const std::string &bytes)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    static std::string read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    QString m_binary;
    QString m_root;
    int m_port;
    QProcess m_process;
};

} // namespace standintest
