// What real clients' ClientHellos offer, as a tunnel reads them before deciding whether to end the
// client's TLS: whole, split over two records, and cut short.
#include "tls/client_hello.h"

#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

std::string hello(const char *name)
{
    QFile file(testsupport::sourceDir() + "/tests/fuzz/client_hello/corpus/" + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll().toStdString();
}

} // namespace

TEST(ClientHello, OfferedProtocolsAreReadFromRealClients)
{
    using Status = standin::ClientHelloOffer::Status;
    struct Case {
        const char *file;  // captured from the client named
        bool offersAlpn;
        bool speaksHttp1;
    };
    for (const Case &c : {Case {"curl-http2", true, true}, Case {"curl-http2-two-records", true, true},
                          Case {"h2-only", true, false}, Case {"no-alpn", false, true}}) {
        const std::string bytes = hello(c.file);
        const auto offer = standin::readClientHelloOffer(bytes);
        EXPECT_EQ(offer.status, Status::Read) << c.file;
        EXPECT_EQ(offer.offersAlpn, c.offersAlpn) << c.file;
        EXPECT_EQ(offer.speaksHttp1(), c.speaksHttp1) << c.file;
        // Short of its last byte it is not read yet, and so not taken for a client that can't speak HTTP/1.1.
        const auto shortOfOne = standin::readClientHelloOffer(std::string_view(bytes).substr(0, bytes.size() - 1));
        EXPECT_EQ(shortOfOne.status, Status::Incomplete) << c.file;
        EXPECT_TRUE(shortOfOne.speaksHttp1()) << c.file;
    }
    // A first record that is no handshake is left to the handshake itself.
    EXPECT_EQ(standin::readClientHelloOffer(std::string("\x17\x03\x03\x00\x01x", 6)).status, Status::Unreadable);
}
