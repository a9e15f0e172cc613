#include "shell/TopXTab.h"

#include "online/PageMirror.h"
#include "online/PageSaveJob.h"
#include "platform/Memory.h"
#include "shell/OVWebExternal.h"
#include "ui/BrimArchiveSchemeHandler.h"
#include "ui/BrimWebBrowser.h"

#include <QFileInfo>
#include <QResizeEvent>
#include <QWebEngineProfile>

TOVTopXTab::TOVTopXTab(const QString &CacheFile, std::function<QString()> TopXUrl,
                       TAddDownloadTask AddDownloadTask, QWidget *Parent)
    : QWidget(Parent)
    , m_cacheFile(CacheFile)
    , m_topXUrl(std::move(TopXUrl))
    , m_addDownloadTask(std::move(AddDownloadTask))
{
    setObjectName(QStringLiteral("TopXTab"));
}

TOVTopXTab::~TOVTopXTab()
{
    // The worker first (it reports to this object), then the pages, then their profile.
    m_saver.reset();
    delete wbTopXLocal;
    delete wbTopXOnline;
    delete m_copyHandler;
    delete m_profile;
}

QString TOVTopXTab::TopXCacheFile() const
{
    return m_cacheFile;
}

void TOVTopXTab::createBrowsers()
{
    if (wbTopXOnline)
        return;
    // A profile of the tab's own, kept in memory: the copy on disk is the
    // program's cache; the scheme that serves it belongs to this profile only.
    m_profile = new QWebEngineProfile();
    m_copyHandler = new TBrimArchiveSchemeHandler(m_profile);
    const auto make = [this](const char *name) {
        auto *wb = new TBrimWebBrowser(this, m_profile);
        wb->setObjectName(QLatin1String(name));
        wb->SetNoBorder(true);
        wb->SetNoContextMenu(true);
        wb->SetScriptErrorAction(eaCancel);
        wb->OnGetExternal = [this](TBrimWebBrowser *sender) { return wbTopXGetExternal(sender); };
        wb->setGeometry(rect());
        return wb;
    };
    wbTopXLocal = make("wbTopXLocal");
    wbTopXOnline = make("wbTopXOnline");
    wbTopXLocal->OnDocumentComplete
        = [this](TBrimWebBrowser *sender, const QUrl &url) { wbTopXLocalDocumentComplete(sender, url); };
    wbTopXOnline->OnDocumentComplete
        = [this](TBrimWebBrowser *sender, const QUrl &url) { wbTopXOnlineDocumentComplete(sender, url); };
}

void TOVTopXTab::resizeEvent(QResizeEvent *Event)
{
    QWidget::resizeEvent(Event);
    for (TBrimWebBrowser *wb : {wbTopXLocal, wbTopXOnline}) {
        if (wb)
            wb->setGeometry(rect());
    }
}

void TOVTopXTab::setAllowedOrigins()
{
    // The vendor's site and the copy of its page; nothing else.
    const QUrl topX(m_topXUrl ? m_topXUrl() : QString());
    QStringList origins;
    if (UrlOriginText(topX) != QLatin1String("null")) {
        origins << UrlOriginText(topX);
        origins << UrlOriginText(PageArchiveMirrorUrl(topX));
    }
    wbTopXLocal->SetExternalOrigins(origins);
    wbTopXOnline->SetExternalOrigins(origins);
}

void TOVTopXTab::navigateOnline()
{
    setAllowedOrigins();
    wbTopXOnline->Navigate(m_topXUrl ? m_topXUrl() : QString());
}

void TOVTopXTab::Activate()
{
    m_current = true;
    ShowTopXPage();
}

void TOVTopXTab::Deactivate()
{
    m_current = false;
}

void TOVTopXTab::ApplyTexts()
{
    if (m_current && !TopXFirstShow && wbTopXOnline)
        navigateOnline();
}

void TOVTopXTab::ShowTopXPage()
{
    if (!TopXFirstShow)
        return;
    TopXFirstShow = false;
    createBrowsers();
    setAllowedOrigins();

    // A copy that cannot be read whole is treated as no copy; the next save replaces it.
    std::shared_ptr<const TPageArchive> copy;
    if (QFileInfo::exists(TopXCacheFile())) {
        if (std::optional<TPageArchive> read = ReadPageArchiveFile(TopXCacheFile()))
            copy = std::make_shared<const TPageArchive>(std::move(*read));
    }
    if (copy) {
        m_copyHandler->SetArchive(copy);
        wbTopXLocal->setVisible(true);
        wbTopXLocal->raise();
        wbTopXOnline->setVisible(false);
        wbTopXLocal->Navigate(m_copyHandler->PageUrl().toString());
        navigateOnline(); // loads behind the copy
    } else {
        wbTopXOnline->setVisible(true);
        wbTopXOnline->raise();
        wbTopXLocal->setVisible(false);
        navigateOnline();
    }
}

QObject *TOVTopXTab::wbTopXGetExternal(TBrimWebBrowser *)
{
    return new TOVWebExternal(m_addDownloadTask);
}

void TOVTopXTab::wbTopXLocalDocumentComplete(TBrimWebBrowser *, const QUrl &)
{
    platform::trimWorkingSet();
}

void TOVTopXTab::wbTopXOnlineDocumentComplete(TBrimWebBrowser *Sender, const QUrl &)
{
    // A load that brought no document (no network) leaves the copy in front.
    if (Sender->ReadyState() == READYSTATE_COMPLETE)
        return;
    wbTopXOnline->setVisible(true);
    wbTopXOnline->raise();
    wbTopXLocal->setVisible(false);
    // The copy is not shown again this run; its page need not stay in memory.
    wbTopXLocal->Unload();
    if (TopXSaveOnce) {
        TopXSaveOnce = false;
        SaveUrlAsMht(m_topXUrl ? m_topXUrl() : QString(), TopXCacheFile());
    }
    platform::trimWorkingSet();
}

bool TOVTopXTab::SaveUrlAsMht(const QString &Url, const QString &FileName)
{
    if (!m_saver)
        m_saver = std::make_unique<TPageSaveJob>();
    return m_saver->Start(Url, FileName, [this](const TArchiveSaveResult &result) {
        TopXSaveDone = -1;
        if (OnCopySaved)
            OnCopySaved(this, result.Ok);
    });
}
