// The proxy port's listener and session: reads requests, answers from routes (a mock's body read
// whole under a limit), hands pass-through to the forwarder and CONNECT to the tunnel.
#include "proxy/proxy_server.h"

#include "core/bounded_input.h"
#include "forward/joined_connections.h"
#include "forward/proxy_connection.h"
#include "net/body_pace.h"
#include "net/connection_set.h"
#include "net/http_fields.h"
#include "net/http_reading.h"
#include "net/http_writing.h"
#include "net/io_pool.h"
#include "net/lingering_close.h"
#include "proxy/readable_wait.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <limits>
#include <sys/socket.h>
#include <type_traits>

namespace standin {

using namespace proxy;
using net::Limits;
using net::tcp;

namespace {

bool isFieldFramedByEngine(beast::string_view name)
{
    for (const beast::string_view own : {"content-type", "content-length", "connection", "transfer-encoding",
                                       "keep-alive", "proxy-connection"}) {
        if (beast::iequals(name, own))
            return true;
    }
    return false;
}

// The status line; a status without a standard reason gets an empty one.
void writeStatusLine(std::string &head, int status, unsigned version)
{
    const auto code = static_cast<unsigned>(status);
    beast::string_view reason = http::obsolete_reason(static_cast<http::status>(status));
    if (reason == http::obsolete_reason(static_cast<http::status>(0)))
        reason = {};
    head.clear();
    const char line[] = {'H', 'T', 'T', 'P', '/', static_cast<char>('0' + version / 10), '.',
                         static_cast<char>('0' + version % 10), ' ', static_cast<char>('0' + code / 100),
                         static_cast<char>('0' + code / 10 % 10), static_cast<char>('0' + code % 10), ' '};
    head.append(line, sizeof line);
    head.append(reason.data(), reason.size());
    head += "\r\n";
}

// No Content-Length goes with a 1xx, 204 or 304 answer (RFC 9110 §8.6).
bool carriesLength(int status)
{
    return status >= 200 && status != 204 && status != 304;
}

// The answer's status line and fields as the HTTP library writes them for a route whose own fields
// need no merging (each named once, none the engine frames the answer with), written into the
// connection's buffer so an answer allocates nothing; false when the library has to do it.
bool writeAnswerHead(std::string &head, const ProxiedResponse &out, unsigned version, bool keepAlive,
                     std::size_t contentLength)
{
    if (out.status < 100 || out.status > 999)
        return false;
    for (std::size_t i = 0; i < out.headers.size(); ++i) {
        const auto &[name, value] = out.headers[i];
        if (name.empty() || name.size() > 4096 || value.size() > 16384 || isFieldFramedByEngine(name))
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (beast::iequals(out.headers[j].first, name))
                return false;
        }
    }
    writeStatusLine(head, out.status, version);
    for (const auto &[name, value] : out.headers) {
        const beast::string_view trimmed = http::detail::trim(value);
        head += name;
        head += ": ";
        head.append(trimmed.data(), trimmed.size());
        head += "\r\n";
    }
    if (!out.contentType.empty()) {
        const beast::string_view trimmed = http::detail::trim(out.contentType);
        head += "Content-Type: ";
        head.append(trimmed.data(), trimmed.size());
        head += "\r\n";
    }
    if (version < 11 && keepAlive)
        head += "Connection: keep-alive\r\n";
    else if (version >= 11 && !keepAlive)
        head += "Connection: close\r\n";
    if (carriesLength(out.status)) {
        char digits[24];
        head += "Content-Length: ";
        head.append(digits, std::to_chars(digits, digits + sizeof digits, contentLength).ptr);
        head += "\r\n";
    }
    head += "\r\n";
    return true;
}

} // namespace

ProxyServer::ProxyServer(ExchangeHandler &handler, net::IoPool &pool, LeafCertificates &leaves)
    : m_handler(handler)
    , m_pool(pool)
    , m_bodies(BodyBudget::configuredBytes())
    , m_forwarder(handler, &m_bodies)
    , m_tunnel(*this, handler, leaves)
{
}

