// A small blocking HTTP(S) server standing in for a real host behind the proxy.
#include "standin-engine/test_upstream.h"

#include "tls/leaf_certificates.h"
#include "tls/root_ca.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

namespace standintest {

namespace {
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
} // namespace

ThrowawayPki makeThrowawayPki(const std::string &host)
{
    std::string error;
    const auto ca = standin::makeSelfSignedCA("Throwaway Test CA", error);
    ThrowawayPki pki;
    if (!ca)
        return pki;
    pki.caPem = ca->first;
    const auto leaf = standin::issueLeaf(ca->first, ca->second, host, std::chrono::hours(24), error);
    if (leaf)
        pki.server = {leaf->certPEM, leaf->keyPEM};
    return pki;
}

struct TestUpstream::State {
    asio::io_context context;
    tcp::acceptor acceptor {context};
    std::unique_ptr<asio::ssl::context> tls;
    std::mutex mutex;
    std::list<std::shared_ptr<tcp::socket>> sockets;
    std::list<std::thread> threads;
    std::atomic<bool> stopping {false};
};

std::string TestUpstream::Request::header(const std::string &name) const
{
    for (const auto &[key, value] : headers) {
        if (lower(key) == lower(name))
            return value;
    }
    return {};
}

int TestUpstream::Request::count(const std::string &name) const
{
    int found = 0;
    for (const auto &[key, value] : headers)
        found += lower(key) == lower(name) ? 1 : 0;
    return found;
}

TestUpstream::TestUpstream(Handler handler, std::optional<TlsIdentity> tls)
    : m_handler(std::move(handler))
    , m_tls(std::move(tls))
    , m_state(std::make_unique<State>())
{
    if (m_tls) {
        m_state->tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        m_state->tls->use_certificate_chain(asio::buffer(m_tls->certPem));
        m_state->tls->use_private_key(asio::buffer(m_tls->keyPem), asio::ssl::context::pem);
    }
    const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    m_state->acceptor.open(endpoint.protocol());
    m_state->acceptor.bind(endpoint);
    m_state->acceptor.listen();
    m_port = m_state->acceptor.local_endpoint().port();
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TestUpstream::~TestUpstream()
{
    m_state->stopping = true;
    beast::error_code ignored;
    ::shutdown(m_state->acceptor.native_handle(), SHUT_RDWR);
    m_acceptor.join();
    m_state->acceptor.close(ignored);
    {
        std::lock_guard lock(m_state->mutex);
        for (auto &socket : m_state->sockets)
            ::shutdown(socket->native_handle(), SHUT_RDWR);
    }
    for (auto &thread : m_state->threads)
        thread.join();
}

void TestUpstream::acceptLoop()
{
    for (;;) {
        auto socket = std::make_shared<tcp::socket>(m_state->context);
        beast::error_code ec;
        m_state->acceptor.accept(*socket, ec);
        if (ec || m_state->stopping)
            return;
        ++m_connections;
        std::lock_guard lock(m_state->mutex);
        m_state->sockets.push_back(socket);
        m_state->threads.emplace_back([this, socket] {
            if (m_state->tls) {
                beast::ssl_stream<tcp::socket &> stream(*socket, *m_state->tls);
                beast::error_code ec;
                stream.handshake(asio::ssl::stream_base::server, ec);
                if (!ec)
                    serve(stream);
            } else {
                serve(*socket);
            }
            // The socket stays listed for the destructor; shutting it down tells the peer it ended.
            ::shutdown(socket->native_handle(), SHUT_RDWR);
        });
    }
}

template <class Stream>
void TestUpstream::serve(Stream &stream)
{
    beast::flat_buffer buffer;
    for (;;) {
        http::request_parser<http::string_body> parser;
        parser.body_limit(64 * 1024 * 1024);
        beast::error_code ec;
        http::read(stream, buffer, parser, ec);
        if (ec)
            return;
        ++m_requests;
        Request request;
        request.method = std::string(parser.get().method_string());
        request.target = std::string(parser.get().target());
        request.body = parser.get().body();
        for (const auto &field : parser.get())
            request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        Reply reply;
        m_handler(request, reply);
        const bool keepAlive = parser.get().keep_alive();
        if (!reply.pieces.empty()) {
            http::response<http::empty_body> header {static_cast<http::status>(reply.status), 11};
            for (const auto &[name, value] : reply.headers)
                header.insert(name, value);
            header.chunked(true);
            header.keep_alive(false);
            http::response_serializer<http::empty_body> serializer {header};
            http::write_header(stream, serializer, ec);
            for (size_t i = 0; i < reply.pieces.size() && !ec; ++i) {
                if (i + 1 == reply.pieces.size() && reply.beforeLast)
                    reply.beforeLast();
                asio::write(stream, http::make_chunk(asio::buffer(reply.pieces[i])), ec);
            }
            asio::write(stream, http::make_chunk_last(), ec);
            return;
        }
        http::response<http::string_body> response {static_cast<http::status>(reply.status), 11};
        for (const auto &[name, value] : reply.headers)
            response.insert(name, value);
        response.body() = reply.body;
        response.keep_alive(keepAlive);
        response.prepare_payload();
        http::write(stream, response, ec);
        if (ec || !keepAlive || reply.closeAfter)
            return;
    }
}

} // namespace standintest
