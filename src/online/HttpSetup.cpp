#include "online/HttpSetup.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace online {

namespace {

struct Exchange
{
    const HttpOptions *options = nullptr;
    const HttpSink *sink = nullptr;
    QByteArray body;
    qint64 received = 0;
    bool tooLarge = false;
    bool sinkFailed = false;
};

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *x = static_cast<Exchange *>(user);
    const size_t n = size * count;
    if (x->options->maxBytes >= 0 && x->received + qint64(n) > x->options->maxBytes) {
        x->tooLarge = true;
        return 0;
    }
    x->received += qint64(n);
    if (x->sink) {
        if (!(*x->sink)(data, qsizetype(n))) {
            x->sinkFailed = true;
            return 0;
        }
    } else {
        x->body.append(data, qsizetype(n));
    }
    return n;
}

int onProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *x = static_cast<const Exchange *>(user);
    return x->options->cancel && x->options->cancel->load() ? 1 : 0;
}

struct EasyDeleter
{
    void operator()(CURL *c) const { curl_easy_cleanup(c); }
};
struct ListDeleter
{
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};

HttpResponse perform(const QString &url, const HttpOptions &options, const HttpSink *sink,
                     const QByteArray *postBody, const QByteArray &postType)
{
    HttpResponse r;
    ensureHttpReady();
    if (options.cancel && options.cancel->load()) {
        r.cancelled = true;
        r.error = QStringLiteral("cancelled");
        return r;
    }
    const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    CURL *c = easy.get();
    const QByteArray target = url.trimmed().toUtf8();
    if (!c || !applyHttpSetup(c, target, options)) {
        r.error = QStringLiteral("the HTTP client could not be set up");
        return r;
    }
    std::unique_ptr<curl_slist, ListDeleter> headers;
    QList<QByteArray> lines = options.headers;
    if (postBody && !postType.isEmpty())
        lines.prepend("Content-Type: " + postType);
    for (const QByteArray &line : lines) {
        curl_slist *grown = curl_slist_append(headers.get(), line.constData());
        if (!grown) {
            r.error = QStringLiteral("out of memory");
            return r;
        }
        headers.release();
        headers.reset(grown);
    }
    if (headers)
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    if (postBody) {
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(postBody->size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, postBody->constData());
    } else {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    }
    Exchange x;
    x.options = &options;
    x.sink = sink;
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &x);
    if (options.cancel) {
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &onProgress);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &x);
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    }
    if (options.maxBytes >= 0)
        curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxBytes));

    const CURLcode rc = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
    const char *type = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        r.contentType = type;
    const char *effective = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        r.effectiveUrl = effective;
    r.tooLarge = x.tooLarge || rc == CURLE_FILESIZE_EXCEEDED;
    r.cancelled = rc == CURLE_ABORTED_BY_CALLBACK;
    if (rc == CURLE_OK) {
        r.ok = true;
        r.body = std::move(x.body);
        return r;
    }
    long osError = 0;
    if (curl_easy_getinfo(c, CURLINFO_OS_ERRNO, &osError) == CURLE_OK)
        r.osError = int(osError);
    if (r.tooLarge)
        r.error = QStringLiteral("the answer is larger than %1 bytes").arg(options.maxBytes);
    else if (r.cancelled)
        r.error = QStringLiteral("cancelled");
    else if (x.sinkFailed)
        r.error = QStringLiteral("the answer could not be stored");
    else
        r.error = QString::fromUtf8(curl_easy_strerror(rc));
    return r;
}

} // namespace

namespace {
std::mutex caMutex;
QString caFileChoice;
} // namespace

void setTrustedCaFile(const QString &pemFile)
{
    std::lock_guard<std::mutex> lock(caMutex);
    caFileChoice = pemFile;
}

QString trustedCaFile()
{
    std::lock_guard<std::mutex> lock(caMutex);
    return caFileChoice;
}

void ensureHttpReady()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool applyHttpSetup(CURL *c, const QByteArray &url, const HttpOptions &options)
{
    const bool secure = url.left(8).toLower() == "https://";
    bool ok = curl_easy_setopt(c, CURLOPT_URL, url.constData()) == CURLE_OK;
    // Other schemes (file:, ftp:, ...) are never reached through a web address.
    ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    const char *redirProtocols
        = options.redirects == Redirects::FollowKeepTls && secure ? "https" : "http,https";
    ok = ok && curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, redirProtocols) == CURLE_OK;
    const bool follow = options.redirects != Redirects::None;
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    if (follow)
        curl_easy_setopt(c, CURLOPT_MAXREDIRS, options.maxRedirects);
    // One protocol version everywhere, the one every server of ours speaks.
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    const QString caFile = options.caFile.isEmpty() ? trustedCaFile() : options.caFile;
    if (!caFile.isEmpty()) {
        // This file alone: the system's folder of authorities is not consulted.
        const QByteArray path = caFile.toLocal8Bit();
        ok = ok && curl_easy_setopt(c, CURLOPT_CAINFO, path.constData()) == CURLE_OK;
        ok = ok && curl_easy_setopt(c, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    // Without a proxy option libcurl reads the proxy variables itself; an
    // empty proxy turns them off.
    if (!options.useProxy)
        curl_easy_setopt(c, CURLOPT_PROXY, "");
    // Workers run transfers: name resolution must not use signals.
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    if (options.connectTimeoutMs > 0)
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    if (options.totalTimeoutMs > 0)
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    if (options.stallTimeoutMs > 0) {
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, qMax(1L, (options.stallTimeoutMs + 999) / 1000));
    }
    if (!options.agent.isEmpty())
        curl_easy_setopt(c, CURLOPT_USERAGENT, options.agent.constData());
    return ok;
}

HttpResponse HttpGet(const QString &url, const HttpOptions &options)
{
    return perform(url, options, nullptr, nullptr, {});
}

HttpResponse HttpGet(const QString &url, const HttpOptions &options, const HttpSink &sink)
{
    return perform(url, options, sink ? &sink : nullptr, nullptr, {});
}

HttpResponse HttpPost(const QString &url, const QByteArray &body, const QByteArray &contentType,
                      const HttpOptions &options)
{
    return perform(url, options, nullptr, &body, contentType);
}

} // namespace online