ProxyServer::~ProxyServer()
{
    stop();
}

bool ProxyServer::start(int port, std::string &error)
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return true;
    auto listener = std::make_unique<net::Listener>(m_pool);
    if (!listener->bind(port, error)) {
        error = "proxy " + error;
        return false;
    }
    m_connections = std::make_shared<net::ConnectionSet>(
        net::connectionCapacity(net::PortKind::Proxy));
    listener->start([this, connections = m_connections](tcp::socket socket) {
        auto executor = socket.get_executor();
        auto stream = std::make_shared<beast::tcp_stream>(std::move(socket));
        auto connection = std::make_shared<ProxyConnection>();
        connection->socket = stream.get();
        // Taken here, in the order of accepting, so the connection waiting longest is the first to go. The
        // set outlives a stop/start of the port, so a late connection still finds the one it joined.
        auto ticket = std::make_unique<net::ConnectionTicket>(
            *connections, [executor, weak = std::weak_ptr<ProxyConnection>(connection)] {
                asio::post(executor, [weak] {
                    if (auto open = weak.lock())
                        open->close();
                });
            });
        if (!*ticket)
            return;
        ticket->setIdle(true);
        connection->ticket = ticket.get();
        asio::co_spawn(executor, serve(std::move(stream), std::move(connection), connections, std::move(ticket)),
                       asio::detached);
    });
    m_port = listener->port();
    m_listener = std::move(listener);
    m_running = true;
    return true;
}

void ProxyServer::stop()
{
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return;
    m_listener->stop();
    m_listener.reset();
    m_connections->closeAll();
    m_running = false;
}

bool ProxyServer::running() const
{
    return m_running;
}

int ProxyServer::port() const
{
    return m_port;
}

asio::awaitable<void> ProxyServer::serve(std::shared_ptr<beast::tcp_stream> stream,
                                         std::shared_ptr<ProxyConnection> connection,
                                         std::shared_ptr<net::ConnectionSet> connections,
                                         std::unique_ptr<net::ConnectionTicket> ticket)
{
    // The ticket goes before the set it is listed in.
    struct Order {
        std::shared_ptr<net::ConnectionSet> set;
        std::unique_ptr<net::ConnectionTicket> ticket;
        ~Order() { ticket.reset(); }
    } held {std::move(connections), std::move(ticket)};

    beast::flat_buffer buffer(Limits::kMaxHeaderBytes + 4096);
    for (;;) {
        http::request_parser<http::empty_body> header;
        header.header_limit(Limits::kMaxHeaderBytes);
        header.body_limit((std::numeric_limits<std::uint64_t>::max)()); // mocks limit bodies; passed-through ones stream
        beast::error_code ec;
        if (!co_await connection->readRequestHeader(*stream, buffer, header, ec)) {
            if (ec == http::error::header_limit) {
                co_await writeError(*stream, 11, 431, "request header too large", false);
                co_await net::lingeringClose(*stream, held.ticket.get());
            } else if (net::isProtocolError(ec)) {
                co_await writeError(*stream, 11, 400, "malformed request: " + ec.message(), false);
            }
            break;
        }
        if (header.get().method() == http::verb::connect) {
            // The connection becomes a tunnel for good.
            const std::string authority(header.get().target());
            co_await m_tunnel.serve(stream, buffer, authority, header.get().version(), *connection);
            co_return;
        }
        if (!co_await exchange(*stream, buffer, header, std::string(), *connection))
            break;
    }
    beast::error_code ignored;
    stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
}

asio::awaitable<void> ProxyServer::serveRequests(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                                 const std::string &tunnelBase, ProxyConnection &connection)
{
    co_await serveRequestsOn(stream, buffer, tunnelBase, connection);
}

