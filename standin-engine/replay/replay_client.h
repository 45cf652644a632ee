// The client side of a replay: a stream that gives a recorded request's bytes and drops the answer,
// so a replay goes through the same forwarding steps as a live request.
#pragma once

#include "mocks/route_matching.h"
#include "net/net_limits.h"
#include "net/proxied_message.h"

#include <chrono>
#include <string>
#include <utility>

namespace standin {

namespace replay {

namespace asio = net::asio;
namespace beast = net::beast;

// The client side of a replay: gives the request's bytes, takes the answer and drops it. Not final:
// Asio probes stream types by deriving from them.
class ReplayClient {
public:
    using executor_type = asio::any_io_executor;

    ReplayClient(executor_type executor, std::string input)
        : m_executor(std::move(executor))
        , m_input(std::move(input))
    {
    }
    executor_type get_executor() const { return m_executor; }
    void expires_after(std::chrono::steady_clock::duration) { }

    template <class Buffers, class Token>
    auto async_read_some(const Buffers &buffers, Token &&token)
    {
        const std::size_t n = asio::buffer_copy(buffers, asio::buffer(m_input) + m_read);
        m_read += n;
        const bool ended = n == 0 && asio::buffer_size(buffers) > 0;
        return complete(std::forward<Token>(token), ended ? beast::error_code(asio::error::eof) : beast::error_code(), n);
    }

    template <class Buffers, class Token>
    auto async_write_some(const Buffers &buffers, Token &&token)
    {
        return complete(std::forward<Token>(token), beast::error_code(), asio::buffer_size(buffers));
    }

private:
    template <class Token>
    auto complete(Token &&token, beast::error_code ec, std::size_t n)
    {
        return asio::async_initiate<Token, void(beast::error_code, std::size_t)>(
            [this](auto handler, beast::error_code error, std::size_t size) {
                auto executor = asio::get_associated_executor(handler, m_executor);
                asio::post(executor, [handler = std::move(handler), error, size]() mutable {
                    std::move(handler)(error, size);
                });
            },
            token, ec, n);
    }

    executor_type m_executor;
    std::string m_input;
    std::size_t m_read = 0;
};

// The request exactly as the client sent it: its method, every header in order with repeats, and its
// body framed the way the client framed it. Only the target is the origin form the host is sent anyway.
std::string requestBytes(const ProxiedRequest &request, const ProxyTarget &target);

} // namespace replay

} // namespace standin
