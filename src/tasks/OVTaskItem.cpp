#include "tasks/OVTaskItem.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/OVJournal.h"
#include "core/OVSettings.h"
#include "core/Sha256Digest.h"
#include "platform/ProcessJob.h"
#include "platform/WinePrefix.h"
#include "tasks/DownloadParsing.h"
#include "tasks/InstallerKind.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <limits>
#include <utility>

namespace OVTaskState {

namespace {
struct StateInfo
{
    int state;
    const char *name;
    const char *text;
};
constexpr StateInfo kStates[] = {
    {NotDownloaded, "NotDownloaded", "Not downloaded yet"},
    {StartDownload, "StartDownload", "Start download"},
    {StartInstall, "StartInstall", "Start install"},
    {Downloading, "Downloading", "Downloading... | %s/s"},
    {Installing, "Installing", "Installing..."},
    {DownloadStopped, "DownloadStopped", "Stopped"},
    {DownloadPaused, "DownloadPaused", "Paused"},
    {DownloadResumed, "DownloadResumed", "Resumed"},
    {DownloadCompleted, "DownloadCompleted", "Completed"},
    {InstallCompleted, "InstallCompleted", "Completed"},
    {Failed, "Failed", "Failed"},
};
const StateInfo *find(int state)
{
    for (const StateInfo &s : kStates)
        if (s.state == state)
            return &s;
    return nullptr;
}
} // namespace

QString Key(int state)
{
    const StateInfo *s = find(state);
    return s ? QStringLiteral("String.TaskState.") + QLatin1String(s->name) : QString();
}

QString DefaultText(int state)
{
    const StateInfo *s = find(state);
    return s ? QString::fromLatin1(s->text) : QString();
}

} // namespace OVTaskState

namespace tasks {

QString DownloadErrorText(quint32 code)
{
    if (code == TBrimHttpDownload::UnknownError)
        return QStringLiteral("unknown error");
    if (code >= 400 && code < 600)
        return QStringLiteral("HTTP %1").arg(code);
    return QStringLiteral("%1 (%2)").arg(qt_error_string(int(code))).arg(code);
}

QStringList installerCommand(const QString &file)
{
    return installerCommand(file, installerKindOfFile(file));
}

QStringList installerCommand(const QString &file, InstallerKind kind)
{
    switch (kind) {
    case InstallerKind::LinuxProgram:
    case InstallerKind::Script: {
        QFile f(file);
        if (!f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser))
            return {};
        return {file};
    }
    case InstallerKind::WindowsProgram:
        // In the user's prefix, the one the Uninstall tab lists.
        if (!platform::wineProgram().isEmpty())
            return platform::wineArgv(platform::defaultWinePrefix(), {file});
        return {};
    case InstallerKind::DebianPackage:
    case InstallerKind::FlatpakBundle:
    case InstallerKind::Unknown:
        break;
    }
    return {};
}

namespace {
std::shared_ptr<const platform::IPackageInstall> &packageInstallerSlot()
{
    static std::shared_ptr<const platform::IPackageInstall> installer;
    return installer;
}
} // namespace

void SetPackageInstaller(std::shared_ptr<const platform::IPackageInstall> Installer)
{
    packageInstallerSlot() = std::move(Installer);
}

std::shared_ptr<const platform::IPackageInstall> PackageInstaller()
{
    std::shared_ptr<const platform::IPackageInstall> &slot = packageInstallerSlot();
    if (!slot)
        slot = platform::makeAptPackageInstall();
    return slot;
}

QString PackageInstallErrorText(const QString &Name, const platform::PackageInstallResult &Result)
{
    using platform::PackageOutcome;
    switch (Result.Outcome) {
    case PackageOutcome::Done:
    case PackageOutcome::Cancelled:
        return {};
    case PackageOutcome::Locked:
        return OVFormatText(QStringLiteral("String.MsgText.PackageInstallLocked"), {Name});
    case PackageOutcome::NoElevation:
        return OVFormatText(QStringLiteral("String.MsgText.PackageInstallPkexecMissing"), {Name});
    case PackageOutcome::NoAgent:
        return OVFormatText(QStringLiteral("String.MsgText.PackageInstallNoAgent"), {Name});
    case PackageOutcome::NotAuthorized:
        return OVFormatText(QStringLiteral("String.MsgText.PackageInstallNotAuthorized"), {Name});
    case PackageOutcome::Failed:
    case PackageOutcome::Refused:
    case PackageOutcome::Changed:
        break;
    }
    return OVFormatText(QStringLiteral("String.MsgText.PackageInstallFailed"), {Name, Result.Reason});
}

