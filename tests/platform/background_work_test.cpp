// The shared pool of throwaway jobs: a result reaches only a receiver still alive, is freed on the GUI thread
// either way, and quitting waits for the jobs and hands their results out before the event loop ends.
#include "platform/background_work.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// A result that notes the thread it is freed on.
struct Traced
{
    explicit Traced(QThread **freedOn) : freedOn(freedOn) {}
    Traced(Traced &&other) noexcept : freedOn(std::exchange(other.freedOn, nullptr)) {}
    Traced &operator=(Traced &&) = delete;
    ~Traced()
    {
        if (freedOn)
            *freedOn = QThread::currentThread();
    }
    QThread **freedOn;
};

bool poolIdle()
{
    return BackgroundWork::pool().activeThreadCount() == 0;
}

} // namespace

TEST(BackgroundWork, ReceiverDestroyedMidJobGetsNothingAndTheResultIsFreedOnTheGuiThread)
{
    QSemaphore started;
    QSemaphore gate;
    QThread *freedOn = nullptr;
    bool delivered = false;
    auto receiver = std::make_unique<QObject>();
    BackgroundWork::run(
        receiver.get(),
        [&] {
            started.release();
            gate.acquire();
            return Traced(&freedOn);
        },
        [&](Traced) { delivered = true; });
    started.acquire(); // the job is running
    receiver.reset();
    gate.release();
    BackgroundWork::drain();
    QCoreApplication::processEvents();
    EXPECT_FALSE(delivered);
    EXPECT_EQ(freedOn, QCoreApplication::instance()->thread());

    // A job whose receiver is already gone when it would start is not run at all.
    std::atomic<bool> ran = false;
    auto gone = std::make_unique<QObject>();
    QSemaphore hold;
    const int threads = BackgroundWork::pool().maxThreadCount();
    for (int i = 0; i < threads; ++i) // every thread busy, so the last job waits in the queue
        BackgroundWork::run(
            gone.get(),
            [&] {
                hold.acquire();
                return 0;
            },
            [](int) {});
    BackgroundWork::run(gone.get(), [&] { return ran = true; }, [](bool) {});
    gone.reset();
    hold.release(threads);
    BackgroundWork::drain();
    EXPECT_FALSE(ran);
}

TEST(BackgroundWork, QuittingWaitsForARunningJobAndDeliversBeforeTheLoopEnds)
{
    QSemaphore started;
    QSemaphore gate;
    std::atomic<bool> quitRequested {false};
    int delivered = 0;
    QObject receiver;
    BackgroundWork::run(
        &receiver,
        [&] {
            started.release();
            gate.acquire();
            while (!quitRequested.load()) // still running as the application quits
                QThread::yieldCurrentThread();
            return 7;
        },
        [&](int value) { delivered += value; });
    started.acquire();
    QTimer::singleShot(0, [&] {
        gate.release();
        QCoreApplication::quit();
        quitRequested.store(true);
    });
    QCoreApplication::exec();
    EXPECT_TRUE(poolIdle());
    EXPECT_EQ(delivered, 7);
    // Nothing is left to arrive afterwards.
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 7);
}
