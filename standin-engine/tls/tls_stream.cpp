// The TLS stream's steps and its BIO: OpenSSL reads ciphertext from the incoming block and writes it to
// the outgoing one, each a spare block taken only while it holds bytes.
#include "tls/tls_stream.h"

#include "net/spare_blocks.h"
#include "tls/openssl_support.h"

#include <openssl/err.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <sys/socket.h>

namespace standin {

namespace asio = net::asio;
namespace beast = net::beast;
using net::SpareBlocks;

namespace {

constexpr std::size_t kBlockSize = SpareBlocks::kBlockSize;

// The most a TLS record takes on the wire.
constexpr std::size_t kRecordRoom = SSL3_RT_MAX_PACKET_SIZE;

} // namespace

TlsStream::TlsStream(next_layer_type &&next, asio::ssl::context &context)
    : m_next(std::move(next))
    , m_ssl(SSL_new(context.native_handle()))
    , m_readTurn(m_next.get_executor(), asio::steady_timer::time_point::max())
    , m_writeTurn(m_next.get_executor(), asio::steady_timer::time_point::max())
{
    if (!m_ssl)
        throw boost::system::system_error(
            beast::error_code(static_cast<int>(ERR_get_error()), asio::error::get_ssl_category()), "TlsStream");
    SSL_set_mode(m_ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    BIO *bio = BIO_new(bioMethod());
    if (!bio) {
        SSL_free(m_ssl);
        throw boost::system::system_error(
            beast::error_code(static_cast<int>(ERR_get_error()), asio::error::get_ssl_category()), "TlsStream");
    }
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(m_ssl, bio, bio);
}

TlsStream::~TlsStream()
{
    SSL_free(m_ssl);
    SpareBlocks::giveBack(m_in.data);
    SpareBlocks::giveBack(m_out.data);
}

// As Asio's engine does it, so errors and the order of reads and writes are what callers knew.
TlsStream::Want TlsStream::perform(Step step, void *data, std::size_t size, beast::error_code &ec, std::size_t *moved)
{
    const std::size_t outputBefore = m_out.size();
    ERR_clear_error();
    int result = 0;
    std::size_t done = 0;
    switch (step) {
    case Step::Accept:
        result = SSL_accept(m_ssl);
        break;
    case Step::Connect:
        result = SSL_connect(m_ssl);
        break;
    case Step::Shutdown:
        result = SSL_shutdown(m_ssl);
        if (result == 0)
            result = SSL_shutdown(m_ssl);
        break;
    case Step::Read:
        result = SSL_read_ex(m_ssl, data, size, &done);
        break;
    case Step::Write:
        result = SSL_write_ex(m_ssl, data, size, &done);
        break;
    }
    const int sslError = SSL_get_error(m_ssl, result);
    const auto failure = static_cast<int>(ERR_get_error());
    const bool wrote = m_out.size() > outputBefore;

    if (sslError == SSL_ERROR_SSL) {
        ec = beast::error_code(failure, asio::error::get_ssl_category());
        return wrote ? Want::Output : Want::Nothing;
    }
    if (sslError == SSL_ERROR_SYSCALL) {
        ec = failure == 0 ? beast::error_code(asio::ssl::error::unspecified_system_error)
                          : beast::error_code(failure, asio::error::get_ssl_category());
        return wrote ? Want::Output : Want::Nothing;
    }
    if (result > 0 && moved)
        *moved = done;
    ec = {};
    if (sslError == SSL_ERROR_WANT_WRITE)
        return Want::OutputAndRetry;
    if (wrote)
        return result > 0 ? Want::Output : Want::OutputAndRetry;
    if (sslError == SSL_ERROR_WANT_READ)
        return Want::Input;
    if (sslError == SSL_ERROR_ZERO_RETURN) {
        ec = asio::error::eof;
        return Want::Nothing;
    }
    if (sslError == SSL_ERROR_NONE)
        return Want::Nothing;
    ec = asio::ssl::error::unexpected_result;
    return Want::Nothing;
}

void TlsStream::makeRoomToRead()
{
    if (!m_in.data)
        m_in.data = SpareBlocks::take();
    if (m_in.begin > 0) {
        std::memmove(m_in.data, m_in.data + m_in.begin, m_in.size());
        m_in.end -= m_in.begin;
        m_in.begin = 0;
    }
}

std::size_t TlsStream::feed(asio::const_buffer bytes)
{
    if (m_reading)
        return 0;
    makeRoomToRead();
    const std::size_t taken = std::min(bytes.size(), kBlockSize - m_in.end);
    std::memcpy(m_in.data + m_in.end, bytes.data(), taken);
    m_in.end += taken;
    return taken;
}

bool TlsStream::roomForRecord() const
{
    return kBlockSize - m_out.end >= kRecordRoom;
}

TlsStream::Fill TlsStream::fill(beast::error_code &ec)
{
    makeRoomToRead();
    ssize_t n;
    do
        n = ::recv(m_next.socket().native_handle(), m_in.data + m_in.end, kBlockSize - m_in.end, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        m_in.end += static_cast<std::size_t>(n);
        return Fill::Got;
    }
    if (n == 0) {
        ec = asio::error::eof;
        return Fill::Failed;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return Fill::Later;
    ec.assign(errno, asio::error::get_system_category());
    return Fill::Failed;
}

void TlsStream::readFinished(const beast::error_code &ec, std::size_t n, beast::error_code &failure)
{
    m_in.end += n;
    m_reading = false;
    m_readTurn.cancel();
    if (ec)
        failure = ec;
}

void TlsStream::firstByteArrived(const beast::error_code &ec, std::size_t n, beast::error_code &failure)
{
    if (n == 1) {
        if (!m_in.data)
            m_in.data = SpareBlocks::take();
        if (m_in.end == kBlockSize) { // the other direction may not have let go of a full block
            std::memmove(m_in.data, m_in.data + m_in.begin, m_in.size());
            m_in.end -= m_in.begin;
            m_in.begin = 0;
        }
        m_in.data[m_in.end++] = m_firstByte;
    }
    m_reading = false;
    m_readTurn.cancel();
    if (ec)
        failure = ec;
}

void TlsStream::writeFinished(const beast::error_code &ec, std::size_t n, beast::error_code &failure)
{
    m_out.begin += n;
    if (m_out.begin == m_out.end)
        m_out.begin = m_out.end = 0;
    m_writing = false;
    m_writeTurn.cancel();
    if (ec)
        failure = ec;
}

void TlsStream::releaseIdle() noexcept
{
    if (m_in.data && !m_reading && m_in.size() == 0) {
        SpareBlocks::giveBack(std::exchange(m_in.data, nullptr));
        m_in.begin = m_in.end = 0;
    }
    if (m_out.data && !m_writing && m_out.size() == 0) {
        SpareBlocks::giveBack(std::exchange(m_out.data, nullptr));
        m_out.begin = m_out.end = 0;
    }
}

beast::error_code TlsStream::mapped(beast::error_code ec) const
{
    if (ec != asio::error::eof)
        return ec;
    if (m_in.size() > 0 || (SSL_get_shutdown(m_ssl) & SSL_RECEIVED_SHUTDOWN) == 0)
        return asio::ssl::error::stream_truncated;
    return ec;
}

int TlsStream::bioWrite(BIO *bio, const char *data, std::size_t size, std::size_t *written)
{
    auto *stream = static_cast<TlsStream *>(BIO_get_data(bio));
    Block &out = stream->m_out;
    BIO_clear_retry_flags(bio);
    if (!out.data) {
        try {
            out.data = SpareBlocks::take();
        } catch (const std::bad_alloc &) {
            return 0;
        }
    }
    if (out.end == kBlockSize && out.begin > 0 && !stream->m_writing) {
        std::memmove(out.data, out.data + out.begin, out.size());
        out.end -= out.begin;
        out.begin = 0;
    }
    const std::size_t taken = std::min(size, kBlockSize - out.end);
    if (taken == 0) {
        BIO_set_retry_write(bio);
        return 0;
    }
    std::memcpy(out.data + out.end, data, taken);
    out.end += taken;
    *written = taken;
    return 1;
}

int TlsStream::bioRead(BIO *bio, char *data, std::size_t size, std::size_t *read)
{
    auto *stream = static_cast<TlsStream *>(BIO_get_data(bio));
    Block &in = stream->m_in;
    BIO_clear_retry_flags(bio);
    const std::size_t taken = std::min(size, in.size());
    if (taken == 0) {
        BIO_set_retry_read(bio);
        return 0;
    }
    std::memcpy(data, in.data + in.begin, taken);
    in.begin += taken;
    if (in.begin == in.end && !stream->m_reading)
        in.begin = in.end = 0;
    *read = taken;
    return 1;
}

long TlsStream::bioControl(BIO *bio, int command, long, void *)
{
    const auto *stream = static_cast<const TlsStream *>(BIO_get_data(bio));
    switch (command) {
    case BIO_CTRL_PENDING:
        return static_cast<long>(stream->m_in.size());
    case BIO_CTRL_WPENDING:
        return static_cast<long>(stream->m_out.size());
    case BIO_CTRL_FLUSH: // the stream writes what the block holds once OpenSSL's step returns
        return 1;
    default:
        return 0;
    }
}

BIO_METHOD *TlsStream::bioMethod()
{
    static const std::unique_ptr<BIO_METHOD, OpenSSLDeleter<BIO_meth_free>> method([] {
        BIO_METHOD *made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kestrion tls stream");
        if (!made)
            throw std::bad_alloc();
        BIO_meth_set_write_ex(made, &TlsStream::bioWrite);
        BIO_meth_set_read_ex(made, &TlsStream::bioRead);
        BIO_meth_set_ctrl(made, &TlsStream::bioControl);
        return made;
    }());
    return method.get();
}

} // namespace standin
