// A TLS session over a timed TCP stream that holds its ciphertext only while bytes are on their way:
// Asio's stream keeps four 17 KB buffers for a connection's whole life, and thousands of intercepted
// connections may sit idle between requests. Here ciphertext goes through spare blocks taken when a
// step needs them and given back once they are empty, and OpenSSL releases its record buffers too.
#pragma once

#include "net/net_limits.h"

#include <boost/asio/compose.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream_base.hpp>
#include <boost/asio/steady_timer.hpp>

#include <openssl/ssl.h>

#include <cstddef>
#include <utility>

namespace standin {

class TlsStream final {
public:
    using next_layer_type = net::beast::tcp_stream;
    using executor_type = next_layer_type::executor_type;
    using handshake_type = net::asio::ssl::stream_base::handshake_type;

    // A session of `context` over `next`; throws boost::system::system_error when OpenSSL can't make
    // one, as Asio's stream does.
    TlsStream(next_layer_type &&next, net::asio::ssl::context &context);
    ~TlsStream();
    TlsStream(const TlsStream &) = delete;
    TlsStream &operator=(const TlsStream &) = delete;

    executor_type get_executor() noexcept { return m_next.get_executor(); }
    SSL *native_handle() noexcept { return m_ssl; }
    next_layer_type &next_layer() noexcept { return m_next; }
    const next_layer_type &next_layer() const noexcept { return m_next; }
    // How many blocks of ciphertext the session holds now: none while it waits for its peer.
    std::size_t blocksHeld() const noexcept { return (m_in.data ? 1 : 0) + (m_out.data ? 1 : 0); }

    // Completes as void(error_code).
    template <class Token>
    auto async_handshake(handshake_type type, Token &&token);
    // With the peer's first bytes read already; completes as void(error_code, bytes of them taken).
    template <class Buffers, class Token>
    auto async_handshake(handshake_type type, const Buffers &buffers, Token &&token);
    template <class Buffers, class Token>
    auto async_read_some(const Buffers &buffers, Token &&token);
    template <class Buffers, class Token>
    auto async_write_some(const Buffers &buffers, Token &&token);
    // Sends close_notify and waits for the peer's.
    template <class Token>
    auto async_shutdown(Token &&token);

private:
    // What a step of OpenSSL asks of the socket next (as Asio's engine names it).
    enum class Want { Nothing, Input, Output, OutputAndRetry, Retry };
    enum class Step { Accept, Connect, Shutdown, Read, Write };
    // What a read straight from the socket found.
    enum class Fill { Got, Failed, Later };

    // A spare block and the part of it [begin, end) that holds ciphertext.
    struct Block {
        char *data = nullptr;
        std::size_t begin = 0;
        std::size_t end = 0;
        std::size_t size() const { return end - begin; }
    };

    struct Handshake;
    template <class Buffers>
    struct BufferedHandshake;
    template <class Buffers>
    struct Read;
    template <class Buffers>
    struct Write;
    struct Shutdown;
    template <class Action>
    class Operation;

    template <class Signature, class Action, class Token>
    auto start(Action action, Token &token)
    {
        return net::asio::async_compose<Token, Signature>(Operation<Action>(*this, std::move(action)), token, m_next);
    }

    Want perform(Step step, void *data, std::size_t size, net::beast::error_code &ec, std::size_t *moved);
    // Takes the incoming block if there is none and moves what it holds to its start.
    void makeRoomToRead();
    // Takes what of `bytes` fits into the incoming block; how much.
    std::size_t feed(net::asio::const_buffer bytes);
    // Room for one more whole record in the outgoing block, so a write adds records before it flushes.
    bool roomForRecord() const;
    // Reads what the socket holds into the incoming block without waiting.
    Fill fill(net::beast::error_code &ec);
    void readFinished(const net::beast::error_code &ec, std::size_t n, net::beast::error_code &failure);
    void firstByteArrived(const net::beast::error_code &ec, std::size_t n, net::beast::error_code &failure);
    void writeFinished(const net::beast::error_code &ec, std::size_t n, net::beast::error_code &failure);
    // Gives back the blocks that hold nothing and no socket operation is using.
    void releaseIdle() noexcept;
    // An end of stream before the peer's close_notify is a truncation, as Asio reports it.
    net::beast::error_code mapped(net::beast::error_code ec) const;

    static int bioWrite(BIO *bio, const char *data, std::size_t size, std::size_t *written);
    static int bioRead(BIO *bio, char *data, std::size_t size, std::size_t *read);
    static long bioControl(BIO *bio, int command, long number, void *pointer);
    static BIO_METHOD *bioMethod();

