#include "support/Wait.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace testsupport {

QCoreApplication *coreApp()
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "orvane_test";
        static char *argv[] = {name, nullptr};
        static QCoreApplication instance(argc, argv);
    }
    return QCoreApplication::instance();
}

void processPendingEvents()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return done();
        processPendingEvents();
        // A short pause between polls, so the thread that brings the change gets the processor.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool pollUntil(const std::function<bool()> &done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

bool flushQueuedCalls(int timeoutMs)
{
    auto reached = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        coreApp(), [reached] { *reached = true; }, Qt::QueuedConnection);
    return waitUntil([&] { return reached->load(); }, timeoutMs);
}

bool passTimer(int ms, int timeoutMs)
{
    auto fired = std::make_shared<std::atomic<bool>>(false);
    QTimer::singleShot(ms, Qt::PreciseTimer, coreApp(), [fired] { *fired = true; });
    return waitUntil([&] { return fired->load(); }, ms + timeoutMs);
}

} // namespace testsupport
