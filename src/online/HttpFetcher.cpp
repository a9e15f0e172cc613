#include "online/HttpFetcher.h"

#include "online/HttpSetup.h"

#include <QIODevice>

namespace online {

namespace {

class HttpFetcher : public core::IUrlFetcher
{
public:
    core::UrlFetchResult fetch(const core::UrlFetchRequest &request) override
    {
        HttpOptions o;
        o.agent = request.agent;
        if (request.maxBytes >= 0)
            o.maxBytes = request.maxBytes;
        o.cancel = request.cancel;
        HttpResponse r;
        if (QIODevice *sink = request.sink) {
            r = HttpGet(request.url, o,
                        [sink](const char *data, qsizetype size) { return sink->write(data, size) == size; });
        } else {
            r = HttpGet(request.url, o);
        }
        core::UrlFetchResult out;
        out.ok = r.ok;
        out.status = r.status;
        out.bytes = std::move(r.body);
        out.contentType = std::move(r.contentType);
        out.error = std::move(r.error);
        return out;
    }
};

} // namespace

std::shared_ptr<core::IUrlFetcher> makeHttpFetcher()
{
    return std::make_shared<HttpFetcher>();
}

void installHttpFetcher()
{
    ensureHttpReady();
    core::setUrlFetcher(makeHttpFetcher());
}

} // namespace online
