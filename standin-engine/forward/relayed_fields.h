// What a relay changes in, and reads from, the fields of the messages it passes on: framing named in
// Connection, the Host field, trailer fields and interim heads.
#pragma once

#include "core/engine_support.h"
#include "net/net_limits.h"

#include <algorithm>

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace standin::proxy {

namespace beast = net::beast;
namespace http = net::http;

bool isHopByHop(std::string_view name);
bool isHopByHop(http::field name);

// Field names as a Connection field lists them, found again whatever their case.
class ConnectionNames final {
public:
    void add(beast::string_view name) { m_names.emplace(name.data(), name.size()); }
    bool empty() const { return m_names.empty(); }
    bool contains(beast::string_view name) const
    {
        return m_names.find(std::string_view(name.data(), name.size())) != m_names.end();
    }

private:
    struct FoldedHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const;
    };
    struct FoldedEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    std::unordered_set<std::string, FoldedHash, FoldedEqual> m_names;
};

// Removes hop-by-hop fields, and those the Connection field names, from a message about to be relayed.
// Each field is looked up once among the names, so a head listing thousands costs no more than its size.
template <class Fields>
void dropHopByHop(Fields &fields)
{
    ConnectionNames named;
    for (const auto &field : fields) {
        if (field.name() != http::field::connection)
            continue;
        for (const auto &token : http::token_list {field.value()})
            named.add(token);
    }
    for (auto field = fields.begin(); field != fields.end();) {
        if (isHopByHop(field->name()) || (!named.empty() && named.contains(field->name_string())))
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

// Gives the field `name` the one value `value` where the client put it and spelled as the client
// spelled it; added at the end when the client sent none.
void setInPlace(http::fields &fields, http::field name, std::string_view value);
inline void setHostInPlace(http::fields &fields, std::string_view host)
{
    setInPlace(fields, http::field::host, host);
}

// The fields of a message's head as it goes out, in order, so the trailer fields a parser adds after a
// chunked body are told apart from them: Beast files a field beside its namesakes, so a trailer that
// shares a header field's name lands among the head's fields, not after them.
using HeadFields = std::vector<const http::fields::value_type *>;
HeadFields headFields(const http::fields &fields);

// The last chunk of a chunked body with the trailer fields (those not in `head`; framing and hop-by-hop
// ones left out); nothing when there are none, so the serializer's own last chunk serves.
std::optional<std::string> lastChunkWithTrailers(const http::fields &fields, const HeadFields &head);

// That last chunk when a chunked body has ended with trailer fields: it goes out by hand, as the
// serializer's own carries none, and the serializer then writes only the body's pieces.
template <class Message>
std::optional<std::string> trailersAtEnd(Message &message, bool ended, const HeadFields &head)
{
    if (!ended || !message.chunked())
        return std::nullopt;
    auto last = lastChunkWithTrailers(message, head);
    if (last)
        message.body().more = true;
    return last;
}

// The transfer codings of a message when it names any besides chunked ("gzip, chunked"), as one list
// in the order given; nothing when it has none or only chunked.
std::optional<std::string> codingsBesidesChunked(const http::fields &fields);

// An interim (1xx) answer's head as it goes to the client: its status, reason and end-to-end fields,
// and this engine in its Via list.
std::string interimHead(const http::response_header<> &interim, const std::string &viaToken);

// Adds this engine to the Via list of a message it passes on, received as HTTP/`version`: a request so it
// is known again if its host leads back here, an answer so its client sees the hop.
void markVia(http::fields &fields, unsigned version, const std::string &token);

// A head exactly as Beast's serializer writes it, so it can leave in one write with its body.
std::string answerHead(const http::response_header<> &header);
std::string requestHead(const http::request_header<> &header);

} // namespace standin::proxy
