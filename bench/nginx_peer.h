// nginx (Debian's nginx-light) as the proxy benchmark's peer: a host of static files, a reverse proxy
// keeping its connections to that host, or an HTTPS server. Each runs on a free port from its own
// configuration under a temporary folder, one worker per core the engine may use, on the servers' cores.
#pragma once

#include "side_by_side.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace proxybench {

// A port nobody listens on now.
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

inline bool accepting(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// As many workers as the engine has I/O threads: one per core it may run on.
inline int serverCoreCount()
{
    if (const auto cores = coresFrom("KESTRION_BENCH_SERVER_CPUS"))
        return CPU_COUNT(&*cores);
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

class NginxPeer {
public:
    // `server` is the body of its one server block ("@DIR@" stands for its folder); `http` goes before
    // it (an upstream block); `listen` follows the address on the listen line ("ssl").
    NginxPeer(const std::string &name, const std::string &server, const std::string &http = {},
              const std::string &listen = {})
        : m_dir(std::filesystem::temp_directory_path()
                / ("kestrion-bench-nginx-" + name + "-" + std::to_string(::getpid())))
        , m_port(freePort())
    {
        std::filesystem::create_directories(m_dir / "www");
        std::filesystem::create_directories(m_dir / "temp");
        const std::string dir = m_dir.string();
        std::string body = server;
        for (size_t at = body.find("@DIR@"); at != std::string::npos; at = body.find("@DIR@", at))
            body.replace(at, 5, dir);
        // As root, nginx would hand its workers to an account that can't read the folder.
        const std::string user = ::geteuid() == 0 ? "user root;\n" : "";
        std::ofstream(m_dir / "nginx.conf")
            << user << "worker_processes " << serverCoreCount() << ";\ndaemon off;\npid " << dir
            << "/nginx.pid;\nerror_log " << dir << "/error.log;\n"
            << "events { worker_connections 4096; }\nhttp {\n  access_log off;\n"
            << "  client_body_temp_path " << dir << "/temp/body;\n  proxy_temp_path " << dir << "/temp/proxy;\n"
            << "  fastcgi_temp_path " << dir << "/temp/fastcgi;\n  uwsgi_temp_path " << dir << "/temp/uwsgi;\n"
            << "  scgi_temp_path " << dir << "/temp/scgi;\n"
            << "  keepalive_requests 1000000;\n  keepalive_timeout 60s;\n  default_type application/octet-stream;\n"
            << http << "  server {\n    listen 127.0.0.1:" << m_port << (listen.empty() ? "" : " " + listen) << ";\n"
            << body << "\n  }\n}\n";
    }
    ~NginxPeer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    NginxPeer(const NginxPeer &) = delete;
    NginxPeer &operator=(const NginxPeer &) = delete;

    // Starts it and waits until it accepts; the error log's text when it doesn't.
    bool start(std::string &error)
    {
        std::string program = programOnPath("nginx");
        if (program.empty() && ::access("/usr/sbin/nginx", X_OK) == 0)
            program = "/usr/sbin/nginx";
        if (program.empty()) {
            error = "nginx is not installed (scripts/setup installs nginx-light)";
            return false;
        }
        const std::string dir = m_dir.string();
        std::string prefix = dir + "/";
        std::string errorLog = dir + "/error.log";
        std::string config = dir + "/nginx.conf";
        std::string p = "-p";
        std::string e = "-e";
        std::string c = "-c";
        char *argv[] = {program.data(), p.data(), prefix.data(), e.data(), errorLog.data(), c.data(), config.data(), nullptr};
        {
            OnServerCores pinned;
            if (posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
                m_pid = -1;
                error = "nginx could not be started";
                return false;
            }
        }
        for (int i = 0; i < 500 && !accepting(m_port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (accepting(m_port))
            return true;
        std::ifstream log(m_dir / "error.log");
        error = "nginx did not start: " + std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        return false;
    }

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    const std::filesystem::path &dir() const { return m_dir; }

private:
    std::filesystem::path m_dir;
    int m_port = 0;
    pid_t m_pid = -1;
};

} // namespace proxybench