asio::awaitable<void> ProxyServer::serveRequests(TlsStream &stream, beast::flat_buffer &buffer,
                                                 const std::string &tunnelBase, ProxyConnection &connection)
{
    co_await serveRequestsOn(stream, buffer, tunnelBase, connection);
}

// Between requests a TLS connection waits on its socket alone, holding no read buffer: thousands of
// connections may sit idle. False when the client stayed silent past the idle wait, or a full port
// chose the connection to make room.
asio::awaitable<bool> ProxyServer::awaitTlsRequest(TlsStream &stream, beast::flat_buffer &buffer,
                                                   ProxyConnection &connection)
{
    SSL *ssl = stream.native_handle();
    // Bytes TLS took in already (a request sent right behind the last) are read at once.
    if (buffer.size() > 0 || SSL_has_pending(ssl) || BIO_ctrl_pending(SSL_get_rbio(ssl)) > 0)
        co_return true;
    buffer.shrink_to_fit();
    net::ConnectionTicket *ticket = connection.ticket;
    if (ticket)
        ticket->setIdle(true);
    beast::error_code ec;
    const bool spoke = co_await waitReadable(beast::get_lowest_layer(stream),
                                             net::deadlineAfter(ticket ? ticket->idleWait() : Limits::kIdle), ec);
    co_return (!ticket || ticket->setIdle(false)) && spoke;
}

template <class Stream>
asio::awaitable<void> ProxyServer::serveRequestsOn(Stream &stream, beast::flat_buffer &buffer,
                                                   const std::string &tunnelBase, ProxyConnection &connection)
{
    for (;;) {
        http::request_parser<http::empty_body> header;
        header.header_limit(Limits::kMaxHeaderBytes);
        header.body_limit((std::numeric_limits<std::uint64_t>::max)()); // mocks limit bodies below; passed-through ones stream
        beast::error_code ec;
        if constexpr (!std::is_same_v<Stream, beast::tcp_stream>) {
            if (!co_await awaitTlsRequest(stream, buffer, connection))
                co_return;
        }
        if (!co_await connection.readRequestHeader(stream, buffer, header, ec)) {
            if (ec == http::error::header_limit) {
                co_await writeError(stream, 11, 431, "request header too large", false);
                co_await closeGently(stream, connection.ticket);
            }
            else if (net::isProtocolError(ec))
                co_await writeError(stream, 11, 400, "malformed request: " + ec.message(), false);
            co_return;
        }
        if (!co_await exchange(stream, buffer, header, tunnelBase, connection))
            co_return;
    }
}

// One request: refused when its framing is ambiguous, planned by the handler, then answered from
// its route or forwarded.
template <class Stream>
asio::awaitable<bool> ProxyServer::exchange(Stream &stream, beast::flat_buffer &buffer,
                                            http::request_parser<http::empty_body> &header,
                                            const std::string &tunnelBase, ProxyConnection &connection)
{
    auto &message = header.get();
    const unsigned version = message.version();
    if (const auto problem = net::framingProblem(message)) {
        // A coding the proxy can't decode is one it doesn't implement (RFC 9112 §6.1), as nginx answers.
        const int status = *problem == net::kUnknownTransferCoding ? 501 : 400;
        co_await writeError(stream, version, status, "refused: " + *problem, false);
        co_await closeGently(stream, connection.ticket);
        co_return false;
    }
    if (message.method() == http::verb::connect) { // only inside a tunnel: plain connections take it earlier
        co_await writeError(stream, version, 400, "CONNECT inside a tunnel is not supported", false);
        co_return false;
    }

    ProxiedRequest request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    request.version = version;
    if (!tunnelBase.empty() && !request.target.empty() && request.target.front() == '/')
        request.target = tunnelBase + request.target;
    // In a tunnel the server asked about is the one the tunnel leads to: its URL alone goes on as `*`.
    else if (!tunnelBase.empty() && request.target == "*" && message.method() == http::verb::options)
        request.target = tunnelBase;
    request.headers.reserve(static_cast<std::size_t>(std::distance(message.begin(), message.end())));
    for (const auto &field : message)
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));

    ExchangePlan plan = m_handler.plan(request);
    connection.pace.reset();
    if (plan.forward) {
        bool usable = false;
        {
            ClientWatch watch(connection, beast::get_lowest_layer(stream).socket(),
                              !std::is_same_v<Stream, beast::tcp_stream>);
            usable = co_await m_forwarder.forward(stream, buffer, header, request, plan, connection);
        }
        // The host agreed to switch protocols: the client's connection is joined to it for good.
        if (connection.upgraded)
            co_await joinUpgraded(stream, buffer, connection);
        co_return usable;
    }
    co_return co_await answer(stream, buffer, header, request, plan, connection);
}

