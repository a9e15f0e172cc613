#pragma once

// The recommendation tab: the vendor's recommendation page in a browser, with
// the copy kept in Files/TopX.mht shown while the live page loads behind it.
// Once per run the live page is saved as the next start's copy.

#include "ui/OVTabPage.h"

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

class QWebEngineProfile;
class TBrimArchiveSchemeHandler;
class TBrimWebBrowser;
class TPageSaveJob;
struct TArchiveSaveResult;

class TOVTopXTab : public QWidget, public IOVTabPage
{
    Q_OBJECT
public:
    // Adds a download task; an empty text when done, otherwise why not (it may also throw).
    // Sha256 is the vendor's digest of the file in its stored form, empty when none was given.
    using TAddDownloadTask
        = std::function<QString(const QString &Title, const QString &Url, const QString &Sha256)>;

    // CacheFile: where the page's copy is kept (Files/TopX.mht). TopXUrl gives
    // the recommendation page's address as of the last language change.
    TOVTopXTab(const QString &CacheFile, std::function<QString()> TopXUrl, TAddDownloadTask AddDownloadTask,
               QWidget *Parent = nullptr);
    ~TOVTopXTab() override;

    // Tab page.
    QWidget *PageWidget() override { return this; }
    void Activate() override;
    void Deactivate() override;
    // A language change: while the tab is current the live page is loaded from
    // its (possibly new) address.
    void ApplyTexts() override;

    // Shows the page the first time; later calls do nothing.
    void ShowTopXPage();
    // Starts saving Url into FileName on a worker thread; false when refused
    // (an address or file name above 1024 characters, a save already running).
    bool SaveUrlAsMht(const QString &Url, const QString &FileName);
    QString TopXCacheFile() const;

    // Browser events.
    QObject *wbTopXGetExternal(TBrimWebBrowser *Sender);
    void wbTopXLocalDocumentComplete(TBrimWebBrowser *Sender, const QUrl &Url);
    void wbTopXOnlineDocumentComplete(TBrimWebBrowser *Sender, const QUrl &Url);

    // Null until the page is first shown.
    TBrimWebBrowser *wbTopXLocal = nullptr;
    TBrimWebBrowser *wbTopXOnline = nullptr;

    bool TopXFirstShow = true;
    bool TopXSaveOnce = true;
    // Set to -1 when the saving worker has ended.
    qint32 TopXSaveDone = 0;

    // The copy was saved (or the attempt failed).
    std::function<void(TOVTopXTab *Sender, bool Ok)> OnCopySaved;

protected:
    void resizeEvent(QResizeEvent *Event) override;

private:
    void createBrowsers();
    void setAllowedOrigins();
    void navigateOnline();

    QString m_cacheFile;
    std::function<QString()> m_topXUrl;
    TAddDownloadTask m_addDownloadTask;
    QWebEngineProfile *m_profile = nullptr;
    TBrimArchiveSchemeHandler *m_copyHandler = nullptr;
    bool m_current = false;
    std::unique_ptr<TPageSaveJob> m_saver;
};
