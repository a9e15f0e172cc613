#pragma once

// Saves a live page into an archive file on a worker thread and reports the
// result on the main thread. At most one save runs per job object.

#include "online/PageCollect.h"
#include "platform/MainThread.h"

#include <QString>
#include <functional>
#include <memory>
#include <thread>

class TPageSaveJob
{
public:
    // Runs on the main thread once the worker has ended (not after the job was destroyed).
    using TDone = std::function<void(const TArchiveSaveResult &Result)>;

    TPageSaveJob();
    // Cancels a running save: the transfer stops, nothing is reported, and the
    // worker is waited for (left to end by itself when destroyed from its own report).
    ~TPageSaveJob();
    TPageSaveJob(const TPageSaveJob &) = delete;
    TPageSaveJob &operator=(const TPageSaveJob &) = delete;

    // Starts the worker; false when a save is already running or Url or
    // FileName is empty or longer than PageArchiveMaxUrlLength.
    bool Start(const QString &Url, const QString &FileName, TDone OnDone);
    bool Running() const;

    TArchiveLimits Limits;
    TArchiveFetchFunc Fetch = FetchForArchive;

private:
    struct State;
    std::shared_ptr<State> m_state;
    std::unique_ptr<platform::MainThreadChannel> m_channel;
    std::thread m_worker;
};
