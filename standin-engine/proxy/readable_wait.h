// Waiting until a client's socket has something to read, holding nothing meanwhile: no read buffer,
// no pending read of a stream above it.
#pragma once

#include "net/http_reading.h"

namespace standin {

// Waits until the socket has something to read (or the peer closed it), at most until `deadline`,
// without closing it when the time runs out as a timed read would; false then, or at an error.
net::asio::awaitable<bool> waitReadable(net::beast::tcp_stream &stream, net::Deadline deadline,
                                        net::beast::error_code &ec);

} // namespace standin
