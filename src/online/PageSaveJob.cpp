#include "online/PageSaveJob.h"

#include <atomic>

struct TPageSaveJob::State
{
    std::atomic<bool> cancel {false};
    std::atomic<bool> running {false};
};

TPageSaveJob::TPageSaveJob()
    : m_state(std::make_shared<State>())
{ }

TPageSaveJob::~TPageSaveJob()
{
    m_state->cancel = true;
    const bool fromOwnReport = m_channel && m_channel->delivering();
    // Releases a worker waiting to report; nothing more is delivered.
    m_channel.reset();
    if (m_worker.joinable()) {
        if (fromOwnReport)
            m_worker.detach(); // it only returns from the report and ends
        else
            m_worker.join();
    }
}

bool TPageSaveJob::Start(const QString &Url, const QString &FileName, TDone OnDone)
{
    if (Url.isEmpty() || FileName.isEmpty() || Url.size() > PageArchiveMaxUrlLength
        || FileName.size() > PageArchiveMaxUrlLength || m_state->running)
        return false;
    if (m_worker.joinable())
        m_worker.join(); // the previous save has ended
    m_channel = std::make_unique<platform::MainThreadChannel>();
    m_state->running = true;
    m_worker = std::thread([state = m_state, handOff = m_channel->handOff(), Url, FileName,
                            OnDone = std::move(OnDone), limits = Limits, fetch = Fetch] {
        const TArchiveSaveResult result = SavePageArchive(Url, FileName, limits, fetch, &state->cancel);
        handOff->deliver([&] {
            if (OnDone)
                OnDone(result);
        });
        state->running = false;
    });
    return true;
}

bool TPageSaveJob::Running() const
{
    return m_state->running;
}
