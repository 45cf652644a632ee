// What a relay changes in, and reads from, the fields of the messages it passes on: framing named in
// Connection, the Host field, trailer fields and interim heads.
#pragma once

#include "core/engine_support.h"
#include "net/net_core.h"

#include <algorithm>

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin::proxy {

namespace beast = net::beast;
namespace http = net::http;

bool isHopByHop(std::string_view name);
bool isHopByHop(http::field name);

// Removes hop-by-hop fields, and those the Connection field names, from a message about to be relayed.
template <class Fields>
void dropHopByHop(Fields &fields)
{
    std::vector<std::string> named;
    for (const auto &field : fields) {
        if (field.name() != http::field::connection)
            continue;
        for (const auto &token : http::token_list {field.value()})
            named.emplace_back(token.data(), token.size());
    }
    const auto isNamed = [&](beast::string_view name) {
        return std::any_of(named.begin(), named.end(), [&](const std::string &token) { return beast::iequals(token, name); });
    };
    for (auto field = fields.begin(); field != fields.end();) {
        if (isHopByHop(field->name()) || (!named.empty() && isNamed(field->name_string())))
            field = fields.erase(field);
        else
            ++field;
    }
}

// The framing field (Content-Length, Transfer-Encoding) a message's Connection field names, if any:
// a hop that drops it as asked passes the body on framed differently from how it was read.
template <class Fields>
std::optional<std::string> framingNamedInConnection(const Fields &fields)
{
    for (const auto &field : fields) {
        if (field.name() != http::field::connection)
            continue;
        for (const auto &token : http::token_list {field.value()}) {
            if (beast::iequals(token, "content-length") || beast::iequals(token, "transfer-encoding"))
                return std::string(token);
        }
    }
    return std::nullopt;
}

// How a kept connection fails when the host had closed it.
bool closedByHost(const beast::error_code &ec);

// A method whose request may go to the host twice without harm (RFC 9110 §9.2.2).
bool isIdempotent(std::string_view method);

// Gives the Host field `host` where the client put it and spelled as the client spelled it; added at
// the end when the client sent none.
void setHostInPlace(http::fields &fields, std::string_view host);

// The fields a message has so far; those a parser adds past this count after its body are trailers.
inline std::size_t fieldCount(const http::fields &fields)
{
    return static_cast<std::size_t>(std::distance(fields.begin(), fields.end()));
}

// The last chunk of a chunked body with the trailer fields that follow the first `headerFields`
// fields (framing and hop-by-hop ones left out); nothing when there are none, so the serializer's own
// last chunk serves.
std::optional<std::string> lastChunkWithTrailers(const http::fields &fields, std::size_t headerFields);

// That last chunk when a chunked body has ended with trailer fields: it goes out by hand, as the
// serializer's own carries none, and the serializer then writes only the body's pieces.
template <class Message>
std::optional<std::string> trailersAtEnd(Message &message, bool ended, std::size_t headerFields)
{
    if (!ended || !message.chunked())
        return std::nullopt;
    auto last = lastChunkWithTrailers(message, headerFields);
    if (last)
        message.body().more = true;
    return last;
}

// An interim (1xx) answer's head as it goes to the client: its status, reason and end-to-end fields.
std::string interimHead(const http::response_header<> &interim);

// Adds this engine to the Via list, so a request is known again if its host leads back here.
void markVia(http::fields &fields, unsigned version, const std::string &token);

// A head exactly as Beast's serializer writes it, so it can leave in one write with its body.
std::string answerHead(const http::response_header<> &header);
std::string requestHead(const http::request_header<> &header);

} // namespace standin::proxy
