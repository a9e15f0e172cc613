#pragma once

// The one way the program runs work on a thread of its own: a job runs on a
// worker thread, its events and its result reach the main thread through the
// guarded hand-off (MainThread.h), and the owner cancels it, waits for it or
// leaves it to end by itself when it goes.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace platform {

namespace detail {
struct WorkerJob;
struct WorkerCounters;
} // namespace detail

// What a job sees of its worker. Handed to the job on its worker thread and
// valid while the job runs.
class WorkerContext
{
public:
    WorkerContext(const WorkerContext &) = delete;
    WorkerContext &operator=(const WorkerContext &) = delete;

    // True once the job is no longer wanted: its owner cancelled it or went
    // away, or the program is ending. The job should return soon; whatever it
    // returns is not delivered.
    bool cancelled() const;
    // Blocks until the job is cancelled: for a job that only waits to be stopped.
    void waitUntilCancelled() const;
    // The same, for calls that watch a flag themselves (process waits, transfers).
    const std::atomic<bool> *cancelFlag() const;
    // An event of the job: runs fn on the main thread and returns after fn has
    // returned. Nothing runs once the job is cancelled, and a worker waiting
    // here is released when that happens. True when fn ran and the job is
    // still wanted; false tells the job to stop.
    bool deliver(const std::function<void()> &fn) const;

private:
    friend class Worker;
    explicit WorkerContext(detail::WorkerJob &job)
        : m_job(job)
    { }
    // The job's result: like deliver(), and the job stops counting as running
    // just before fn runs.
    bool finish(const std::function<void()> &fn) const;

    detail::WorkerJob &m_job;
};

// The owner's end of its jobs, on the main thread (every member function is
// main-thread only). A Worker may run several jobs at a time, each on its own
// thread; none of them may touch the owner except in what it delivers, which
// runs only while the job is wanted, that is, while this Worker exists and has
// not cancelled it.
class Worker
{
public:
    // What becomes of a job still running when its Worker is destroyed. It is
    // cancelled either way; Detach leaves its thread to end by itself, Join
    // waits for it. A job whose own delivery destroys the Worker is never
    // waited for (it is waiting for that very delivery): it is left to return
    // from it and end.
    enum class Ending { Detach, Join };

    explicit Worker(Ending ending = Ending::Detach);
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Starts job(const WorkerContext &) on a new thread. When it returns and is
    // still wanted, done runs on the main thread, with the job's return value
    // unless that is void. False when no thread could be started (nothing
    // runs then). Jobs started earlier go on. Without an application object
    // there is no main thread to hand to: what the job delivers then runs on
    // its own thread, as with HandOff::deliver.
    template<class Job, class Done> bool start(Job job, Done done);
    // A job that delivers only its events, if any; its return value is dropped.
    template<class Job> bool start(Job job);

    // Cancels every job started so far: their flags are raised, nothing of
    // theirs is delivered any more, and workers waiting in a delivery are
    // released. A delivery already running on the main thread finishes. Jobs
    // started afterwards are not affected.
    void cancel();

    // Jobs started on this Worker that have neither begun delivering their
    // result nor ended (a cancelled job counts until its thread has ended).
    int running() const;
    // True while one of this Worker's deliveries is running, that is, when the
    // caller is inside a handler of one of its jobs.
    bool delivering() const;
    // Jobs of this Worker blocked in a hand-off to the main thread, waiting for
    // it to run what they delivered (any thread).
    int waiting() const;

    // The end of the program: cancels the jobs of every Worker and waits up to
    // wait for their threads to end. Returns how many are still running; they
    // are abandoned: they deliver nothing and touch only their own data.
    // Called on its own when the application object is destroyed (waiting
    // ExitWait); main thread, outside any delivery.
    static int endAll(std::chrono::milliseconds wait);
    static constexpr std::chrono::milliseconds ExitWait {1000};
    // Job threads of every Worker that have not ended yet.
    static int live();

private:
    struct Private;
    bool launch(std::function<void(const WorkerContext &)> body);

    std::unique_ptr<Private> d;
};

template<class Job, class Done> bool Worker::start(Job job, Done done)
{
    using Result = std::invoke_result_t<Job &, const WorkerContext &>;
    return launch([job = std::move(job), done = std::move(done)](const WorkerContext &context) mutable {
        if constexpr (std::is_void_v<Result>) {
            job(context);
            context.finish([&] { done(); });
        } else {
            Result result = job(context);
            context.finish([&] { done(std::move(result)); });
        }
    });
}

template<class Job> bool Worker::start(Job job)
{
    return launch([job = std::move(job)](const WorkerContext &context) mutable { job(context); });
}

} // namespace platform
