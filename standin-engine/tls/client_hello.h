// What a TLS client offers in its ClientHello, read from the bytes it sent before any handshake is
// made with it: the application protocols (ALPN) it can speak.
#pragma once

#include <cstddef>
#include <string_view>

namespace standin {

struct ClientHelloOffer {
    enum class Status {
        Incomplete, // the message goes on past the bytes so far
        Read,
        Unreadable, // not a ClientHello as this reader knows one: the handshake itself will tell
    };
    Status status = Status::Incomplete;
    bool offersAlpn = false;
    bool offersHttp1 = false; // "http/1.1" among the protocols offered

    // A client whose protocols, if it names any, include the only one the engine reads inside TLS.
    bool speaksHttp1() const { return status != Status::Read || !offersAlpn || offersHttp1; }
};

// Reads the ClientHello from the first TLS records of a connection (it may span several).
ClientHelloOffer readClientHelloOffer(std::string_view bytes);

} // namespace standin
