// control/: the control port's HTTP server and the event stream the proxy publishes to.
// The control port's HTTP plumbing: request and response values the handlers see, the router that
// picks a handler, and the server that reads, dispatches and answers on the shared I/O threads.
#pragma once

#include "net/connection_set.h"
#include "net/io_pool.h"

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

class EventSubscription;

struct ControlRequest {
    std::string method;
    std::string path; // percent-decoded
    std::string target;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::multimap<std::string, std::string> params; // query parameters, percent-decoded
    std::vector<std::string> matches;               // the pattern's ":name" segments in order; [0] is the whole path

    bool hasParam(const char *name) const;
    std::string paramValue(const char *name) const; // "" when absent
    bool hasHeader(const char *name) const;
    std::string headerValue(const char *name) const; // case-insensitive; "" when absent
    std::size_t headerCount(const char *name) const; // case-insensitive
};

// Payloads of an event stream, sent one "data:" line each as they are published.
struct ControlEventStream {
    std::shared_ptr<EventSubscription> subscription;
    std::vector<std::string> firstLines; // sent as they are, before anything published
    std::function<void()> onEnd;
};

struct ControlResponse {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::shared_ptr<ControlEventStream> stream;
    // Set by a handler whose answer comes from work done elsewhere: called once, after the handler, with
    // a function that takes the answer (from any thread). The connection waits without holding a worker.
    std::function<void(std::function<void(ControlResponse)>)> later;

    void setContent(std::string content, const std::string &contentType);
    void setHeader(const std::string &name, const std::string &value);
};

enum class PreRouting { Unhandled, Handled, Hold };
// Cheap handlers run on the I/O thread; the rest on the blocking pool, so a long import never
// holds up another connection.
enum class Dispatch { Worker, Inline };

class ControlRouter final {
public:
    using Handler = std::function<void(const ControlRequest &, ControlResponse &)>;

    // Longer targets are answered 414 before any routing: no control path comes near it.
    static constexpr std::size_t kMaxTargetBytes = 16 * 1024;

    // A pattern is a path whose segments either match literally or, written ":name", match any one
    // non-empty segment ("/projects/:id/activate").
    void onGet(std::string_view pattern, Handler handler, Dispatch dispatch = Dispatch::Worker);
    void onPost(std::string_view pattern, Handler handler, Dispatch dispatch = Dispatch::Worker);
    void onPut(std::string_view pattern, Handler handler, Dispatch dispatch = Dispatch::Worker);
    void onPatch(std::string_view pattern, Handler handler, Dispatch dispatch = Dispatch::Worker);
    void onDelete(std::string_view pattern, Handler handler, Dispatch dispatch = Dispatch::Worker);

    // Runs on every request after its header and before its body is read.
    void setPreRoutingHandler(std::function<PreRouting(const ControlRequest &, ControlResponse &)> handler);
    // Runs on every answer with a status of 400 or more.
    void setErrorHandler(Handler handler);
    void setExceptionHandler(std::function<void(const ControlRequest &, ControlResponse &, std::exception_ptr)> handler);
    void setPayloadMaxLength(std::size_t bytes) { m_maxBody = bytes; }
    std::size_t payloadMaxLength() const { return m_maxBody; }
    // The saved lists (routes, environments, a profile) are as large as the state may hold, far past
    // what any other request needs: these paths take up to `bytes`.
    void allowLargeBody(const std::string &method, const std::string &path, std::size_t bytes);
    // The body limit of this request: its path's own, else the router's.
    std::size_t payloadMaxLength(const ControlRequest &request) const;

    struct Route {
        std::string method;
        std::vector<std::string> segments; // ":name" ones capture
        Handler handler;
        Dispatch dispatch;
    };
    PreRouting preRoute(const ControlRequest &request, ControlResponse &response) const;
    // The route for the request, with its groups filled in; nothing when none matches.
    const Route *find(ControlRequest &request) const;
    void run(const Route &route, const ControlRequest &request, ControlResponse &response) const;
    void finishError(const ControlRequest &request, ControlResponse &response) const;

private:
    void add(const char *method, std::string_view pattern, Handler handler, Dispatch dispatch);

    std::vector<Route> m_routes;
    std::function<PreRouting(const ControlRequest &, ControlResponse &)> m_preRouting;
    Handler m_error;
    std::function<void(const ControlRequest &, ControlResponse &, std::exception_ptr)> m_exception;
    std::size_t m_maxBody = 4 * 1024 * 1024;
    std::map<std::pair<std::string, std::string>, std::size_t> m_largeBodies;
};

// Splits "path?query" into its decoded path and parameters ("+" in a value is a space).
void parseControlTarget(const std::string &target, std::string &path, std::multimap<std::string, std::string> &params);
std::string percentDecode(std::string_view text, bool plusIsSpace);

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
