// Plain reads with one timer, and what makes a request's framing ambiguous.
#include "net/http_reading.h"

#include "net/draining_read.h"
#include "net/http_fields.h"

#include <cerrno>
#include <vector>
#include <sys/socket.h>

namespace standin::net {

namespace {

// What a plain read's timer finds when it fires: the read still waiting, or a wake-up that came too late.
struct PlainRead {
    tcp::socket *socket;
    bool waiting = true;
    bool timedOut = false;
};

// What is wrong with a request's transfer codings, if anything: the list must end in chunked, which
// comes once. Empty list elements are allowed and skipped (RFC 9110 §5.6.1).
std::optional<std::string_view> codingsProblem(beast::string_view value)
{
    std::vector<beast::string_view> codings;
    for (std::size_t at = 0; at <= value.size();) {
        std::size_t end = value.find(',', at);
        if (end == beast::string_view::npos)
            end = value.size();
        beast::string_view coding = value.substr(at, end - at);
        while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t'))
            coding.remove_prefix(1);
        while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t'))
            coding.remove_suffix(1);
        if (!coding.empty())
            codings.push_back(coding);
        at = end + 1;
    }
    if (codings.empty() || !beast::iequals(codings.back(), "chunked"))
        return "a Transfer-Encoding that does not end in chunked, so the body's length is unknown";
    for (std::size_t i = 0; i + 1 < codings.size(); ++i) {
        if (beast::iequals(codings[i], "chunked"))
            return "chunked applied more than once";
    }
    if (codings.size() > 1)
        return kUnknownTransferCoding;
    return std::nullopt;
}

} // namespace

asio::awaitable<std::size_t> readPlain(beast::tcp_stream &stream, asio::mutable_buffer space, Deadline deadline,
                                       beast::error_code &ec, ReadKind kind)
{
    tcp::socket &socket = stream.socket();
    if (deadline <= std::chrono::steady_clock::now()) {
        beast::error_code ignored;
        socket.close(ignored);
        ec = beast::error::timeout;
        co_return 0;
    }
    const auto read = std::make_shared<PlainRead>(PlainRead {&socket});
    asio::steady_timer timer(socket.get_executor(), deadline);
    // The read may end, and its frame go, before a timer that already fired is heard.
    timer.async_wait([watched = std::weak_ptr<PlainRead>(read)](const beast::error_code &waited) {
        const auto current = watched.lock();
        if (waited || !current || !current->waiting)
            return;
        current->timedOut = true;
        beast::error_code ignored;
        current->socket->close(ignored);
    });
    const std::size_t n = kind == ReadKind::Usual
                              ? co_await socket.async_read_some(space, asio::redirect_error(asio::use_awaitable, ec))
                              : co_await asyncReadDraining(socket, space, kind == ReadKind::FromHost,
                                                           asio::redirect_error(asio::use_awaitable, ec));
    read->waiting = false;
    timer.cancel();
    if (read->timedOut) {
        ec = beast::error::timeout;
        co_return 0;
    }
    co_return n;
}

std::optional<std::string> framingProblem(const http::request_parser<http::empty_body>::value_type &header)
{
    const auto lengths = countFields(header, http::field::content_length);
    if (lengths > 1
        || (lengths == 1 && findField(header, http::field::content_length)->value().find(',') != beast::string_view::npos))
        return "more than one Content-Length";
    const auto encodings = countFields(header, http::field::transfer_encoding);
    if (encodings > 1)
        return "more than one Transfer-Encoding";
    if (encodings == 1) {
        if (lengths)
            return "both Content-Length and Transfer-Encoding";
        if (const auto problem = codingsProblem(findField(header, http::field::transfer_encoding)->value()))
            return std::string(*problem);
    }
    return std::nullopt;
}

bool isProtocolError(const beast::error_code &ec)
{
    static const auto &category = http::make_error_code(http::error::end_of_stream).category();
    return ec && ec.category() == category && ec != http::error::end_of_stream;
}

} // namespace standin::net
