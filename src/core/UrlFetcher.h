#pragma once

// How code below the network layer (the toolkit's pictures, say) reaches a web
// address: through a fetcher the program installs at start-up. Without one,
// every fetch fails.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

class QIODevice;

namespace core {

struct UrlFetchRequest
{
    QString url;
    // User-Agent text; empty sends none.
    QByteArray agent;
    // Largest body accepted; negative: the fetcher's own cap.
    qint64 maxBytes = -1;
    // Set from another thread to abandon the fetch.
    const std::atomic<bool> *cancel = nullptr;
    // When given, the body is written here instead of into the result.
    QIODevice *sink = nullptr;
};

struct UrlFetchResult
{
    // A complete answer arrived (any status) and the body was stored.
    bool ok = false;
    long status = 0;
    QByteArray bytes;
    QByteArray contentType;
    QString error;
};

class IUrlFetcher
{
public:
    virtual ~IUrlFetcher() = default;
    // A GET of request.url; called on worker threads, possibly several at once.
    virtual UrlFetchResult fetch(const UrlFetchRequest &request) = 0;
};

// Installs the program's fetcher (replacing any earlier one; null removes it).
void setUrlFetcher(std::shared_ptr<IUrlFetcher> fetcher);
// The installed fetcher, or null. Any thread.
std::shared_ptr<IUrlFetcher> urlFetcher();
// Fetches through the installed fetcher; fails with an error text without one.
UrlFetchResult fetchUrl(const UrlFetchRequest &request);

} // namespace core
