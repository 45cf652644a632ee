// The shared pool of throwaway jobs and the relay their results travel through.
#include "platform/background_work.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

// Holds the pool, so the pool is waited for before the relay, and the results posted to it, go.
class Relay final : public QObject
{
public:
    explicit Relay(QObject *parent)
        : QObject(parent)
    {
    }
    ~Relay() override { m_pool.waitForDone(); }

    QThreadPool &pool() { return m_pool; }

private:
    QThreadPool m_pool;
};

QPointer<Relay> g_relay;

Relay &relayObject()
{
    if (!g_relay) {
        QCoreApplication *app = QCoreApplication::instance();
        g_relay = new Relay(app);
        // Quitting waits for the jobs while the window still stands; the application object goes later.
        QObject::connect(app, &QCoreApplication::aboutToQuit, g_relay.data(), &BackgroundWork::drain);
    }
    return *g_relay;
}

} // namespace

namespace BackgroundWork {

QThreadPool &pool()
{
    return relayObject().pool();
}

void drain()
{
    if (!g_relay)
        return;
    g_relay->pool().waitForDone();
    QCoreApplication::sendPostedEvents(g_relay.data(), QEvent::MetaCall);
}

namespace detail {

QObject *relay()
{
    return &relayObject();
}

} // namespace detail

} // namespace BackgroundWork
