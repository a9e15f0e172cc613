#include "platform/Worker.h"

#include "platform/MainThread.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using platform::Worker;
using platform::WorkerContext;
using testsupport::coreApp;
using testsupport::flushQueuedCalls;
using testsupport::pollUntil;
using testsupport::waitUntil;
using namespace std::chrono_literals;

// Where a job waits until the test lets it go on. Held by shared pointer, so a
// job that outlives its test still finds it.
struct Gate
{
    std::mutex m;
    std::condition_variable cv;
    bool open = false;

    void release()
    {
        std::lock_guard<std::mutex> lock(m);
        open = true;
        cv.notify_all();
    }
    // Ten seconds at most, so a broken test ends.
    void wait()
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, 10s, [this] { return open; });
    }
};

// Every test leaves no thread behind for the next one.
class WorkerTest : public ::testing::Test
{
protected:
    void SetUp() override { coreApp(); }
    void TearDown() override
    {
        EXPECT_TRUE(waitUntil([] { return Worker::live() == 0; }));
    }
};

struct Record
{
    std::atomic<bool> jobOnMain {true};
    bool done = false;
    bool doneOnMain = false;
    int result = 0;
    int runningInDone = -1;
    std::vector<int> events;
};

TEST_F(WorkerTest, TheResultIsDeliveredOnTheMainThread)
{
    struct Case
    {
        const char *what;
        bool (*start)(Worker &, Record &);
        int result;
        std::vector<int> events;
    };
    const Case cases[] = {
        {"a value",
         [](Worker &w, Record &r) {
             return w.start(
                 [&r](const WorkerContext &) {
                     r.jobOnMain = platform::isMainThread();
                     return 42;
                 },
                 [&r, &w](int v) {
                     r.done = true;
                     r.doneOnMain = platform::isMainThread();
                     r.result = v;
                     r.runningInDone = w.running();
                 });
         },
         42,
         {}},
        {"nothing but the end",
         [](Worker &w, Record &r) {
             return w.start([&r](const WorkerContext &) { r.jobOnMain = platform::isMainThread(); },
                            [&r, &w] {
                                r.done = true;
                                r.doneOnMain = platform::isMainThread();
                                r.runningInDone = w.running();
                            });
         },
         0,
         {}},
        {"events, then a value",
         [](Worker &w, Record &r) {
             return w.start(
                 [&r](const WorkerContext &c) {
                     r.jobOnMain = platform::isMainThread();
                     for (int i = 1; i <= 3; ++i)
                         if (!c.deliver([&r, i] { r.events.push_back(i); }))
                             return -1;
                     return 7;
                 },
                 [&r, &w](int v) {
                     r.done = true;
                     r.doneOnMain = platform::isMainThread();
                     r.result = v;
                     r.runningInDone = w.running();
                 });
         },
         7,
         {1, 2, 3}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Record r;
        Worker w;
        ASSERT_TRUE(c.start(w, r));
        EXPECT_EQ(w.running(), 1);
        ASSERT_TRUE(waitUntil([&] { return r.done; }));
        EXPECT_FALSE(r.jobOnMain) << "the job ran on the main thread";
        EXPECT_TRUE(r.doneOnMain);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.events, c.events);
        EXPECT_EQ(r.runningInDone, 0) << "a job delivering its result still counts as running";
        EXPECT_EQ(w.running(), 0);
        EXPECT_FALSE(w.delivering());
        ASSERT_TRUE(waitUntil([] { return Worker::live() == 0; }));
    }
}

