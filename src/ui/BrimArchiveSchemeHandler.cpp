#include "ui/BrimArchiveSchemeHandler.h"

#include "online/PageMirror.h"

#include <QBuffer>
#include <QPointer>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

TBrimArchiveSchemeHandler::TBrimArchiveSchemeHandler(QWebEngineProfile *Profile, QObject *Parent)
    : QWebEngineUrlSchemeHandler(Parent)
    , m_profile(Profile)
{
    m_profile->installUrlSchemeHandler(PageArchiveScheme, this);
}

TBrimArchiveSchemeHandler::~TBrimArchiveSchemeHandler()
{
    if (m_profile)
        m_profile->removeUrlSchemeHandler(this);
}

void TBrimArchiveSchemeHandler::RegisterScheme()
{
    if (QWebEngineUrlScheme::schemeByName(PageArchiveScheme).name() == PageArchiveScheme)
        return;
    QWebEngineUrlScheme scheme(PageArchiveScheme);
    // Host and port as in the addresses the parts came from, so the copy keeps
    // the origin structure of the live site.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::HostAndPort);
    scheme.setDefaultPort(80);
    scheme.setFlags(QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void TBrimArchiveSchemeHandler::SetArchive(std::shared_ptr<const TPageArchive> Archive)
{
    m_archive = std::move(Archive);
}

QUrl TBrimArchiveSchemeHandler::PageUrl() const
{
    return m_archive && m_archive->Root() ? PageArchiveMirrorUrl(m_archive->Root()->Location) : QUrl();
}

void TBrimArchiveSchemeHandler::requestStarted(QWebEngineUrlRequestJob *Job)
{
    const QUrl url = Job->requestUrl();
    if (url.toEncoded().size() > PageArchiveMaxUrlLength) {
        Job->fail(QWebEngineUrlRequestJob::UrlInvalid);
        return;
    }
    if (Job->requestMethod() != "GET") {
        Job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const std::shared_ptr<const TPageArchive> archive = m_archive;
    const TArchivePart *part = archive ? archive->FindMirrored(url) : nullptr;
    if (!part) {
        // Not in the copy: on the copy's own site the live address is the
        // nearest thing (a link to a page that was not saved); elsewhere nothing.
        const TArchivePart *root = archive ? archive->Root() : nullptr;
        const QUrl rootMirror = root ? PageArchiveMirrorUrl(root->Location) : QUrl();
        if (root && url.host() == rootMirror.host() && url.port(80) == rootMirror.port(80)) {
            QUrl live = root->Location;
            live.setPath(url.path(QUrl::FullyEncoded), QUrl::TolerantMode);
            live.setQuery(url.query(QUrl::FullyEncoded), QUrl::TolerantMode);
            live.setFragment(QString());
            if (!url.hasQuery())
                live.setQuery(QString());
            Job->redirect(live);
        } else {
            Job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        }
        return;
    }
    auto *body = new QBuffer(Job);
    body->setData(MirroredPartBody(*archive, *part));
    body->open(QIODevice::ReadOnly);
    QByteArray type = part->ContentType;
    if (type.isEmpty())
        type = "application/octet-stream";
    ++m_served;
    Job->reply(type, body);
}
