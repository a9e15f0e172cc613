#include "online/PageSaveJob.h"

TPageSaveJob::TPageSaveJob() = default;

// The worker cancels the save and waits for it, or leaves it to end when
// called from its own report.
TPageSaveJob::~TPageSaveJob() = default;

bool TPageSaveJob::Start(const QString &Url, const QString &FileName, TDone OnDone)
{
    if (Url.isEmpty() || FileName.isEmpty() || Url.size() > PageArchiveMaxUrlLength
        || FileName.size() > PageArchiveMaxUrlLength || Running())
        return false;
    return m_worker.start(
        [Url, FileName, limits = Limits, fetch = Fetch](const platform::WorkerContext &run) {
            return SavePageArchive(Url, FileName, limits, fetch, run.cancelFlag());
        },
        [OnDone = std::move(OnDone)](const TArchiveSaveResult &result) {
            if (OnDone)
                OnDone(result);
        });
}

bool TPageSaveJob::Running() const
{
    return m_worker.running() > 0;
}
