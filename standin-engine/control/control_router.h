// The control port's router: a handler per method and path pattern, with the hooks every request passes.
#pragma once

#include "control/control_request.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standin {

enum class PreRouting { Unhandled, Handled, Hold };
// Cheap handlers run on the I/O thread; the rest on the blocking pool, so a long import never
// holds up another connection.
enum class Dispatch { Worker, Inline };

class ControlRouter final {
public:
    // A handler may take what it reads from the request (an import's body, once parsed), so that a large
    // body is not held while the answer is made.
    using Handler = std::function<void(ControlRequest &, ControlResponse &)>;
    using ErrorHandler = std::function<void(const ControlRequest &, ControlResponse &)>;

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
    void setErrorHandler(ErrorHandler handler);
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
    void run(const Route &route, ControlRequest &request, ControlResponse &response) const;
    void finishError(const ControlRequest &request, ControlResponse &response) const;

private:
    void add(const char *method, std::string_view pattern, Handler handler, Dispatch dispatch);

    std::vector<Route> m_routes;
    std::function<PreRouting(const ControlRequest &, ControlResponse &)> m_preRouting;
    ErrorHandler m_error;
    std::function<void(const ControlRequest &, ControlResponse &, std::exception_ptr)> m_exception;
    std::size_t m_maxBody = 4 * 1024 * 1024;
    std::map<std::pair<std::string, std::string>, std::size_t> m_largeBodies;
};

} // namespace standin
