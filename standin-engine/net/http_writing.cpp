// Writes without waiting, and the engine's JSON error answers.
#include "net/http_writing.h"

#include "engine/records/error_reply.h"
#include "engine/records/json_rules.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/uio.h>

namespace standin::net {

std::size_t sendNow(tcp::socket &socket, const asio::const_buffer *pieces, std::size_t count, beast::error_code &ec)
{
    iovec vectors[8];
    count = std::min(count, std::size(vectors));
    for (std::size_t i = 0; i < count; ++i)
        vectors[i] = {const_cast<void *>(pieces[i].data()), pieces[i].size()};
    msghdr message {};
    message.msg_iov = vectors;
    message.msg_iovlen = count;
    ssize_t sent;
    do
        sent = ::sendmsg(socket.native_handle(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent >= 0)
        return static_cast<std::size_t>(sent);
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        ec.assign(errno, boost::system::system_category());
    return 0;
}

http::response<http::string_body> jsonError(unsigned version, int status, const std::string &message, bool keepAlive)
{
    http::response<http::string_body> response {static_cast<http::status>(status), version};
    response.set(http::field::content_type, "application/json");
    response.body() = encodeRecord(ErrorReply {message});
    response.keep_alive(keepAlive);
    response.prepare_payload();
    return response;
}

} // namespace standin::net