namespace {
platform::FlatpakOptions &flatpakOptionsSlot()
{
    static platform::FlatpakOptions options;
    return options;
}
} // namespace

void SetFlatpakOptions(platform::FlatpakOptions Options)
{
    flatpakOptionsSlot() = std::move(Options);
}

const platform::FlatpakOptions &FlatpakOptions()
{
    return flatpakOptionsSlot();
}

QString FlatpakInstallErrorText(const QString &Name, const platform::PackageInstallResult &Result)
{
    if (Result.Outcome == platform::PackageOutcome::Done
        || Result.Outcome == platform::PackageOutcome::Cancelled)
        return {};
    if (Result.JobResult == platform::JobStartFailed)
        return OVFormatText(QStringLiteral("String.MsgText.FlatpakMissing"),
                            {Name, QString::fromLatin1(platform::kFlatpakPackage)});
    return OVFormatText(QStringLiteral("String.MsgText.FlatpakInstallFailed"), {Name, Result.Reason});
}

QString plainHttpHostOf(const QString &Url)
{
    const QUrl url(Url.trimmed().contains(QLatin1String("://")) ? Url.trimmed()
                                                                : QStringLiteral("http://") + Url.trimmed());
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        return {};
    const QString host = url.host().isEmpty() ? QStringLiteral("?") : url.host();
    // No peer is known here: a loopback name counts when it is an address.
    const QString peer = host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        ? QStringLiteral("127.0.0.1")
        : host;
    return FromThisMachine(host, peer) ? QString() : host;
}

QString asideFileName(const QString &File)
{
    QString name = File + QStringLiteral(".mismatch");
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = File + QStringLiteral(".mismatch-") + QString::number(n);
    return name;
}

} // namespace tasks

TOVTaskItem::~TOVTaskItem()
{
    *m_alive = false;
    m_installer.cancel(); // the installer goes on by itself; its result is no longer ours
    Downloader.reset();
    // The program closes or the task goes: a download ends here; an installer
    // still running goes on unwatched, so its outcome stays unknown.
    journal::End(m_downloadRecord, journal::Result::Stopped);
    journal::End(m_installRecord, journal::Result::Interrupted);
}

void TOVTaskItem::Init()
{
    Downloader = std::make_unique<TBrimHttpDownload>();
    Downloader->OnStart = [this](TBrimHttpDownload *, int, int, const QString &, const QString &) {
        SetState(OVTaskState::StartDownload);
    };
    Downloader->OnProcess = [this](TBrimHttpDownload *, int, int, const QString &, const QString &,
                                   quint32 current, quint32 total, quint32 speed) {
        CurrentSize = current;
        TotalSize = total;
        SpeedBPS = speed;
        SetState(OVTaskState::Downloading);
    };
    Downloader->OnFileCompleted = [this](TBrimHttpDownload *, int, int, const QString &, const QString &,
                                         quint32) { downloadCompleted(); };
    Downloader->OnStopped = [this](TBrimHttpDownload *) {
        journal::End(std::exchange(m_downloadRecord, {}), journal::Result::Stopped);
        SetState(OVTaskState::DownloadStopped);
    };
    Downloader->OnPaused = [this](TBrimHttpDownload *) { SetState(OVTaskState::DownloadPaused); };
    Downloader->OnResumed = [this](TBrimHttpDownload *) { SetState(OVTaskState::DownloadResumed); };
    Downloader->OnError
        = [this](TBrimHttpDownload *, int, int, const QString &, const QString &, quint32 code, bool &) {
              journal::End(std::exchange(m_downloadRecord, {}), journal::Result::Failed, std::nullopt,
                           tasks::DownloadErrorText(code));
              SetState(OVTaskState::Failed);
          };
}

bool TOVTaskItem::beginDownload()
{
    // A file being checked or run is not rewritten under it: what runs is what was checked.
    if (!Downloader || InstallRunning())
        return false;
    Downloader->ResumeBroken = ResumeBroken;
    // Begun before the request goes out; a start the downloader refuses is no operation.
    const QString record = journal::Begin(journal::Kind::Download, {Name, {}, HttpUrl, LocalFile});
    const bool started = Downloader->Download(HttpUrl, LocalFile);
    if (started) {
        m_downloadRecord = record;
        m_consented = false; // the word was given for the file as it was
        InstallHeld = false;
    } else
        journal::End(record, journal::Result::Failed, std::nullopt, QStringLiteral("busy"));
    return started;
}

