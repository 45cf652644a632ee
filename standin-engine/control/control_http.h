// control/: the control port's HTTP server and the event stream the proxy publishes to.
// The control port's HTTP plumbing: request and response values the handlers see, the router that
// picks a handler, and the server that reads, dispatches and answers on the shared I/O threads.
#pragma once

#include "control/control_request.h"
#include "control/control_router.h"
#include "net/connection_set.h"
#include "net/io_pool.h"

#include <memory>
#include <string>

namespace standin {

// A full control port closes its longest-idle connection for a new one, so idle connections from
// any local process never lock the app out.
class ControlServer final {
public:
    explicit ControlServer(net::IoPool &pool);
    ~ControlServer();

    ControlRouter &router() { return m_router; }
    bool bind(int port, std::string &error);
    void start();
    void stop();
    int port() const { return m_listener.port(); }

private:
    net::asio::awaitable<void> serve(std::shared_ptr<net::beast::tcp_stream> stream,
                                     std::unique_ptr<net::ConnectionTicket> ticket);

    net::IoPool &m_pool;
    ControlRouter m_router;
    net::Listener m_listener;
    net::ConnectionSet m_connections;
};

} // namespace standin
