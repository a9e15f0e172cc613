#pragma once

#include "platform/FlatpakBundleInstall.h"
#include "platform/PackageInstall.h"
#include "platform/Worker.h"
#include "tasks/BrimHttpDownload.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/InstallerKind.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// Values of TBrimTaskItem::State for download tasks; also what the task list file stores.
namespace OVTaskState {
enum : int {
    NotDownloaded = -1,
    StartDownload = 0,
    StartInstall = 1,
    Downloading = 2,
    Installing = 3,
    DownloadStopped = 4,
    DownloadPaused = 5,
    DownloadResumed = 6,
    DownloadCompleted = 7,
    InstallCompleted = 8,
    Failed = 9,
};

// Language key of a state's text ("String.TaskState.<Name>"); empty for unknown values.
QString Key(int state);
// The built-in English text of a state; empty for unknown values.
QString DefaultText(int state);
} // namespace OVTaskState

namespace tasks {
// How a downloaded installer is started, judged by its content: ELF binaries and
// "#!" scripts run directly (given the owner's execute bit), Windows programs
// through wine in the user's prefix when Wine is installed. Empty when the file
// cannot be run; Debian packages are installed through the package manager
// instead, Flatpak bundles through Flatpak.
QStringList installerCommand(const QString &file);
QStringList installerCommand(const QString &file, InstallerKind kind);
// What installs Debian packages; until one is set, apt on the machine's own
// package database. Main thread only.
void SetPackageInstaller(std::shared_ptr<const platform::IPackageInstall> Installer);
std::shared_ptr<const platform::IPackageInstall> PackageInstaller();
// The task's error text for a package installation that did not happen
// (empty for a finished or cancelled one), with the package manager's own words.
QString PackageInstallErrorText(const QString &Name, const platform::PackageInstallResult &Result);
// Where Flatpak bundles are installed: the user's installation through the
// flatpak command unless set otherwise. Main thread only.
void SetFlatpakOptions(platform::FlatpakOptions Options);
const platform::FlatpakOptions &FlatpakOptions();
// The task's error text for a bundle that was not installed (empty for an
// installed or cancelled one): Flatpak's own words, or that it is missing.
QString FlatpakInstallErrorText(const QString &Name, const platform::PackageInstallResult &Result);
// The host a download from Url reaches over plain HTTP when that host is not
// this machine (judged by the address alone); empty for https and loopback.
QString plainHttpHostOf(const QString &Url);
// The name a rejected download is kept under beside its place: File + ".mismatch",
// numbered when that is taken.
QString asideFileName(const QString &File);
// A downloader's error code as the journal keeps it: "HTTP 404", the
// system's message for an error number, or "unknown error".
QString DownloadErrorText(quint32 code);
} // namespace tasks

// One download task: drives its HTTP download and, optionally, the installer run.
class TOVTaskItem : public TBrimTaskItem
{
public:
    TOVTaskItem() = default;
    ~TOVTaskItem() override;

    std::unique_ptr<TBrimHttpDownload> Downloader;
    bool DownloadOnly = false;
    bool AutoInstall = false;
    bool ResumeBroken = false;
    bool Installed = false;
    double DownloadDate = 0; // OLE Automation date, local time
    QString HttpUrl;
    QString LocalFile;
    quint32 CurrentSize = 0;
    quint32 TotalSize = 0;
    quint32 SpeedBPS = 0;
    // The vendor's SHA-256 of the file (64 lower-case hexadecimal digits);
    // empty when none was given. A damaged value read from the task list is
    // kept (marked with a leading "?"): it never matches, so the file is never
    // run unchecked.
    QString Sha256;
    // The host of a plain-HTTP answer from another machine that LocalFile
    // (or a part of it) came through; empty when it all came over TLS or from
    // this machine.
    QString PlainHttpHost;
    // Why the last installer run could not start or was refused, in the
    // user's language (a Windows installer without Wine, a file that does not
    // match its digest); empty otherwise.
    QString InstallError;
    // Where the last file that did not match its digest was put aside; empty when none.
    QString RejectedFile;
    // The automatic install after the last download did not start: it waits
    // for the user's word (NeedsConsent). Cleared by the next download or install.
    bool InstallHeld = false;

    void Init() override;
    // Downloads, then installs when AutoInstall is set.
    void Start() override;
    // Downloads without installing afterwards; false when the downloader is busy
    // or the file is being checked or installed.
    bool Download();
    void Stop() override;
    void Pause() override;
    void Resume() override;
    // Stops the task, removes its file and partial-state file, and frees it.
    void Delete() override;
    // Runs the downloaded installer on a worker and waits for everything it
    // started. With a digest, the file is checked first (on the worker) and a
    // file that does not match is put aside and never run. Does nothing while
    // NeedsConsent() holds.
    void Install();
    // Installing waits for the user's word: the file has no digest to check
    // and came over plain HTTP from another machine (PlainHttpHost). An
    // automatic install then leaves the task completed.
    bool NeedsConsent() const { return Sha256.isEmpty() && !PlainHttpHost.isEmpty() && !m_consented; }
    // The user's word that this file may be installed unchecked; it lasts
    // until the next download.
    void AcceptUnverified() { m_consented = true; }

    bool InstallRunning() const { return m_installer.running() > 0; }

private:
    bool beginDownload();
    void downloadCompleted();
    void launchInstaller();
    void launchPackageInstall();
    void launchFlatpakInstall();
    // Runs a package manager's install on the worker; errorText words its failures.
    using TManagedInstall = std::function<platform::PackageInstallResult(const std::atomic<bool> *cancel)>;
    using TInstallErrorText = QString (*)(const QString &Name, const platform::PackageInstallResult &Result);
    void startManagedInstall(TManagedInstall install, TInstallErrorText errorText);
    // Ends an install that could not start, with its reason.
    void installRefused(const QString &error);
    void verified(const std::optional<QString> &actual);
    // notInstalled: the run ended, but the installer said it installed nothing
    // (a package manager's failure), so the task fails.
    void installFinished(quint32 result, std::optional<int> exitStatus = std::nullopt,
                         bool notInstalled = false);
    // The journal's records of the download and the installer run now under way (empty when none).
    QString m_downloadRecord;
    QString m_installRecord;

    // The installer run; cancelled when the task goes (the installer itself goes on by itself).
    platform::Worker m_installer;
    // Lets code that fires events find out whether a handler freed this item.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_consented = false;
};