    next_layer_type m_next;
    SSL *m_ssl = nullptr;
    Block m_in;
    Block m_out;
    // One socket read and one socket write at a time; a step that finds one running waits its turn on a
    // timer that never expires, cancelled when the turn is free.
    bool m_reading = false;
    bool m_writing = false;
    net::asio::steady_timer m_readTurn;
    net::asio::steady_timer m_writeTurn;
    // Where a read that waits holding no block takes the first byte that arrives.
    char m_firstByte = 0;
};

struct TlsStream::Handshake {
    handshake_type type;
    Want operator()(TlsStream &stream, net::beast::error_code &ec, std::size_t &) const
    {
        return stream.perform(type == handshake_type::client ? Step::Connect : Step::Accept, nullptr, 0, ec, nullptr);
    }
    template <class Self>
    static void complete(Self &self, const net::beast::error_code &ec, std::size_t)
    {
        self.complete(ec);
    }
};

// The bytes already read go in as the handshake asks for them; those it took are reported.
template <class Buffers>
struct TlsStream::BufferedHandshake {
    handshake_type type;
    Buffers buffers;
    Want operator()(TlsStream &stream, net::beast::error_code &ec, std::size_t &fed) const
    {
        const std::size_t total = net::asio::buffer_size(buffers);
        for (;;) {
            const Want want = Handshake {type}(stream, ec, fed);
            if (want != Want::Input || fed == total)
                return want;
            std::size_t skipped = 0;
            for (auto piece = net::asio::buffer_sequence_begin(buffers);
                 piece != net::asio::buffer_sequence_end(buffers); ++piece) {
                net::asio::const_buffer bytes(*piece);
                if (fed >= skipped + bytes.size()) {
                    skipped += bytes.size();
                    continue;
                }
                bytes += fed - skipped;
                const std::size_t taken = stream.feed(bytes);
                if (taken == 0)
                    return want;
                fed += taken;
                break;
            }
        }
    }
    template <class Self>
    static void complete(Self &self, const net::beast::error_code &ec, std::size_t fed)
    {
        self.complete(ec, fed);
    }
};

template <class Buffers>
struct TlsStream::Read {
    Buffers buffers;
    Want operator()(TlsStream &stream, net::beast::error_code &ec, std::size_t &n) const
    {
        for (auto piece = net::asio::buffer_sequence_begin(buffers); piece != net::asio::buffer_sequence_end(buffers);
             ++piece) {
            net::asio::mutable_buffer space(*piece);
            if (space.size() > 0)
                return stream.perform(Step::Read, space.data(), space.size(), ec, &n);
        }
        ec = {};
        return Want::Nothing;
    }
    template <class Self>
    static void complete(Self &self, const net::beast::error_code &ec, std::size_t n)
    {
        self.complete(ec, n);
    }
};

// Writes record after record while the outgoing block has room for another, so a header and its body,
// or a large body, leave in one socket write. A step OpenSSL couldn't finish is tried again with the
// same bytes, as it must be.
template <class Buffers>
struct TlsStream::Write {
    Buffers buffers;
    std::size_t done = 0;
    Want operator()(TlsStream &stream, net::beast::error_code &ec, std::size_t &n)
    {
        Want want = Want::Nothing;
        ec = {};
        std::size_t skipped = 0;
        for (auto piece = net::asio::buffer_sequence_begin(buffers); piece != net::asio::buffer_sequence_end(buffers);
             ++piece) {
            net::asio::const_buffer bytes(*piece);
            if (done >= skipped + bytes.size()) {
                skipped += bytes.size();
                continue;
            }
            bytes += done - skipped;
            while (bytes.size() > 0) {
                std::size_t written = 0;
                want = stream.perform(Step::Write, const_cast<void *>(bytes.data()), bytes.size(), ec, &written);
                done += written;
                n = done;
                bytes += written;
                if (ec || want != Want::Output || !stream.roomForRecord())
                    return want;
            }
            skipped += net::asio::const_buffer(*piece).size();
        }
        return want;
    }
    template <class Self>
    static void complete(Self &self, const net::beast::error_code &ec, std::size_t n)
    {
        self.complete(ec, n);
    }
};

struct TlsStream::Shutdown {
    Want operator()(TlsStream &stream, net::beast::error_code &ec, std::size_t &) const
    {
        return stream.perform(Step::Shutdown, nullptr, 0, ec, nullptr);
    }
    template <class Self>
    static void complete(Self &self, const net::beast::error_code &ec, std::size_t)
    {
        self.complete(ec);
    }
};

// One handshake, read, write or shutdown: its steps run until OpenSSL is done, flushing what they
// wrote and reading what they need between them. As with Asio's stream, its output is on the socket
// before it completes, and it completes as if posted.
template <class Action>
class TlsStream::Operation {
public:
    Operation(TlsStream &stream, Action action)
        : m_stream(&stream)
        , m_action(std::move(action))
    {
    }