// The owner goes, or cancels, while its job still works: the job is told, and
// nothing of it reaches the owner afterwards, neither its events nor its result.
TEST_F(WorkerTest, AnOwnerGoneWhileTheJobRunsGetsNothing)
{
    struct Case
    {
        const char *what;
        Worker::Ending ending;
        bool destroy;
    };
    const Case cases[] = {
        {"destroyed, left to end", Worker::Ending::Detach, true},
        {"destroyed, waited for", Worker::Ending::Join, true},
        {"cancelled", Worker::Ending::Detach, false},
        {"cancelled, waited for", Worker::Ending::Join, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        struct Shared
        {
            std::atomic<bool> started {false}, sawCancel {false}, eventRan {false}, eventRefused {false};
            std::atomic<bool> ended {false};
        };
        auto s = std::make_shared<Shared>();
        // What the owner's handlers touch: freed with the owner, so a late touch is a use after free.
        auto owner = std::make_unique<int>(0);
        auto w = std::make_unique<Worker>(c.ending);
        ASSERT_TRUE(w->start(
            [s](const WorkerContext &ctx) {
                s->started = true;
                ctx.waitUntilCancelled();
                s->sawCancel = ctx.cancelFlag()->load();
                s->eventRefused = !ctx.deliver([s] { s->eventRan = true; });
                s->ended = true;
                return 1;
            },
            [p = owner.get()](int) { ++*p; }));
        ASSERT_TRUE(waitUntil([&] { return s->started.load(); }));
        if (c.destroy) {
            w.reset();
            owner.reset();
        } else {
            w->cancel();
            EXPECT_EQ(*owner, 0);
        }
        if (c.ending == Worker::Ending::Join && c.destroy) {
            EXPECT_TRUE(s->ended) << "the Worker did not wait for its job";
        }
        ASSERT_TRUE(waitUntil([&] { return s->ended.load(); }));
        ASSERT_TRUE(waitUntil([] { return Worker::live() == 0; }));
        ASSERT_TRUE(flushQueuedCalls());
        EXPECT_TRUE(s->sawCancel);
        EXPECT_TRUE(s->eventRefused);
        EXPECT_FALSE(s->eventRan);
        if (owner) {
            EXPECT_EQ(*owner, 0) << "a cancelled job's result was delivered";
        }
        if (w) {
            EXPECT_EQ(w->running(), 0);
        }
    }
}

// The owner stops its worker from the main thread without running the event
// loop again: the worker waiting for its hand-off must be released, or the
// owner that waits for it would wait for ever.
TEST_F(WorkerTest, CancellingReleasesAJobWaitingInAHandOff)
{
    struct Case
    {
        const char *what;
        Worker::Ending ending;
        bool destroy;
    };
    const Case cases[] = {
        {"cancelled", Worker::Ending::Detach, false},
        {"destroyed, left to end", Worker::Ending::Detach, true},
        {"destroyed, waited for", Worker::Ending::Join, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> waiting {false}, ran {false}, returned {false}, doneRan {false};
        std::atomic<int> answer {-1};
        auto w = std::make_unique<Worker>(c.ending);
        ASSERT_TRUE(w->start(
            [&](const WorkerContext &ctx) {
                waiting = true;
                answer = ctx.deliver([&] { ran = true; }) ? 1 : 0;
                returned = true;
            },
            [&] { doneRan = true; }));
        ASSERT_TRUE(pollUntil([&] { return waiting.load() && w->waiting() == 1; })); // in the hand-off
        if (c.destroy)
            w.reset(); // waits for the job when it is to be joined
        else
            w->cancel();
        ASSERT_TRUE(pollUntil([&] { return returned.load(); })) << "the worker stays blocked";
        ASSERT_TRUE(pollUntil([] { return Worker::live() == 0; }));
        EXPECT_EQ(answer, 0);
        ASSERT_TRUE(flushQueuedCalls());
        EXPECT_FALSE(ran) << "a cancelled hand-off ran on the main thread";
        EXPECT_FALSE(doneRan);
    }
}

TEST_F(WorkerTest, EventsArriveInOrderBeforeTheResult)
{
    constexpr int kEvents = 200;
    struct Case
    {
        const char *what;
        int cancelAt; // the handler of this event cancels the job; -1: none does
    };
    const Case cases[] = {{"every event", -1}, {"a handler cancels", 50}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Worker w;
        std::vector<int> seen;
        std::atomic<bool> allOnMain {true}, jobEnded {false};
        std::atomic<int> stoppedAt {-1};
        size_t seenAtResult = 0;
        bool done = false;
        ASSERT_TRUE(w.start(
            [&](const WorkerContext &ctx) {
                for (int i = 0; i < kEvents; ++i)
                    if (!ctx.deliver([&, i] {
                            if (!platform::isMainThread())
                                allOnMain = false;
                            seen.push_back(i);
                            if (i == c.cancelAt)
                                w.cancel();
                        })) {
                        stoppedAt = i;
                        break;
                    }
                jobEnded = true;
                return kEvents;
            },
            [&](int) {
                done = true;
                seenAtResult = seen.size();
            }));
        ASSERT_TRUE(waitUntil([&] { return jobEnded.load(); }));
        ASSERT_TRUE(waitUntil([] { return Worker::live() == 0; }));
        ASSERT_TRUE(flushQueuedCalls());
        EXPECT_TRUE(allOnMain);
        const int expected = c.cancelAt < 0 ? kEvents : c.cancelAt + 1;
        ASSERT_EQ(int(seen.size()), expected);
        for (int i = 0; i < expected; ++i)
            ASSERT_EQ(seen[size_t(i)], i);
        EXPECT_EQ(stoppedAt, c.cancelAt);
        EXPECT_EQ(done, c.cancelAt < 0);
        if (done) {
            EXPECT_EQ(int(seenAtResult), kEvents) << "the result overtook an event";
        }
    }
}

// One Worker runs several jobs at a time; each reports on its own, and a
// cancel reaches those started before it, not those started after.
TEST_F(WorkerTest, SeveralJobsAtATime)
{
    Worker w;
    std::vector<std::shared_ptr<Gate>> gates;
    std::vector<int> finished;
    for (int i = 0; i < 3; ++i) {
        auto gate = std::make_shared<Gate>();
        gates.push_back(gate);
        ASSERT_TRUE(w.start(
            [gate, i](const WorkerContext &) {
                gate->wait();
                return i;
            },
            [&finished](int i) { finished.push_back(i); }));
    }
    EXPECT_EQ(w.running(), 3);
    gates[1]->release();
    ASSERT_TRUE(waitUntil([&] { return finished.size() == 1; }));
    EXPECT_EQ(finished, std::vector<int>({1}));
    EXPECT_EQ(w.running(), 2);

    // The two still waiting are cancelled; a job started afterwards is not.
    w.cancel();
    gates[0]->release();
    gates[2]->release();
    bool lateRan = false;
    ASSERT_TRUE(w.start([](const WorkerContext &ctx) { return ctx.cancelled(); },
                        [&](bool cancelled) {
                            lateRan = true;
                            EXPECT_FALSE(cancelled);
                        }));
    ASSERT_TRUE(waitUntil([&] { return lateRan; }));
    ASSERT_TRUE(waitUntil([] { return Worker::live() == 0; }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(finished, std::vector<int>({1}));
    EXPECT_EQ(w.running(), 0);
}

// An owner that goes from inside its own job's handler: the job waits for that
// very handler, so it cannot be waited for; it is left to return and end.
TEST_F(WorkerTest, AnOwnerMayGoFromItsJobsHandler)
{
    for (Worker::Ending ending : {Worker::Ending::Detach, Worker::Ending::Join}) {
        SCOPED_TRACE(ending == Worker::Ending::Join ? "waited for" : "left to end");
        auto w = std::make_unique<Worker>(ending);
        bool wasDelivering = false, gone = false;
        std::atomic<bool> eventAfter {false};
        ASSERT_TRUE(w->start([&](const WorkerContext &ctx) {
            ctx.deliver([&] {
                wasDelivering = w->delivering();
                w.reset();
                gone = true;
            });
            ctx.deliver([&] { eventAfter = true; });
        }));
        ASSERT_TRUE(waitUntil([&] { return gone; }));
        ASSERT_TRUE(waitUntil([] { return Worker::live() == 0; }));
        ASSERT_TRUE(flushQueuedCalls());
        EXPECT_TRUE(wasDelivering);
        EXPECT_FALSE(eventAfter);
    }
}

// The end of the program: every job is cancelled and waited for a while; one
// that does not end in time is abandoned, and when it ends later it delivers
// nothing and touches nothing of its owner.
TEST_F(WorkerTest, TheEndOfTheProgramWaitsForJobsOrAbandonsThem)
{
    struct Shared
    {
        Gate gate;
        std::atomic<bool> quickEnded {false}, stubbornSawCancel {false}, stubbornEnded {false};
        std::atomic<bool> delivered {false}, refused {false};
    };
    auto s = std::make_shared<Shared>();
    auto owner = std::make_unique<int>(0);
    auto w = std::make_unique<Worker>();
    ASSERT_TRUE(w->start(
        [s](const WorkerContext &ctx) {
            ctx.waitUntilCancelled();
            s->quickEnded = true;
        },
        [p = owner.get()] { ++*p; }));
    ASSERT_TRUE(w->start(
        [s](const WorkerContext &ctx) {
            s->gate.wait(); // deaf to the cancel
            s->stubbornSawCancel = ctx.cancelled();
            s->refused = !ctx.deliver([s] { s->delivered = true; });
            s->stubbornEnded = true;
        },
        [p = owner.get()] { ++*p; }));
    EXPECT_EQ(Worker::endAll(100ms), 1);
    EXPECT_TRUE(s->quickEnded) << "a job that ends on its cancel was not waited for";
    EXPECT_FALSE(s->stubbornEnded);
    // The owner goes before the abandoned job ends.
    w.reset();
    owner.reset();
    s->gate.release();
    ASSERT_TRUE(waitUntil([&] { return s->stubbornEnded.load(); }));
    ASSERT_TRUE(waitUntil([] { return Worker::live() == 0; }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_TRUE(s->stubbornSawCancel);
    EXPECT_TRUE(s->refused);
    EXPECT_FALSE(s->delivered);

    // A Worker that outlived the end still starts new jobs afterwards.
    Worker later;
    bool ran = false;
    ASSERT_TRUE(later.start([](const WorkerContext &) { return 5; }, [&](int v) { ran = v == 5; }));
    ASSERT_TRUE(waitUntil([&] { return ran; }));
}

// Runs in a process of its own: the application object goes while one job
// waits for a hand-off the event loop never serves and another works on.
[[noreturn]] void endApplicationWhileJobsRun()
{
    struct Shared
    {
        std::atomic<bool> waiting {false}, released {false}, looping {false}, loopEnded {false};
        std::atomic<int> delivered {0};
    };
    auto s = std::make_shared<Shared>();
    Worker worker; // outlives the application object
    {
        static int argc = 1;
        static char name[] = "worker_exit";
        static char *argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        worker.start([s](const WorkerContext &ctx) {
            s->waiting = true;
            s->released = !ctx.deliver([s] { ++s->delivered; });
        });
        worker.start(
            [s](const WorkerContext &ctx) {
                s->looping = true;
                ctx.waitUntilCancelled();
                s->loopEnded = true;
                return 0;
            },
            [s](int) { ++s->delivered; });
        pollUntil([&] { return s->waiting && s->looping && worker.waiting() == 1; });
    }
    std::fprintf(stderr, "released %d, loop ended %d, delivered %d, live %d\n", int(s->released),
                 int(s->loopEnded), s->delivered.load(), Worker::live());
    std::fflush(stderr);
    std::_Exit(0);
}

TEST(WorkerAtExit, TheApplicationsEndCancelsAndWaitsForEveryJob)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(endApplicationWhileJobsRun(), ::testing::ExitedWithCode(0),
                "released 1, loop ended 1, delivered 0, live 0");
}

} // namespace
