// The proxy's own answers: refusals that name their cause, and the last recipient's answer.
#include "exchange/own_answers.h"

#include "core/engine_support.h"

#include <charconv>

namespace standin {

namespace {

bool named(std::string_view name, std::string_view wanted)
{
    return name.size() == wanted.size() && lowerAscii(name) == wanted;
}

} // namespace

std::string whyNoHost(const ProxiedRequest &request, std::string_view target)
{
    std::string why = "not a proxy request: ";
    if (target == "*") {
        if (request.method != "OPTIONS")
            return why + "the target \"*\" is only for OPTIONS";
        return why + "OPTIONS * asks about the server it is sent to, and the proxy forwards requests to the "
                     "host they name: to ask a host, send OPTIONS with its absolute URL (OPTIONS http://host:port)";
    }
    if (target.find("://") != std::string_view::npos)
        return why + "the target is no http:// or https:// URL with a valid host and port";
    if (!target.empty() && target.front() == '/' && hostFieldCount(request) > 0)
        return why + "the Host field is no valid host and port";
    return why + "expected an absolute http:// URL or a Host header";
}

std::size_t hostFieldCount(const ProxiedRequest &request)
{
    std::size_t count = 0;
    for (const auto &field : request.headers)
        count += named(field.first, "host") ? 1 : 0;
    return count;
}

std::optional<std::uint64_t> hopsLeft(const ProxiedRequest &request)
{
    if (request.method != "OPTIONS" && request.method != "TRACE")
        return std::nullopt;
    for (const auto &[name, value] : request.headers) {
        if (!named(name, "max-forwards"))
            continue;
        std::uint64_t hops = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), hops);
        if (ec != std::errc() || end != value.data() + value.size())
            return std::nullopt;
        return hops;
    }
    return std::nullopt;
}

ProxiedResponse lastRecipientAnswer(const ProxiedRequest &request)
{
    ProxiedResponse response;
    response.status = 200;
    if (request.method != "TRACE")
        return response;
    response.contentType = "message/http";
    std::string &reflected = response.body;
    reflected.append(request.method).append(" ").append(request.target);
    reflected.append(request.version == 10 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    for (const auto &[name, value] : request.headers) {
        if (named(name, "authorization") || named(name, "proxy-authorization") || named(name, "cookie"))
            continue;
        reflected.append(name).append(": ").append(value).append("\r\n");
    }
    reflected.append("\r\n");
    return response;
}

} // namespace standin
