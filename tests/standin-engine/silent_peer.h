// A peer on 127.0.0.1 that never answers, as a host that takes connections or a name server that takes
// questions, and a look at whether a socket's other end has closed.
#pragma once

#include <algorithm>
#include <atomic>
#include <arpa/inet.h>
#include <cstddef>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace standintest {

// The other end has closed its side (checked without waiting).
inline bool peerClosed(int fd)
{
    pollfd polled {fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&polled, 1, 0) > 0 && (polled.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// A host (a stream socket) or a name server (a datagram one) on 127.0.0.1 that never answers: keeps
// the connections it took and the questions it was asked.
class SilentPeer final {
public:
    explicit SilentPeer(int type)
        : m_socket(::socket(AF_INET, type, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address);
        if (type == SOCK_STREAM)
            ::listen(m_socket, 1024);
        socklen_t length = sizeof address;
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, type] {
            while (!m_stopping) {
                pollfd polled {m_socket, POLLIN, 0};
                if (::poll(&polled, 1, 20) <= 0)
                    continue;
                char packet[1500];
                std::lock_guard lock(m_mutex);
                sockaddr_in from {};
                socklen_t fromLength = sizeof from;
                if (type == SOCK_STREAM) {
                    m_accepted.push_back(::accept(m_socket, nullptr, nullptr));
                } else if (const ssize_t n = ::recvfrom(m_socket, packet, sizeof packet, 0,
                                                        reinterpret_cast<sockaddr *>(&from), &fromLength);
                           n > 0) {
                    m_datagrams.emplace_back(packet, static_cast<std::size_t>(n));
                    m_senders.push_back(from);
                    if (m_answering)
                        answerLocked(m_datagrams.size() - 1);
                }
            }
        });
    }
    // From now on every question, those already asked too, gets "no such name".
    void answerEveryQuestion()
    {
        std::lock_guard lock(m_mutex);
        m_answering = true;
        for (std::size_t i = 0; i < m_datagrams.size(); ++i)
            answerLocked(i);
    }
    ~SilentPeer()
    {
        m_stopping = true;
        m_thread.join();
        for (const int fd : m_accepted)
            ::close(fd);
        ::close(m_socket);
    }
    int port() const { return m_port; }
    std::size_t accepted() const
    {
        std::lock_guard lock(m_mutex);
        return m_accepted.size();
    }
    // Connections taken that the engine has not closed.
    std::size_t open() const
    {
        std::lock_guard lock(m_mutex);
        return std::count_if(m_accepted.begin(), m_accepted.end(), [](int fd) { return !peerClosed(fd); });
    }
    // Whether a question named `label` as one label of its name.
    bool asked(const std::string &label) const
    {
        std::lock_guard lock(m_mutex);
        const std::string encoded = static_cast<char>(label.size()) + label;
        return std::any_of(m_datagrams.begin(), m_datagrams.end(),
                           [&](const std::string &packet) { return packet.find(encoded) != std::string::npos; });
    }

private:
    const int m_socket;
    int m_port = 0;
    std::atomic<bool> m_stopping {false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<int> m_accepted;
    std::vector<std::string> m_datagrams;
    std::vector<sockaddr_in> m_senders;
    bool m_answering = false;

    // The question sent back as its answer: the response bit and the code for "no such name" set.
    void answerLocked(std::size_t i)
    {
        std::string answer = m_datagrams[i];
        if (answer.size() < 12)
            return;
        answer[2] = static_cast<char>(answer[2] | 0x80);
        answer[3] = static_cast<char>(0x83);
        ::sendto(m_socket, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr *>(&m_senders[i]),
                 sizeof m_senders[i]);
    }
};

} // namespace standintest
