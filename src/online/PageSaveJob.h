#pragma once

// Saves a live page into an archive file on a worker thread and reports the
// result on the main thread. At most one save runs per job object.

#include "online/PageArchive.h"

#include <QString>
#include <functional>
#include <memory>

class TPageSaveJob
{
public:
    // Runs on the main thread once the worker has ended (not after the job was destroyed).
    using TDone = std::function<void(const TArchiveSaveResult &Result)>;

    TPageSaveJob();
    // Cancels a running save and waits for its worker; the worker's pending
    // hand-off is served meanwhile, so this never deadlocks.
    ~TPageSaveJob();
    TPageSaveJob(const TPageSaveJob &) = delete;
    TPageSaveJob &operator=(const TPageSaveJob &) = delete;

    // Starts the worker; false when a save is already running or Url or
    // FileName is empty or longer than PageArchiveMaxUrlLength.
    bool Start(const QString &Url, const QString &FileName, TDone OnDone);
    bool Running() const;
    // Asks the worker to stop; its result then reports the cancellation.
    void Cancel();
    // Waits until the worker has ended (main thread: hand-offs are served meanwhile).
    void Wait();

    TArchiveLimits Limits;
    TArchiveFetchFunc Fetch = FetchForArchive;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
