// Throwaway jobs of the window: one shared pool, results handed back only to a receiver still alive.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <type_traits>
#include <utility>

namespace BackgroundWork {

// The pool every job runs on. Made on first use, on the GUI thread, and tied to the application object:
// it is drained when the application quits, while the window still stands, and waited for again at the
// latest when the application object goes, so no job outlives it.
QThreadPool &pool();

// Waits for every job, then hands out the results already waiting, while the objects that asked for them
// still exist. Runs by itself when the application quits.
void drain();

namespace detail {
// The object on the GUI thread that results are posted to; it outlives every job.
QObject *relay();

// A result on its way to the GUI thread. The event queue orders the hand-over already, but inside Qt,
// where the thread checker cannot see it: without the flag it reports every byte of a large result.
template <typename Result>
struct HandedOver {
    explicit HandedOver(Result &&made)
        : value(std::move(made))
    {
    }
    Result value;
    std::atomic<bool> ready {false};
};
} // namespace detail

// Runs work() on the pool and then deliver(result) on the GUI thread, unless receiver is gone by then; a job
// whose receiver is gone before it starts is skipped. The result is freed on the GUI thread either way, so
// it may hold objects that live there. Call from the GUI thread.
template <typename Work, typename Deliver>
void run(QObject *receiver, Work work, Deliver deliver)
{
    using Result = std::invoke_result_t<Work &>;
    QObject *relay = detail::relay();
    QPointer<QObject> alive(receiver);
    pool().start([relay, alive, work = std::move(work), deliver = std::move(deliver)]() mutable {
        if (alive.isNull())
            return;
        auto result = std::make_shared<detail::HandedOver<Result>>(work());
        result->ready.store(true, std::memory_order_release);
        QMetaObject::invokeMethod(
            relay,
            [alive, deliver = std::move(deliver), result = std::move(result)]() mutable {
                result->ready.load(std::memory_order_acquire);
                if (alive)
                    deliver(std::move(result->value));
            },
            Qt::QueuedConnection);
    });
}

} // namespace BackgroundWork
