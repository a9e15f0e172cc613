#include "online/PageCollect.h"

#include "online/HttpSetup.h"
#include "online/MimeCodecs.h"
#include "online/PageArchiveDetail.h"
#include "online/PageMirror.h"
#include "online/PageReferences.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <algorithm>

using namespace pagearchive;

TArchiveFetchResult FetchForArchive(const QUrl &Url, qint64 MaxBytes, const std::atomic<bool> *Cancel)
{
    online::HttpOptions options;
    options.agent = "Mozilla/5.0 (compatible; Orvane)";
    options.connectTimeoutMs = 10000;
    options.stallTimeoutMs = 15000;
    options.totalTimeoutMs = 30000;
    options.maxBytes = MaxBytes;
    options.redirects = online::Redirects::Follow;
    options.maxRedirects = 5;
    options.cancel = Cancel;
    online::HttpResponse response = online::HttpGet(QString::fromLatin1(Url.toEncoded()), options);
    TArchiveFetchResult result;
    result.Status = response.status;
    result.ContentType = response.contentType;
    result.FinalUrl = response.effectiveUrl.isEmpty() ? Url : QUrl::fromEncoded(response.effectiveUrl);
    result.TooLarge = response.tooLarge;
    if (!response.ok) {
        result.Error = response.error;
        return result;
    }
    result.Body = std::move(response.body);
    result.Ok = result.Status >= 200 && result.Status < 300;
    if (!result.Ok)
        result.Error = QStringLiteral("HTTP status %1").arg(result.Status);
    return result;
}

TArchiveSaveResult CollectPageArchive(const QUrl &Url, TPageArchive &Archive, const TArchiveLimits &Limits,
                                      const TArchiveFetchFunc &Fetch, const std::atomic<bool> *Cancel)
{
    TArchiveSaveResult result;
    Archive.Parts.clear();
    const auto cancelled = [Cancel] { return Cancel && Cancel->load(); };
    if (!Url.isValid() || !isWebScheme(Url.scheme()) || Url.host().isEmpty()) {
        result.Error = QStringLiteral("not an http or https address");
        return result;
    }
    QElapsedTimer clock;
    clock.start();

    TArchiveFetchResult page = Fetch(withoutFragment(Url), Limits.PageBytes, Cancel);
    if (!page.Ok) {
        result.Error = page.Error.isEmpty() ? QStringLiteral("page not fetched") : page.Error;
        return result;
    }
    const QUrl pageUrl = withoutFragment(page.FinalUrl.isValid() ? page.FinalUrl : Url);
    if (UrlOriginText(pageUrl) != UrlOriginText(Url)) {
        result.Error = QStringLiteral("the page was redirected to another site");
        return result;
    }
    TArchivePart root {pageUrl, mime::headerSafe(page.ContentType), page.Body};
    if (root.ContentType.isEmpty())
        root.ContentType = "text/html";
    if (!root.IsHtml()) {
        result.Error = QStringLiteral("the page is not HTML");
        return result;
    }
    Archive.Parts.append(root);
    qint64 total = root.Body.size();

    struct Pending
    {
        QUrl url;
        bool styleSheet;
        int depth;
    };
    QList<Pending> queue;
    QSet<QString> seen {partKey(pageUrl)};
    const auto enqueue = [&](const QUrl &base, const QList<TPageReference> &refs, int depth) {
        QUrl resolveBase = base;
        for (const TPageReference &ref : refs) {
            if (ref.RefKind == TPageReference::Base) {
                const QUrl b = resolveWebUrl(base, ref.Value);
                if (b.isValid())
                    resolveBase = b;
                break;
            }
        }
        for (const TPageReference &ref : refs) {
            if (ref.RefKind == TPageReference::Base)
                continue;
            const QUrl target = withoutFragment(resolveWebUrl(resolveBase, ref.Value));
            if (!target.isValid())
                continue;
            const QString key = partKey(target);
            if (seen.contains(key))
                continue;
            seen.insert(key);
            queue.append({target, ref.RefKind == TPageReference::StyleSheet, depth});
        }
    };
    enqueue(pageUrl, FindHtmlReferences(root.Body), 0);

    for (qsizetype q = 0; q < queue.size(); ++q) {
        const Pending item = queue[q];
        const qint64 room = std::min(Limits.ResourceBytes, Limits.TotalBytes - total);
        if (cancelled() || Archive.Parts.size() > Limits.MaxResources || room <= 0
            || clock.elapsed() > Limits.TotalTimeMs) {
            ++result.Skipped;
            continue;
        }
        TArchiveFetchResult got = Fetch(item.url, room, Cancel);
        if (!got.Ok) {
            ++result.Skipped;
            continue;
        }
        TArchivePart part {item.url, mime::headerSafe(got.ContentType), got.Body};
        if (part.ContentType.isEmpty())
            part.ContentType = item.styleSheet ? "text/css" : "application/octet-stream";
        total += part.Body.size();
        if (item.styleSheet && item.depth < Limits.MaxStyleSheetDepth)
            enqueue(item.url, FindCssReferences(part.Body), item.depth + 1);
        Archive.Parts.append(std::move(part));
    }
    if (cancelled()) {
        result.Error = QStringLiteral("cancelled");
        Archive.Parts.clear();
        return result;
    }
    result.Ok = true;
    result.Parts = int(Archive.Parts.size());
    result.Bytes = total;
    return result;
}

TArchiveSaveResult SavePageArchive(const QString &Url, const QString &FileName, const TArchiveLimits &Limits,
                                   const TArchiveFetchFunc &Fetch, const std::atomic<bool> *Cancel)
{
    TArchiveSaveResult result;
    if (Url.size() > PageArchiveMaxUrlLength || FileName.size() > PageArchiveMaxUrlLength) {
        result.Error = QStringLiteral("address or file name too long");
        return result;
    }
    if (FileName.isEmpty()) {
        result.Error = QStringLiteral("no file name");
        return result;
    }
    TPageArchive archive;
    result = CollectPageArchive(QUrl(Url), archive, Limits, Fetch, Cancel);
    if (!result.Ok)
        return result;
    QString error;
    if (!WritePageArchiveFile(archive, FileName, &error)) {
        result.Ok = false;
        result.Error = error;
    }
    return result;
}
