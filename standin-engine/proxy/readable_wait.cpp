// Waiting for a socket to become readable, cut short by a deadline that leaves the socket open.
#include "proxy/readable_wait.h"

#include <memory>

namespace standin {

namespace asio = net::asio;
namespace beast = net::beast;

namespace {

// What a wait's deadline finds when it fires: the wait still on, or one that ended meanwhile.
struct ReadableWait {
    net::tcp::socket *socket;
    bool waiting = true;
    bool late = false;
};

} // namespace

asio::awaitable<bool> waitReadable(beast::tcp_stream &stream, net::Deadline deadline, beast::error_code &ec)
{
    const auto wait = std::make_shared<ReadableWait>(ReadableWait {&stream.socket()});
    asio::steady_timer timer(co_await asio::this_coro::executor, deadline);
    // On a busy thread the socket and the deadline may both be ready in one turn: this frame is then
    // gone, and the socket waits for something else, before the deadline's handler runs.
    timer.async_wait([watched = std::weak_ptr<ReadableWait>(wait)](beast::error_code waited) {
        const auto current = watched.lock();
        if (waited || !current || !current->waiting)
            return;
        current->late = true;
        beast::error_code ignored;
        current->socket->cancel(ignored);
    });
    co_await stream.socket().async_wait(net::tcp::socket::wait_read, asio::redirect_error(asio::use_awaitable, ec));
    wait->waiting = false;
    timer.cancel();
    if (ec && wait->late) { // the wait was cut short, nothing failed
        ec = {};
        co_return false;
    }
    co_return !ec;
}

} // namespace standin
