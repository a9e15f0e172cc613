#pragma once

// Saving a live page as an archive: the page and every resource it refers to
// are fetched within limits, then written as one file.

#include "online/PageArchive.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>

struct TArchiveFetchResult
{
    bool Ok = false; // transfer complete with a 2xx status
    bool TooLarge = false; // the body went past the limit
    long Status = 0;
    QByteArray Body;
    QByteArray ContentType;
    QUrl FinalUrl; // after redirects
    QString Error;
};

// Fetches Url (GET, redirects followed within http and https), at most
// MaxBytes of body. Cancel, when set, aborts the transfer.
using TArchiveFetchFunc
    = std::function<TArchiveFetchResult(const QUrl &Url, qint64 MaxBytes, const std::atomic<bool> *Cancel)>;
// The fetch used by default: the program's HTTP set-up with connect, stall
// and whole-transfer time-outs.
TArchiveFetchResult FetchForArchive(const QUrl &Url, qint64 MaxBytes, const std::atomic<bool> *Cancel);

struct TArchiveLimits
{
    qint64 PageBytes = 4 * 1024 * 1024; // the page itself; larger pages are not saved
    qint64 ResourceBytes = 4 * 1024 * 1024; // one resource; larger ones are left out
    qint64 TotalBytes = 24 * 1024 * 1024; // all parts; resources past it are left out
    int MaxResources = 300;
    int MaxStyleSheetDepth = 3; // @import chains
    qint64 TotalTimeMs = 90000; // resources not fetched by then are left out
};

struct TArchiveSaveResult
{
    bool Ok = false;
    QString Error;
    int Parts = 0; // including the page
    int Skipped = 0; // resources that failed or went past a limit
    qint64 Bytes = 0; // decoded bytes of all parts
};

// Fetches the page at Url and every resource it refers to. The page must come
// from Url's origin (a redirect elsewhere is refused) and be HTML with a 2xx
// status; a resource that fails or is too large is left out (the copy then
// refers to its live address).
TArchiveSaveResult CollectPageArchive(const QUrl &Url, TPageArchive &Archive,
                                      const TArchiveLimits &Limits = {},
                                      const TArchiveFetchFunc &Fetch = FetchForArchive,
                                      const std::atomic<bool> *Cancel = nullptr);
// CollectPageArchive, then WritePageArchiveFile. The old file is replaced only
// after a complete new one was written. Url and FileName above
// PageArchiveMaxUrlLength characters are refused.
TArchiveSaveResult SavePageArchive(const QString &Url, const QString &FileName,
                                   const TArchiveLimits &Limits = {},
                                   const TArchiveFetchFunc &Fetch = FetchForArchive,
                                   const std::atomic<bool> *Cancel = nullptr);
