#include "core/UrlFetcher.h"

#include <mutex>

namespace core {

namespace {
std::mutex g_mutex;
std::shared_ptr<IUrlFetcher> g_fetcher;
} // namespace

void setUrlFetcher(std::shared_ptr<IUrlFetcher> fetcher)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fetcher = std::move(fetcher);
}

std::shared_ptr<IUrlFetcher> urlFetcher()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_fetcher;
}

UrlFetchResult fetchUrl(const UrlFetchRequest &request)
{
    if (const std::shared_ptr<IUrlFetcher> fetcher = urlFetcher())
        return fetcher->fetch(request);
    UrlFetchResult r;
    r.error = QStringLiteral("no web access installed");
    return r;
}

} // namespace core
