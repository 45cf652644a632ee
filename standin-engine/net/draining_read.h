// A socket read for the event loop that knows when it has drained the socket. Asio's own read tries
// the socket at once every time and waits for readiness only when that finds nothing; it stops trying
// first only after a read of zero bytes. A read that took less than it asked for has emptied the
// socket of data (as nginx counts it), so this one then tells the loop to wait for the socket's next
// readiness event before the next read tries: the try that would only have come back empty, a system
// call on every host answer, is skipped. Data that arrives meanwhile raises that event, and the loop,
// under the socket's lock, lets the next read try at once again, so no data is missed.
// What that misses is an end of stream that had arrived behind the data the short read took: its event
// came and went before the read. So a read that may meet such an end (anything but the first read of
// a host's answer, whose connection was just peeked or just made) tries the socket itself first.
#pragma once

// Asio's reactor header needs its scheduler complete.
#include <boost/asio/detail/scheduler.hpp>

#include <boost/asio/async_result.hpp>
#include <boost/asio/detail/reactor.hpp>
#include <boost/asio/detail/reactor_op.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/execution/context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/query.hpp>

#include <cerrno>
#include <sys/socket.h>
#include <utility>

namespace standin::net {

namespace draining {

namespace asio = boost::asio;

// The socket's state in the event loop, which asio::basic_socket keeps to itself and its kind.
template <class Socket>
struct SocketAccess : Socket {
    static auto &implementation(Socket &socket) { return (socket.*(&SocketAccess::impl_)).get_implementation(); }
};

template <class Handler>
class ReadOperation : public asio::detail::reactor_op {
public:
    ReadOperation(int descriptor, asio::mutable_buffer space, Handler handler)
        : reactor_op(boost::system::error_code(), &ReadOperation::perform, &ReadOperation::complete)
        , m_descriptor(descriptor)
        , m_space(space)
        , m_handler(std::move(handler))
    {
    }

    static status perform(reactor_op *base)
    {
        auto *self = static_cast<ReadOperation *>(base);
        ssize_t n;
        do
            n = ::recv(self->m_descriptor, self->m_space.data(), self->m_space.size(), MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return not_done;
            self->ec_.assign(errno, asio::error::get_system_category());
            return done;
        }
        self->bytes_transferred_ = static_cast<std::size_t>(n);
        if (n == 0)
            self->ec_ = asio::error::eof;
        return self->bytes_transferred_ < self->m_space.size() ? done_and_exhausted : done;
    }

private:
    // `owner` is null when the loop is destroyed with the read still waiting: the handler goes
    // without being called, as Asio's own reads do then.
    static void complete(void *owner, asio::detail::operation *base, const boost::system::error_code &, std::size_t)
    {
        auto *self = static_cast<ReadOperation *>(base);
        Handler handler(std::move(self->m_handler));
        const boost::system::error_code ec = self->ec_;
        const std::size_t n = self->bytes_transferred_;
        delete self;
        if (owner)
            std::move(handler)(ec, n);
    }

    int m_descriptor;
    asio::mutable_buffer m_space;
    Handler m_handler;
};

} // namespace draining

// Reads what has arrived on `socket` into `space`, or waits for it; completes as the socket's
// async_read_some does (eof at the end of the stream, operation_aborted when the socket is closed).
// `tryFirst`: the socket is read at once whatever the loop last heard (see above).
template <class Socket, class Token>
auto asyncReadDraining(Socket &socket, boost::asio::mutable_buffer space, bool tryFirst, Token &&token)
{
    namespace asio = boost::asio;
    return asio::async_initiate<Token, void(boost::system::error_code, std::size_t)>(
        [&socket, space, tryFirst](auto handler) {
            using Handler = std::decay_t<decltype(handler)>;
            using Operation = draining::ReadOperation<Handler>;
            if (space.size() == 0) {
                asio::post(socket.get_executor(), [handler = std::move(handler)]() mutable {
                    std::move(handler)(boost::system::error_code(), std::size_t(0));
                });
                return;
            }
            auto &implementation = draining::SocketAccess<Socket>::implementation(socket);
            auto &reactor = asio::use_service<asio::detail::reactor>(
                asio::query(socket.get_executor(), asio::execution::context));
            auto *operation = new Operation(implementation.socket_, space, std::move(handler));
            // Read here, the loop's note of the socket stays as it was: only what the loop itself saw
            // may say the socket is drained.
            if (tryFirst && implementation.socket_ != -1 && Operation::perform(operation) != Operation::not_done) {
                reactor.post_immediate_completion(operation, false);
                return;
            }
            reactor.start_op(asio::detail::reactor::read_op, implementation.socket_, implementation.reactor_data_,
                             operation, false, true);
        },
        token);
}

} // namespace standin::net
