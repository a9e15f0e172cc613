#pragma once

// Saves a live page into an archive file on a worker thread and reports the
// result on the main thread. At most one save runs per job object.

#include "online/PageCollect.h"
#include "platform/Worker.h"

#include <QString>
#include <functional>

class TPageSaveJob
{
public:
    // Runs on the main thread once the save has ended (not after the job was destroyed).
    using TDone = std::function<void(const TArchiveSaveResult &Result)>;

    TPageSaveJob();
    // Cancels a running save: the transfer stops, nothing is reported, and the
    // worker is waited for (left to end by itself when destroyed from its own report).
    ~TPageSaveJob();
    TPageSaveJob(const TPageSaveJob &) = delete;
    TPageSaveJob &operator=(const TPageSaveJob &) = delete;

    // Starts the worker; false when a save is already running, Url or
    // FileName is empty or longer than PageArchiveMaxUrlLength, or no thread
    // could be started.
    bool Start(const QString &Url, const QString &FileName, TDone OnDone);
    // True from Start until the report begins (or, without one, the worker ends).
    bool Running() const;

    TArchiveLimits Limits;
    TArchiveFetchFunc Fetch = FetchForArchive;

private:
    platform::Worker m_worker {platform::Worker::Ending::Join};
};
