// Reading a ClientHello's offered protocols from a client's first bytes, as a tunnel does before it
// decides whether to end the client's TLS. Once the bytes tell, more of them change nothing.
#include "fuzz_support.h"

#include "tls/client_hello.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(fuzz::asText(data, size));
    const standin::ClientHelloOffer offer = standin::readClientHelloOffer(bytes);
    fuzz::check(!offer.offersHttp1 || offer.offersAlpn, "HTTP/1.1 offered without any protocol offered");
    if (offer.status != standin::ClientHelloOffer::Status::Incomplete) {
        const standin::ClientHelloOffer more = standin::readClientHelloOffer(bytes + "\x16\x03\x01");
        fuzz::check(more.status == offer.status && more.offersAlpn == offer.offersAlpn
                        && more.offersHttp1 == offer.offersHttp1,
                    "bytes past a whole ClientHello changed what it offers");
    }
    return 0;
}