namespace {

// What reading a mocked request's body came to.
struct MockBody {
    bool tooLong = false;    // past kMaxBodyBytes
    bool overBudget = false; // past what the proxy holds of bodies at once
    beast::error_code ec;
};

// Reads a mocked request's body whole into `request` under the limits, held against `lease`; a client
// that waits to continue is told to first, unless the body is refused already by its length.
template <class Stream>
asio::awaitable<MockBody> readMockBody(Stream &stream, beast::flat_buffer &buffer,
                                       http::request_parser<http::empty_body> &header, ProxiedRequest &request,
                                       BodyLease &lease, ProxyConnection &connection)
{
    MockBody read;
    const auto length = header.content_length();
    read.tooLong = length.value_or(0) > kMaxBodyBytes;
    const bool hasBody = expectsBody(header);
    read.overBudget = !read.tooLong && !lease.growTo(length.value_or(0));
    if (read.tooLong || read.overBudget)
        co_return read;
    if (asksToContinue(header))
        co_await sendContinue(stream);
    // A request without a body is done with its header: no parser to read it with.
    if (header.is_done())
        co_return read;
    http::request_parser<http::string_body> bodyParser {std::move(header)};
    bodyParser.body_limit(kMaxBodyBytes);
    if (hasBody)
        makeRoomForBody(buffer);
    // Piece by piece, so a body of unknown length is held against the budget as it grows.
    net::BodyPace pace(connection.ticket);
    co_await net::readBodyPaced(stream, buffer, bodyParser, pace, read.ec, [&] {
        read.overBudget = !lease.growTo(bodyParser.get().body().size());
        return !read.overBudget;
    });
    if (!read.ec && !read.overBudget)
        request.body = std::move(bodyParser.get().body());
    co_return read;
}

// Sends a mock's answer; false when the connection can't go on. The body goes out from where it is
// held (a large mock body is shared with the route table), so a client that reads slowly holds no copy.
template <class Stream>
asio::awaitable<bool> writeMockAnswer(Stream &stream, ProxiedResponse &out, unsigned version, bool keepAlive,
                                      bool isHead, ProxyConnection &connection)
{
    const std::string &body = out.bodyText(); // held by the plan until the answer is out
    // No body may follow a 1xx, 204 or 304, whatever the route holds; HEAD gets the length alone.
    const bool bodyAllowed = carriesLength(out.status);
    const std::size_t bodyLength = bodyAllowed ? body.size() : 0;
    const bool sendBody = bodyAllowed && !isHead;
    const unsigned answerVersion = version < 11 ? 10u : 11u;
    if (writeAnswerHead(connection.answerHead, out, answerVersion, keepAlive, bodyLength)) {
        const std::array<asio::const_buffer, 2> pieces {asio::buffer(connection.answerHead),
                                                        asio::buffer(body.data(), sendBody ? body.size() : 0)};
        beast::error_code written;
        std::size_t done = 0;
        if (!net::writeAtOnce(stream, pieces, done, written))
            co_await net::writeRest(stream, pieces, done, written);
        co_return !written && keepAlive;
    }

    http::response<http::span_body<const char>> response {static_cast<http::status>(out.status), answerVersion};
    for (const auto &[name, value] : out.headers)
        response.set(name, value);
    if (!out.contentType.empty())
        response.set(http::field::content_type, out.contentType);
    if (bodyAllowed)
        response.body() = {body.data(), body.size()};
    response.keep_alive(keepAlive);
    response.prepare_payload();
    if (!carriesLength(out.status))
        response.erase(http::field::content_length);
    // The library would write "<unknown-status>" as the reason of a status it doesn't know.
    std::string &head = connection.answerHead;
    writeStatusLine(head, out.status, answerVersion);
    for (const auto &field : response)
        head.append(field.name_string().data(), field.name_string().size()).append(": ")
            .append(field.value().data(), field.value().size()).append("\r\n");
    head += "\r\n";
    const std::array<asio::const_buffer, 2> pieces {asio::buffer(head),
                                                    asio::buffer(body.data(), sendBody ? body.size() : 0)};
    beast::error_code written;
    co_await net::writeBuffers(stream, pieces, written);
    co_return !written && keepAlive;
}

} // namespace

