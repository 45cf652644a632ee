// Fields of relayed messages.
#include "forward/relayed_fields.h"
#include "net/http_fields.h"

#include <boost/asio/ssl/error.hpp>

#include <cstring>
#include <set>
#include <utility>

namespace standin::proxy {

namespace {

namespace asio = net::asio;

std::string_view text(beast::string_view view)
{
    return {view.data(), view.size()};
}

} // namespace

std::size_t ConnectionNames::FoldedHash::operator()(std::string_view name) const
{
    std::size_t hash = 14695981039346656037ull; // FNV-1a over the lower-case letters
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        hash *= 1099511628211ull;
    }
    return hash;
}

bool ConnectionNames::FoldedEqual::operator()(std::string_view a, std::string_view b) const
{
    return beast::iequals(beast::string_view(a.data(), a.size()), beast::string_view(b.data(), b.size()));
}

bool isHopByHop(http::field name)
{
    // Trailer is end to end: it announces the trailer fields, which are relayed.
    switch (name) {
    case http::field::connection:
    case http::field::proxy_connection:
    case http::field::keep_alive:
    case http::field::proxy_authorization:
    case http::field::proxy_authenticate:
    case http::field::te:
    case http::field::transfer_encoding:
    case http::field::upgrade:
        return true;
    default:
        return false;
    }
}

bool isHopByHop(std::string_view name)
{
    return isHopByHop(http::string_to_field(beast::string_view(name.data(), name.size())));
}

bool closedByHost(const beast::error_code &ec)
{
    return ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset
           || ec == asio::error::broken_pipe || ec == asio::error::connection_aborted
           || ec == asio::ssl::error::stream_truncated;
}

bool isIdempotent(std::string_view method)
{
    for (const std::string_view safe : {"GET", "HEAD", "OPTIONS", "TRACE", "PUT", "DELETE"}) {
        if (method == safe)
            return true;
    }
    return false;
}

void setInPlace(http::fields &fields, http::field name, std::string_view value)
{
    auto at = fields.begin();
    while (at != fields.end() && at->name() != name)
        ++at;
    if (at == fields.end()) {
        fields.set(name, beast::string_view(value.data(), value.size()));
        return;
    }
    if (text(at->value()) == value && net::countFields(fields, name) == 1)
        return; // as nearly every client sends it

    // Fields can only be added at the end: the field and those after it go again, in order.
    const std::string spelled(text(at->name_string()));
    std::vector<std::pair<std::string, std::string>> after;
    for (auto field = std::next(at); field != fields.end(); ++field) {
        if (field->name() != name)
            after.emplace_back(text(field->name_string()), text(field->value()));
    }
    while (at != fields.end())
        at = fields.erase(at);
    fields.insert(spelled, beast::string_view(value.data(), value.size()));
    for (const auto &[fieldName, fieldValue] : after)
        fields.insert(fieldName, fieldValue);
}

HeadFields headFields(const http::fields &fields)
{
    HeadFields head;
    for (const auto &field : fields)
        head.push_back(&field);
    return head;
}

std::optional<std::string> lastChunkWithTrailers(const http::fields &fields, const HeadFields &head)
{
    std::string chunk = "0\r\n";
    bool any = false;
    // The head's fields are still there in their order, trailers slotted in among them.
    auto next = head.begin();
    for (const auto &field : fields) {
        if (next != head.end() && *next == &field) {
            ++next;
            continue;
        }
        if (field.name() == http::field::content_length || isHopByHop(field.name()))
            continue;
        chunk.append(text(field.name_string())).append(": ").append(text(field.value())).append("\r\n");
        any = true;
    }
    if (!any)
        return std::nullopt;
    return chunk + "\r\n";
}

std::optional<std::string> codingsBesidesChunked(const http::fields &fields)
{
    std::string codings;
    bool other = false;
    for (const auto &field : fields) {
        if (field.name() != http::field::transfer_encoding)
            continue;
        for (const auto &coding : http::token_list {field.value()}) {
            other = other || !beast::iequals(coding, "chunked");
            codings.append(codings.empty() ? "" : ", ").append(text(coding));
        }
    }
    if (!other)
        return std::nullopt;
    return codings;
}

std::string interimHead(const http::response_header<> &interim, const std::string &viaToken)
{
    http::response_header<> relayed = interim;
    dropHopByHop(relayed);
    markVia(relayed, relayed.version(), viaToken);
    std::string head = "HTTP/1.1 " + std::to_string(relayed.result_int()) + " ";
    head.append(text(relayed.reason())).append("\r\n");
    for (const auto &field : relayed)
        head.append(text(field.name_string())).append(": ").append(text(field.value())).append("\r\n");
    return head + "\r\n";
}

namespace {

// The room a head's fields and its blank line take, made at once so the head is not moved as it grows.
std::size_t fieldsSize(const http::fields &fields)
{
    std::size_t size = 2;
    for (const auto &field : fields)
        size += field.name_string().size() + field.value().size() + 4;
    return size;
}

// Written into room made by fieldsSize, without a check per piece.
void appendFields(std::string &head, const http::fields &fields)
{
    std::size_t at = head.size();
    head.resize(at + fieldsSize(fields));
    char *out = head.data() + at;
    const auto put = [&](beast::string_view piece) {
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
    };
    for (const auto &field : fields) {
        put(field.name_string());
        *out++ = ':';
        *out++ = ' ';
        put(field.value());
        *out++ = '\r';
        *out++ = '\n';
    }
    *out++ = '\r';
    *out = '\n';
}

std::string versionText(unsigned version)
{
    if (version == 11)
        return "HTTP/1.1";
    if (version == 10)
        return "HTTP/1.0";
    return "HTTP/" + std::to_string(version / 10) + "." + std::to_string(version % 10);
}

} // namespace

void markVia(http::fields &fields, unsigned version, const std::string &token)
{
    std::string via;
    for (const auto &field : fields) {
        if (field.name() == http::field::via)
            via.append(text(field.value())).append(", ");
    }
    via.append(version == 10 ? "1.0 " : "1.1 ").append(token);
    net::eraseFields(fields, http::field::via);
    fields.insert(http::field::via, via);
}

std::string answerHead(const http::response_header<> &header)
{
    const beast::string_view reason = header.reason().empty() ? http::obsolete_reason(header.result()) : header.reason();
    std::string head;
    head.reserve(16 + reason.size() + fieldsSize(header));
    head.append(versionText(header.version())).append(" ").append(std::to_string(header.result_int())).append(" ");
    head.append(text(reason)).append("\r\n");
    appendFields(head, header);
    return head;
}

std::string requestHead(const http::request_header<> &header)
{
    std::string head;
    head.reserve(header.method_string().size() + header.target().size() + 12 + fieldsSize(header));
    head.append(text(header.method_string())).append(" ").append(text(header.target())).append(" ").append(versionText(header.version())).append("\r\n");
    appendFields(head, header);
    return head;
}

} // namespace standin::proxy