void TOVTaskItem::downloadCompleted()
{
    journal::End(std::exchange(m_downloadRecord, {}), journal::Result::Succeeded);
    // A resumed file holds bytes of an earlier run, whose answers are not known
    // here any more: the address it came from then stands for them.
    const QString host = Downloader->LastPlainHttpHost();
    if (Downloader->LastResumeOffset() == 0)
        PlainHttpHost = host;
    else if (PlainHttpHost.isEmpty())
        PlainHttpHost = host.isEmpty() ? tasks::plainHttpHostOf(HttpUrl) : host;
    const bool install = AutoInstall && !DownloadOnly;
    InstallHeld = install && NeedsConsent();
    const std::weak_ptr<bool> alive = m_alive;
    SetState(OVTaskState::DownloadCompleted);
    if (!alive.expired() && install && !InstallHeld)
        Install();
}

void TOVTaskItem::Start()
{
    DownloadOnly = false;
    beginDownload();
}

bool TOVTaskItem::Download()
{
    DownloadOnly = true;
    return beginDownload();
}

void TOVTaskItem::Stop()
{
    if (Downloader && (State == OVTaskState::Downloading || State == OVTaskState::DownloadPaused))
        Downloader->Stop();
}

void TOVTaskItem::Pause()
{
    if (Downloader && State == OVTaskState::Downloading)
        Downloader->Pause();
}

void TOVTaskItem::Resume()
{
    if (Downloader && State == OVTaskState::DownloadPaused)
        Downloader->Resume();
}

void TOVTaskItem::Delete()
{
    const QString file = LocalFile;
    const QString partial = TBrimHttpDownload::PartialStateFileName(LocalFile);
    const std::weak_ptr<bool> alive = m_alive;
    Stop();
    if (alive.expired())
        return; // a state-change handler already freed the task
    // A run that is only starting or resuming has not been stopped above: end it
    // quietly so it cannot write the files again after they are gone.
    Downloader.reset();
    if (!file.isEmpty()) {
        QFile::remove(file);
        QFile::remove(partial);
    }
    TBrimTaskItem::Delete();
}

void TOVTaskItem::Install()
{
    if (InstallRunning() || NeedsConsent())
        return; // one installer run per task at a time; an unchecked file waits for the user
    InstallHeld = false;
    const std::weak_ptr<bool> alive = m_alive;
    SetState(OVTaskState::StartInstall);
    if (alive.expired())
        return;
    SetState(OVTaskState::Installing);
    if (alive.expired())
        return;
    InstallError.clear();
    if (Sha256.isEmpty()) {
        launchInstaller();
        return;
    }
    // The whole file is read: on the worker, so a large installer never stalls the window.
    const QString file = LocalFile;
    const bool started = m_installer.start(
        [file](const platform::WorkerContext &run) { return core::FileSha256(file, run.cancelFlag()); },
        [this](const std::optional<QString> &actual) { verified(actual); });
    if (!started)
        installFinished(platform::JobStartFailed);
}