// The route's own answer (or refusal): the request body read whole under a limit, the route's
// latency waited, the exchange recorded, the answer sent.
template <class Stream>
asio::awaitable<bool> ProxyServer::answer(Stream &stream, beast::flat_buffer &buffer,
                                          http::request_parser<http::empty_body> &header, ProxiedRequest &request,
                                          ExchangePlan &plan, ProxyConnection &connection)
{
    const unsigned version = header.get().version();
    const bool keepAlive = net::keepsAlive(header.get(), version);
    BodyLease lease(&m_bodies);
    const MockBody read = co_await readMockBody(stream, buffer, header, request, lease, connection);
    if (read.tooLong || read.overBudget || read.ec == http::error::body_limit) {
        const int status = read.overBudget ? 503 : 413;
        const std::string text = read.overBudget
                                     ? std::string("the proxy holds too many request bodies at once; try again shortly")
                                     : "request body too large (at most " + std::to_string(kMaxBodyBytes) + " bytes)";
        m_handler.finishAnswer(plan, std::move(request), status, proxyErrorBody(text), false);
        co_await writeError(stream, version, status, text, false);
        co_await closeGently(stream, connection.ticket);
        co_return false;
    }
    if (read.ec) {
        if (net::isProtocolError(read.ec))
            co_await writeError(stream, version, 400, "malformed request body: " + read.ec.message(), false);
        else if (read.ec == beast::error::timeout)
            co_await writeError(stream, version, 408, "the request body stalled", false);
        co_return false;
    }
    if (plan.delayMs > 0) {
        ClientWatch watch(connection, beast::get_lowest_layer(stream).socket(), !std::is_same_v<Stream, beast::tcp_stream>);
        if (!co_await waitCancellably(plan.delayMs, connection)) {
            // Nobody is left to answer, so the exchange ends as a dropped connection, never as served.
            if (connection.clientGone)
                m_handler.finishAnswer(plan, std::move(request), kClientClosedStatus, proxyErrorBody(kClientClosedText), false);
            co_return false; // or the proxy is stopping
        }
    }
    ProxiedResponse &out = plan.response;
    if (out.drop) {
        m_handler.finishAnswer(plan, std::move(request), out.status, out.bodyText(), false);
        co_return false;
    }
    if (out.contentType.empty())
        out.contentType = contentTypeFor(out.bodyText());
    // Recorded and handed to learning before it goes out, so whoever has the answer finds both done;
    // the learning itself happens on its own thread.
    const bool isHead = request.method == "HEAD";
    m_handler.finishAnswer(plan, std::move(request), out.status, out.bodyText(), true);
    lease.release();
    co_return co_await writeMockAnswer(stream, out, version, keepAlive, isHead, connection);
}

} // namespace standin
