#pragma once

// Serves one page archive to the browsers of a profile under the archive
// scheme: every part at the mirror of its address, with the page's and the
// style sheets' references to other parts pointing into the mirror.

#include "online/PageArchive.h"

#include <QPointer>
#include <QWebEngineProfile>
#include <QWebEngineUrlSchemeHandler>
#include <memory>

class TBrimArchiveSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    // Installs itself on Profile (for the profile's lifetime or its own).
    explicit TBrimArchiveSchemeHandler(QWebEngineProfile *Profile, QObject *Parent = nullptr);
    ~TBrimArchiveSchemeHandler() override;

    // Once per process, before the application object exists.
    static void RegisterScheme();

    // The archive served from now on (null: nothing is served).
    void SetArchive(std::shared_ptr<const TPageArchive> Archive);
    std::shared_ptr<const TPageArchive> Archive() const { return m_archive; }
    // Where the archive's page is shown (invalid without an archive).
    QUrl PageUrl() const;
    // Requests answered so far (for tests and diagnostics).
    int Served() const { return m_served; }

    void requestStarted(QWebEngineUrlRequestJob *Job) override;

private:
    QPointer<QWebEngineProfile> m_profile;
    std::shared_ptr<const TPageArchive> m_archive;
    int m_served = 0;
};
