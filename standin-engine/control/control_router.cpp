// Picking a control request's handler by method and path pattern, and running it.
#include "control/control_router.h"

namespace standin {

namespace {

// "/a/b/" gives "a", "b", "": a trailing slash is a segment of its own, so "/routes/" is not "/routes".
std::vector<std::string> pathSegments(std::string_view path)
{
    std::vector<std::string> segments;
    if (!path.empty() && path.front() == '/')
        path.remove_prefix(1);
    for (;;) {
        const size_t slash = path.find('/');
        segments.emplace_back(path.substr(0, slash));
        if (slash == std::string_view::npos)
            return segments;
        path.remove_prefix(slash + 1);
    }
}

bool isCapture(const std::string &segment)
{
    return segment.size() > 1 && segment.front() == ':';
}

} // namespace

void ControlRouter::add(const char *method, std::string_view pattern, Handler handler, Dispatch dispatch)
{
    m_routes.push_back(Route {method, pathSegments(pattern), std::move(handler), dispatch});
}

void ControlRouter::onGet(std::string_view pattern, Handler handler, Dispatch dispatch)
{
    add("GET", pattern, std::move(handler), dispatch);
}

void ControlRouter::onPost(std::string_view pattern, Handler handler, Dispatch dispatch)
{
    add("POST", pattern, std::move(handler), dispatch);
}

void ControlRouter::onPut(std::string_view pattern, Handler handler, Dispatch dispatch)
{
    add("PUT", pattern, std::move(handler), dispatch);
}

void ControlRouter::onPatch(std::string_view pattern, Handler handler, Dispatch dispatch)
{
    add("PATCH", pattern, std::move(handler), dispatch);
}

void ControlRouter::onDelete(std::string_view pattern, Handler handler, Dispatch dispatch)
{
    add("DELETE", pattern, std::move(handler), dispatch);
}

void ControlRouter::setPreRoutingHandler(std::function<PreRouting(const ControlRequest &, ControlResponse &)> handler)
{
    m_preRouting = std::move(handler);
}

void ControlRouter::setErrorHandler(ErrorHandler handler)
{
    m_error = std::move(handler);
}

void ControlRouter::setExceptionHandler(
    std::function<void(const ControlRequest &, ControlResponse &, std::exception_ptr)> handler)
{
    m_exception = std::move(handler);
}

void ControlRouter::allowLargeBody(const std::string &method, const std::string &path, std::size_t bytes)
{
    m_largeBodies[{method, path}] = bytes;
}

std::size_t ControlRouter::payloadMaxLength(const ControlRequest &request) const
{
    const auto large = m_largeBodies.find({request.method, request.path});
    return large != m_largeBodies.end() ? large->second : m_maxBody;
}

PreRouting ControlRouter::preRoute(const ControlRequest &request, ControlResponse &response) const
{
    return m_preRouting ? m_preRouting(request, response) : PreRouting::Unhandled;
}

const ControlRouter::Route *ControlRouter::find(ControlRequest &request) const
{
    if (request.path.empty() || request.path.front() != '/')
        return nullptr;
    const std::vector<std::string> segments = pathSegments(request.path);
    for (const auto &route : m_routes) {
        if (route.method != request.method || route.segments.size() != segments.size())
            continue;
        bool same = true;
        for (size_t i = 0; same && i < segments.size(); ++i) {
            const std::string &wanted = route.segments[i];
            same = isCapture(wanted) ? !segments[i].empty() : wanted == segments[i];
        }
        if (!same)
            continue;
        request.matches.assign(1, request.path);
        for (size_t i = 0; i < segments.size(); ++i) {
            if (isCapture(route.segments[i]))
                request.matches.push_back(segments[i]);
        }
        return &route;
    }
    return nullptr;
}

void ControlRouter::run(const Route &route, ControlRequest &request, ControlResponse &response) const
{
    try {
        route.handler(request, response);
    } catch (...) {
        response = ControlResponse {};
        if (m_exception)
            m_exception(request, response, std::current_exception());
        else
            response.status = 500;
    }
}

void ControlRouter::finishError(const ControlRequest &request, ControlResponse &response) const
{
    if (response.status >= 400 && m_error)
        m_error(request, response);
}

} // namespace standin
