#include "platform/Worker.h"

#include "platform/MainThread.h"

#include <QCoreApplication>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

namespace detail {

// Shared by a Worker and its jobs, so that a job can count itself out after
// its Worker is gone.
struct WorkerCounters
{
    std::atomic<int> running {0};
    int delivering = 0; // main thread only
};

// One job, shared by its thread, its Worker and the list of live jobs.
struct WorkerJob
{
    std::atomic<bool> cancel {false};
    std::atomic<bool> finished {false}; // its result began delivering, or its thread ended
    std::atomic<bool> ended {false}; // its thread has returned from everything it runs
    std::shared_ptr<HandOff> handOff;
    // The Worker's channel, for the end of the program (main thread only).
    std::weak_ptr<MainThreadChannel> channel;
    std::shared_ptr<WorkerCounters> counters;
    int delivering = 0; // main thread only

    void markFinished()
    {
        if (!finished.exchange(true))
            counters->running.fetch_sub(1);
    }
};

} // namespace detail

namespace {

using detail::WorkerJob;

// Every job thread that has not ended. Never destroyed: a thread abandoned at
// the end of the program still reports its end here, whenever that comes.
struct Registry
{
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::shared_ptr<WorkerJob>> live; // guarded by m
    bool exitHookInstalled = false; // main thread only
};

Registry &registry()
{
    static Registry *const r = new Registry;
    return *r;
}

// Runs while the application object is destroyed, before it is gone.
void atApplicationEnd()
{
    registry().exitHookInstalled = false; // a later application object gets its own
    Worker::endAll(Worker::ExitWait);
}

struct DeliveringScope
{
    int &worker;
    int &job;
    DeliveringScope(int &w, int &j)
        : worker(w)
        , job(j)
    {
        ++worker;
        ++job;
    }
    ~DeliveringScope()
    {
        --worker;
        --job;
    }
};

bool deliverFor(WorkerJob &job, const std::function<void()> &fn, bool isResult)
{
    if (job.cancel)
        return false;
    const bool ran = job.handOff->deliver([&] {
        DeliveringScope scope(job.counters->delivering, job.delivering);
        if (isResult)
            job.markFinished();
        fn();
    });
    return ran && !job.cancel;
}

} // namespace

bool WorkerContext::cancelled() const
{
    return m_job.cancel.load();
}

void WorkerContext::waitUntilCancelled() const
{
    m_job.cancel.wait(false);
}

const std::atomic<bool> *WorkerContext::cancelFlag() const
{
    return &m_job.cancel;
}

bool WorkerContext::deliver(const std::function<void()> &fn) const
{
    return deliverFor(m_job, fn, false);
}

bool WorkerContext::finish(const std::function<void()> &fn) const
{
    return deliverFor(m_job, fn, true);
}

struct Worker::Private
{
    struct Entry
    {
        std::shared_ptr<WorkerJob> job;
        std::thread thread; // joinable only when the Worker waits for its jobs
    };

    Ending ending = Ending::Detach;
    std::shared_ptr<detail::WorkerCounters> counters = std::make_shared<detail::WorkerCounters>();
    // The channel of the jobs started since the last cancel; shared only so
    // that the end of the program can cancel it.
    std::shared_ptr<MainThreadChannel> channel;
    std::vector<Entry> jobs;

    // Forgets the jobs whose threads have ended.
    void prune()
    {
        for (auto it = jobs.begin(); it != jobs.end();) {
            if (!it->job->ended) {
                ++it;
                continue;
            }
            if (it->thread.joinable())
                it->thread.join(); // returns at once: the thread has nothing left to do
            it = jobs.erase(it);
        }
    }
};

Worker::Worker(Ending ending)
    : d(std::make_unique<Private>())
{
    d->ending = ending;
}

Worker::~Worker()
{
    cancel();
    for (Private::Entry &e : d->jobs) {
        if (!e.thread.joinable())
            continue;
        if (e.job->delivering > 0)
            e.thread.detach(); // it waits for the delivery we are inside of
        else
            e.thread.join(); // released from any delivery by the cancel above
    }
}

void Worker::cancel()
{
    for (Private::Entry &e : d->jobs) {
        e.job->cancel = true;
        e.job->cancel.notify_all();
    }
    if (d->channel) {
        d->channel->cancel();
        d->channel.reset();
    }
    d->prune();
}

int Worker::running() const
{
    return d->counters->running.load();
}

bool Worker::delivering() const
{
    return d->counters->delivering > 0;
}

int Worker::waiting() const
{
    return d->channel ? d->channel->waitingWorkers() : 0;
}

bool Worker::launch(std::function<void(const WorkerContext &)> body)
{
    d->prune();
    if (!d->channel || d->channel->cancelled()) // new, or cancelled by the end of the program
        d->channel = std::make_shared<MainThreadChannel>();
    auto job = std::make_shared<WorkerJob>();
    job->handOff = d->channel->handOff();
    job->channel = d->channel;
    job->counters = d->counters;

    Registry &r = registry();
    if (!r.exitHookInstalled && QCoreApplication::instance()) {
        r.exitHookInstalled = true;
        qAddPostRoutine(&atApplicationEnd);
    }
    d->counters->running.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(r.m);
        r.live.push_back(job);
    }
    std::thread thread;
    try {
        thread = std::thread([job, body = std::move(body)]() mutable {
            body(WorkerContext(*job));
            body = nullptr; // what the job holds goes before its end is reported
            job->markFinished();
            Registry &reg = registry();
            {
                std::lock_guard<std::mutex> lock(reg.m);
                reg.live.erase(std::find(reg.live.begin(), reg.live.end(), job));
                job->ended = true;
            }
            reg.cv.notify_all();
        });
    } catch (const std::system_error &) {
        {
            std::lock_guard<std::mutex> lock(r.m);
            r.live.erase(std::find(r.live.begin(), r.live.end(), job));
        }
        job->markFinished();
        return false;
    }
    if (d->ending == Ending::Detach)
        thread.detach();
    d->jobs.push_back({job, std::move(thread)});
    return true;
}

int Worker::endAll(std::chrono::milliseconds wait)
{
    Registry &r = registry();
    std::vector<std::shared_ptr<MainThreadChannel>> channels;
    {
        std::lock_guard<std::mutex> lock(r.m);
        for (const std::shared_ptr<WorkerJob> &job : r.live) {
            job->cancel = true;
            job->cancel.notify_all();
            if (std::shared_ptr<MainThreadChannel> c = job->channel.lock())
                channels.push_back(std::move(c));
        }
    }
    for (const std::shared_ptr<MainThreadChannel> &c : channels)
        c->cancel(); // releases the workers waiting in a delivery
    channels.clear();
    std::unique_lock<std::mutex> lock(r.m);
    r.cv.wait_for(lock, wait, [&r] { return r.live.empty(); });
    return int(r.live.size());
}

int Worker::live()
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.m);
    return int(r.live.size());
}

} // namespace platform