void TOVTaskItem::verified(const std::optional<QString> &actual)
{
    if (actual && *actual == Sha256) {
        launchInstaller();
        return;
    }
    // Nothing of this file runs. A file that does not match goes aside, out of
    // the way of a new download, and keeps its bytes for whoever looks into it.
    if (!actual) {
        InstallError = OVFormatText(QStringLiteral("String.MsgText.DigestUnreadable"), {Name, LocalFile});
    } else {
        QString aside = tasks::asideFileName(LocalFile);
        if (QFile::rename(LocalFile, aside)) {
            QFile::setPermissions(aside, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        } else {
            QFile::setPermissions(LocalFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            aside = LocalFile;
        }
        RejectedFile = aside;
        InstallError
            = OVFormatText(QStringLiteral("String.MsgText.DigestMismatch"), {Name, Sha256, *actual, aside});
    }
    // The refused run is in the history too, with the reason it never started.
    journal::End(journal::Begin(journal::Kind::Install, {Name, {}, LocalFile, LocalFile}),
                 journal::Result::Failed, std::nullopt, InstallError);
    SetState(OVTaskState::Failed);
}

void TOVTaskItem::launchInstaller()
{
    const tasks::InstallerKind kind = tasks::installerKindOfFile(LocalFile);
    if (kind == tasks::InstallerKind::DebianPackage) {
        launchPackageInstall();
        return;
    }
    if (kind == tasks::InstallerKind::FlatpakBundle) {
        launchFlatpakInstall();
        return;
    }
    const QStringList argv = tasks::installerCommand(LocalFile, kind);
    if (argv.isEmpty()) {
        if (!QFileInfo::exists(LocalFile))
            InstallError = OVFormatText(QStringLiteral("String.MsgText.InstallerMissing"), {Name, LocalFile});
        else if (kind == tasks::InstallerKind::WindowsProgram && platform::wineProgram().isEmpty())
            InstallError = OVFormatText(QStringLiteral("String.MsgText.WineMissing"),
                                        {Name, QString::fromLatin1(platform::kWinePackage)});
        else if (kind == tasks::InstallerKind::Unknown)
            InstallError
                = OVFormatText(QStringLiteral("String.MsgText.InstallerUnknownType"), {Name, LocalFile});
    }
    // On disk before the installer starts, so that a crash during the run leaves it open.
    m_installRecord = journal::Begin(journal::Kind::Install,
                                     {Name, {}, LocalFile, argv.isEmpty() ? LocalFile : argv.join(u' ')});
    if (argv.isEmpty()) {
        installFinished(platform::JobStartFailed);
        return;
    }
    // The result reaches the task only while it exists: freeing it cancels the run.
    struct Outcome
    {
        quint32 result;
        std::optional<int> exitStatus;
    };
    const bool started = m_installer.start(
        [argv](const platform::WorkerContext &run) {
            constexpr int kUnknown = std::numeric_limits<int>::min();
            int status = kUnknown;
            const quint32 result = RunAndWait(argv, INFINITE_WAIT, SW_SHOWNORMAL, run.cancelFlag(), &status);
            return Outcome {result, status == kUnknown ? std::nullopt : std::optional(status)};
        },
        [this](Outcome outcome) { installFinished(outcome.result, outcome.exitStatus); });
    if (!started)
        installFinished(platform::JobStartFailed);
}

void TOVTaskItem::launchPackageInstall()
{
    const std::shared_ptr<const platform::IPackageInstall> installer = tasks::PackageInstaller();
    const platform::PackageInstallCommand command = installer->command(LocalFile);
    m_installRecord = journal::Begin(journal::Kind::Install, {Name, {}, LocalFile, command.argv.join(u' ')});
    if (!command.ok()) {
        platform::PackageInstallResult refused;
        refused.Outcome = platform::PackageOutcome::NoElevation;
        installRefused(tasks::PackageInstallErrorText(Name, refused));
        return;
    }
    startManagedInstall(
        [installer, command](const std::atomic<bool> *cancel) { return installer->install(command, cancel); },
        tasks::PackageInstallErrorText);
}

void TOVTaskItem::launchFlatpakInstall()
{
    const platform::FlatpakOptions options = tasks::FlatpakOptions();
    const QStringList command = platform::flatpakBundleCommand(LocalFile, options);
    m_installRecord = journal::Begin(
        journal::Kind::Install, {Name, {}, LocalFile, command.isEmpty() ? LocalFile : command.join(u' ')});
    if (command.isEmpty()) {
        platform::PackageInstallResult missing;
        missing.JobResult = platform::JobStartFailed;
        installRefused(tasks::FlatpakInstallErrorText(Name, missing));
        return;
    }
    startManagedInstall(
        [command, options](const std::atomic<bool> *cancel) {
            return platform::installFlatpakBundle(command, options, cancel);
        },
        tasks::FlatpakInstallErrorText);
}

void TOVTaskItem::startManagedInstall(TManagedInstall install, TInstallErrorText errorText)
{
    // The package manager's exit status says whether the software is there: a failure fails the task.
    const bool started
        = m_installer.start([install = std::move(install)](
                                const platform::WorkerContext &run) { return install(run.cancelFlag()); },
                            [this, errorText](const platform::PackageInstallResult &result) {
                                InstallError = errorText(Name, result);
                                installFinished(result.JobResult, result.ExitStatus, !result.ok());
                            });
    if (!started)
        installFinished(platform::JobStartFailed);
}

void TOVTaskItem::installRefused(const QString &error)
{
    InstallError = error;
    installFinished(platform::JobStartFailed);
}

void TOVTaskItem::installFinished(quint32 result, std::optional<int> exitStatus, bool notInstalled)
{
    // The task counts the run complete once everything it started has ended;
    // the journal also tells whether the installer itself reported a failure.
    const bool failed = notInstalled || result != 0 || (exitStatus && *exitStatus != 0);
    QString error = InstallError;
    if (result != 0 && error.isEmpty())
        error = QStringLiteral("0x%1").arg(result, 8, 16, QChar(u'0'));
    journal::End(std::exchange(m_installRecord, {}),
                 failed ? journal::Result::Failed : journal::Result::Succeeded, exitStatus, error);
    Installed = true;
    // Before the state is reported, so that the list written for it tells
    // whether the installer file is still there.
    if (OVSettings::FileKeepDays.load() == 0 && !LocalFile.isEmpty())
        QFile::remove(LocalFile);
    SetState(result == 0 && !notInstalled ? OVTaskState::InstallCompleted : OVTaskState::Failed);
}
