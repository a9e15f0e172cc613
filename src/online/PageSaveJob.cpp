#include "online/PageSaveJob.h"

#include "platform/MainThread.h"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct TPageSaveJob::State
{
    std::atomic<bool> cancel {false};
    std::atomic<bool> alive {true}; // the job object still exists
    std::mutex mutex;
    std::condition_variable ended;
    bool running = false;
    std::thread worker;
};

TPageSaveJob::TPageSaveJob()
    : m_state(std::make_shared<State>())
{ }

TPageSaveJob::~TPageSaveJob()
{
    m_state->alive = false;
    Cancel();
    Wait();
}

bool TPageSaveJob::Start(const QString &Url, const QString &FileName, TDone OnDone)
{
    if (Url.isEmpty() || FileName.isEmpty() || Url.size() > PageArchiveMaxUrlLength
        || FileName.size() > PageArchiveMaxUrlLength)
        return false;
    std::unique_lock lock(m_state->mutex);
    if (m_state->running)
        return false;
    if (m_state->worker.joinable())
        m_state->worker.join(); // ended already
    m_state->running = true;
    m_state->cancel = false;
    std::shared_ptr<State> state = m_state;
    m_state->worker
        = std::thread([state, Url, FileName, OnDone = std::move(OnDone), limits = Limits, fetch = Fetch] {
              const TArchiveSaveResult result = SavePageArchive(Url, FileName, limits, fetch, &state->cancel);
              if (state->alive) {
                  platform::runOnMainThread([&] {
                      // The job may have gone while this call waited for the main thread.
                      if (state->alive && OnDone)
                          OnDone(result);
                  });
              }
              std::lock_guard guard(state->mutex);
              state->running = false;
              state->ended.notify_all();
          });
    return true;
}

bool TPageSaveJob::Running() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->running;
}

void TPageSaveJob::Cancel()
{
    m_state->cancel = true;
}

void TPageSaveJob::Wait()
{
    std::unique_lock lock(m_state->mutex);
    const bool serveHandOffs = QCoreApplication::instance() && platform::isMainThread();
    while (m_state->running) {
        if (serveHandOffs) {
            // The worker may be blocked handing its result to this thread.
            lock.unlock();
            QCoreApplication::sendPostedEvents(QCoreApplication::instance(), QEvent::MetaCall);
            lock.lock();
            m_state->ended.wait_for(lock, std::chrono::milliseconds(10));
        } else {
            m_state->ended.wait(lock);
        }
    }
    if (m_state->worker.joinable()) {
        lock.unlock();
        m_state->worker.join();
    }
}
