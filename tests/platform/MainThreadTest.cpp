#include "platform/MainThread.h"

#include "support/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

QCoreApplication *app()
{
    return testsupport::coreApp();
}

bool onMainThread()
{
    return QThread::currentThread() == app()->thread();
}

// Runs the main thread's events until pred holds or ten seconds pass.
template<class Pred> bool processUntil(Pred pred)
{
    return testsupport::waitUntil(pred);
}

TEST(MainThreadChannel, WorkerWaitsUntilTheHandlerHasReturned)
{
    app();
    platform::MainThreadChannel channel;
    std::atomic<bool> returned {false}, handlerSawWaitingWorker {false}, handlerOnMain {false};
    std::atomic<bool> delivered {false}, sawDelivering {false};
    std::thread worker([&, handOff = channel.handOff()] {
        delivered = handOff->deliver([&] {
            handlerOnMain = onMainThread();
            handlerSawWaitingWorker = !returned;
            sawDelivering = channel.delivering();
        });
        returned = true;
    });
    ASSERT_TRUE(processUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(handlerOnMain);
    EXPECT_TRUE(handlerSawWaitingWorker);
    EXPECT_TRUE(sawDelivering);
    EXPECT_FALSE(channel.delivering());

    // On the main thread the function runs at once; a handler that cancels
    // tells the caller to stop.
    int ran = 0;
    EXPECT_TRUE(channel.deliver([&] { ++ran; }));
    EXPECT_FALSE(channel.deliver([&] {
        ++ran;
        channel.cancel();
    }));
    EXPECT_FALSE(channel.deliver([&] { ++ran; }));
    EXPECT_EQ(ran, 2);
}

// The owner stops its worker from the main thread without ever running the
// event loop: cancelling must release the worker, or joining would deadlock.
TEST(MainThreadChannel, CancelReleasesABlockedWorker)
{
    app();
    for (int round = 0; round < 2; ++round) {
        auto channel = std::make_unique<platform::MainThreadChannel>();
        std::atomic<bool> ran {false};
        std::atomic<int> result {-1};
        std::thread worker([&, handOff = channel->handOff()] {
            result = handOff->deliver([&] { ran = true; }) ? 1 : 0;
            // Later deliveries are refused at once.
            if (handOff->deliver([&] { ran = true; }))
                result = 2;
        });
        // The event loop does not run here, so once the worker waits in
        // deliver it stays there until the cancel releases it.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (channel->waitingWorkers() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        const int waiting = channel->waitingWorkers();
        if (round == 0)
            channel->cancel();
        else
            channel.reset(); // the owner goes away
        worker.join();
        EXPECT_EQ(waiting, 1) << "the worker never blocked in deliver";
        EXPECT_EQ(result, 0);
        if (channel) {
            EXPECT_EQ(channel->waitingWorkers(), 0);
        }
        QCoreApplication::processEvents();
        EXPECT_FALSE(ran) << "a cancelled hand-off ran on the main thread";
    }
}

TEST(MainThreadChannel, DestroyedReceiverGetsNothingMore)
{
    app();
    auto receiver = std::make_unique<QObject>();
    platform::MainThreadChannel channel(receiver.get());
    std::atomic<int> handled {0};
    std::atomic<bool> done {false};
    std::atomic<int> refusedAfter {-1};
    std::thread worker([&, handOff = channel.handOff()] {
        for (int i = 0; i < 1000; ++i) {
            if (!handOff->deliver([&] { ++handled; })) {
                refusedAfter = i;
                break;
            }
        }
        done = true;
    });
    ASSERT_TRUE(processUntil([&] { return handled >= 3; }));
    receiver.reset();
    worker.join(); // released without the event loop running again
    const int count = handled;
    QCoreApplication::processEvents();
    EXPECT_TRUE(done);
    EXPECT_EQ(handled, count);
    // The worker stops at the delivery after the last one handled, or at that
    // last one itself: it ran, but the receiver went before its worker woke up.
    EXPECT_GE(count, 3);
    EXPECT_TRUE(refusedAfter == count || refusedAfter == count - 1) << refusedAfter << " of " << count;
    EXPECT_TRUE(channel.cancelled());
    EXPECT_FALSE(channel.deliver([&] { ++handled; }));
    EXPECT_EQ(handled, count);
}

TEST(MainThreadChannel, ManyDeliveriesArriveInOrder)
{
    app();
    constexpr int kWorkers = 3, kEach = 300;
    platform::MainThreadChannel channel;
    std::vector<std::vector<int>> seen(kWorkers);
    std::atomic<int> finished {0};
    std::atomic<bool> allOnMain {true};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w, handOff = channel.handOff()] {
            for (int i = 0; i < kEach; ++i)
                handOff->deliver([&, w, i] {
                    if (!onMainThread())
                        allOnMain = false;
                    seen[w].push_back(i); // main thread only: no lock needed
                });
            ++finished;
        });
    }
    ASSERT_TRUE(processUntil([&] { return finished == kWorkers; }));
    for (auto &t : workers)
        t.join();
    EXPECT_TRUE(allOnMain);
    for (int w = 0; w < kWorkers; ++w) {
        ASSERT_EQ(int(seen[w].size()), kEach);
        for (int i = 0; i < kEach; ++i)
            ASSERT_EQ(seen[w][i], i);
    }
}

} // namespace