    template <class Self>
    void operator()(Self &self, net::beast::error_code ec = {}, std::size_t n = 0)
    {
        TlsStream &stream = *m_stream;
        switch (std::exchange(m_waiting, Waiting::Nothing)) {
        case Waiting::Posted:
            Action::complete(self, m_ec, m_ec ? 0 : m_moved);
            return;
        case Waiting::Read:
            stream.readFinished(ec, n, m_ec);
            m_want = Want::Retry;
            break;
        case Waiting::FirstByte:
            stream.firstByteArrived(ec, n, m_ec);
            m_want = Want::Retry;
            break;
        case Waiting::Write:
            stream.writeFinished(ec, n, m_ec);
            if (m_want == Want::Output)
                return finish(self);
            m_want = Want::Retry;
            break;
        case Waiting::Turn:
            if (m_want == Want::Input)
                m_want = Want::Retry;
            break;
        case Waiting::Nothing:
            break;
        }
        if (m_ec)
            return finish(self);
        proceed(self);
    }

private:
    enum class Waiting { Nothing, Read, FirstByte, Write, Turn, Posted };

    template <class Self>
    void proceed(Self &self)
    {
        namespace asio = net::asio;
        TlsStream &stream = *m_stream;
        for (;;) {
            if (m_want == Want::Retry)
                m_want = m_action(stream, m_ec, m_moved);
            switch (m_want) {
            case Want::Input:
                if (stream.m_in.size() > 0) {
                    m_want = Want::Retry;
                    continue;
                }
                if (stream.m_reading)
                    return waitTurn(self, stream.m_readTurn);
                switch (stream.fill(m_ec)) {
                case Fill::Got:
                    m_want = Want::Retry;
                    continue;
                case Fill::Failed:
                    return finish(self);
                case Fill::Later:
                    break;
                }
                // Nothing of a record has come: the wait holds no block, only the byte it reads.
                if (stream.m_in.size() == 0)
                    stream.releaseIdle();
                m_suspended = true;
                stream.m_reading = true;
                if (!stream.m_in.data) {
                    m_waiting = Waiting::FirstByte;
                    stream.m_next.async_read_some(asio::buffer(&stream.m_firstByte, 1), std::move(self));
                    return;
                }
                m_waiting = Waiting::Read;
                stream.m_next.async_read_some(
                    asio::buffer(stream.m_in.data + stream.m_in.end, net::Limits::kStreamChunk - stream.m_in.end),
                    std::move(self));
                return;
            case Want::Output:
            case Want::OutputAndRetry:
                if (stream.m_out.size() == 0) { // flushed meanwhile by the other direction
                    if (m_want == Want::Output || m_ec)
                        return finish(self);
                    m_want = Want::Retry;
                    continue;
                }
                if (stream.m_writing)
                    return waitTurn(self, stream.m_writeTurn);
                m_suspended = true;
                stream.m_writing = true;
                m_waiting = Waiting::Write;
                asio::async_write(stream.m_next, asio::buffer(stream.m_out.data + stream.m_out.begin, stream.m_out.size()),
                                  std::move(self));
                return;
            default:
                return finish(self);
            }
        }
    }

    template <class Self>
    void waitTurn(Self &self, net::asio::steady_timer &turn)
    {
        m_suspended = true;
        m_waiting = Waiting::Turn;
        turn.async_wait(std::move(self));
    }

    template <class Self>
    void finish(Self &self)
    {
        m_stream->releaseIdle();
        m_ec = m_stream->mapped(m_ec);
        if (!m_suspended) {
            m_waiting = Waiting::Posted;
            net::asio::post(std::move(self));
            return;
        }
        Action::complete(self, m_ec, m_ec ? 0 : m_moved);
    }

    TlsStream *m_stream;
    Action m_action;
    Want m_want = Want::Retry;
    Waiting m_waiting = Waiting::Nothing;
    bool m_suspended = false;
    net::beast::error_code m_ec;
    std::size_t m_moved = 0;
};

template <class Token>
auto TlsStream::async_handshake(handshake_type type, Token &&token)
{
    return start<void(net::beast::error_code)>(Handshake {type}, token);
}

template <class Buffers, class Token>
auto TlsStream::async_handshake(handshake_type type, const Buffers &buffers, Token &&token)
{
    return start<void(net::beast::error_code, std::size_t)>(BufferedHandshake<Buffers> {type, buffers}, token);
}

template <class Buffers, class Token>
auto TlsStream::async_read_some(const Buffers &buffers, Token &&token)
{
    return start<void(net::beast::error_code, std::size_t)>(Read<Buffers> {buffers}, token);
}

template <class Buffers, class Token>
auto TlsStream::async_write_some(const Buffers &buffers, Token &&token)
{
    return start<void(net::beast::error_code, std::size_t)>(Write<Buffers> {buffers}, token);
}

template <class Token>
auto TlsStream::async_shutdown(Token &&token)
{
    return start<void(net::beast::error_code)>(Shutdown {}, token);
}

} // namespace standin
