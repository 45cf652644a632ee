// The event stream: bytes through the line reader and event decoding into the engine link's state.
// The first byte picks where the stream is cut into two reads; any cut must give the same state
// as one read, since a line split across reads is joined, never lost.
#include "fuzz_support.h"

#include "engine/engine_client.h"

#include <QCoreApplication>

namespace {

struct Seen {
    QStringList log;
    QList<SchemaDriftRecord> drifts;
    int unseenDrift = 0;
    std::optional<EngineHealth> health;
    bool proxyRunning = false;
    bool operator==(const Seen &) const = default;
};

Seen feed(QByteArrayView stream, qsizetype cut)
{
    EngineClient client;
    client.ingestEventStream(stream.first(cut));
    client.ingestEventStream(stream.sliced(cut));
    return {client.log(), client.schemaDrifts(), client.unseenDrift(), client.health(), client.proxyRunning()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype cut = stream.isEmpty() ? 0 : data[0] % (stream.size() + 1);
    fuzz::check(feed(stream, cut) == feed(stream, stream.size()), "cutting the stream changed what it delivered");
    return 0;
}
