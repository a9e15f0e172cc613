#pragma once

#include "installed/InstalledSource.h"
#include "platform/Worker.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TUninstManager;

// One uninstall entry: a key below one of the two uninstall roots.
class TUninstItem
{
public:
    explicit TUninstItem(TUninstManager *Manager);
    TUninstItem(const TUninstItem &) = delete;
    TUninstItem &operator=(const TUninstItem &) = delete;

    TUninstManager *Manager;
    QString KeyPath; // root text + key name
    QString KeyName;
    QString UninstallString;
    QString ModifyPath;
    QString IconFile; // "DisplayIcon" as written
    QString ParentName; // emptied once filed under its parent
    QString DisplayName;
    QString Version;
    QString Publisher;
    qint32 EstimatedSize = 0;
    double InstallDate = 0; // days since 1899-12-30; 0 = none
    QString InstallLocation;
    QString HelpLink;
    QString AboutLink;
    QString UpdateLink;
    QString Comments;
    int SmallIconIndex = 0;
    int LargeIconIndex = 0;
    bool TSAware = false;
    QString ReleaseType;
    // Which source made the entry, and its own name for it there (the
    // package, the Flatpak reference, the registry key).
    installed::EntrySource Source = installed::EntrySource::Registry;
    QString SourceId;
    // "SystemComponent" = 1, or a package that is no application: hidden
    // unless the manager shows system components.
    bool SystemComponent = false;
    QString Summary;
    // Why an entry with an uninstall command must not be removed (an
    // essential package); empty when it may.
    QString NoUninstallReason;
    // Flatpak: the branch, the remote it came from, and the installation
    // ("user", or a system installation's id such as "default").
    QString Branch;
    QString Origin;
    QString Installation;
    // The display names of the other entries that go with this one when its
    // source removes it (the other applications of one package).
    QStringList Siblings;

    bool HasUninstallCommand() const { return !UninstallString.trimmed().isEmpty(); }
    int ChildCount() const { return int(m_children.size()); }
    TUninstItem *Child(int Index) const;
    void AddChild(std::unique_ptr<TUninstItem> Child);

    // Runs the uninstall command on a worker and returns at once; the
    // manager's OnUninstCompleted follows on the main thread when the
    // uninstaller and every process it started have ended.
    void StartUninstall();
    // Deletes the entry's key with its subkeys, then rescans the manager:
    // this entry is gone afterwards, whatever the result. Where its source
    // removes it on a worker (a Wine prefix's key), this returns at once and
    // the manager's OnEntryRemoved follows on the main thread.
    void RemoveFromList();

private:
    std::vector<std::unique_ptr<TUninstItem>> m_children;
};

// The software registered for uninstallation, read from the uninstall keys
// of HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER; updates hang below their
// programs. Main thread only, apart from the uninstall workers it starts.
class TUninstManager
{
public:
    using TCompletedEvent = std::function<void(TUninstManager *Sender, const QString &ItemName)>;

    // The two roots read, in order.
    static const QStringList &UninstallRoots();

    TUninstManager();
    ~TUninstManager();
    TUninstManager(const TUninstManager &) = delete;
    TUninstManager &operator=(const TUninstManager &) = delete;

    // Clears the lists and reads them again: scan, file updates, sort.
    void Rescan();
    // The sources a rescan reads, in order (the registry and the user's Wine prefix unless set).
    void SetSources(std::vector<std::unique_ptr<installed::InstalledSource>> Sources);
    // Whether entries marked SystemComponent are listed too (from the next rescan).
    void SetShowSystemComponents(bool Show) { m_showSystemComponents = Show; }
    bool ShowSystemComponents() const { return m_showSystemComponents; }
    int Count() const { return int(m_programs.size()); }
    TUninstItem *Item(int Index) const;

    // Icons by index, shared by the small and large lists: index 0 is the
    // default program icon (no file); others are picture files named by
    // "DisplayIcon". An item's icon indices point into this list.
    const QStringList &IconFiles() const { return m_iconFiles; }
    int DefaultIconIndex() const { return 0; }
    // The index of a picture file in IconFiles(), added when new.
    int IconIndexFor(const QString &IconFile);

    TCompletedEvent OnUninstCompleted;
    // A dead entry's removal on a worker has ended; the handler rescans (the
    // manager does itself when none is set).
    std::function<void(TUninstManager *Sender)> OnEntryRemoved;
    // Declared for a modify run, which this program never starts.
    TCompletedEvent OnModifyCompleted;

    // The source that made an entry (none for an entry created for updates).
    installed::InstalledSource *SourceOf(const TUninstItem &Item) const;

    // For tests: how many uninstall workers are still running or waiting to report.
    int RunningUninstalls() const;

private:
    friend class TUninstItem;
    void Group();
    void Sort();
    void WorkerFinished(const QString &ItemName);
    void EntryRemoved();

    std::vector<std::unique_ptr<TUninstItem>> m_programs;
    std::vector<std::unique_ptr<TUninstItem>> m_updates; // own until filed under a parent
    QStringList m_iconFiles;
    std::vector<std::unique_ptr<installed::InstalledSource>> m_sources;
    bool m_showSystemComponents = false;
    // One job per uninstaller run; cancelled when the manager goes.
    platform::Worker m_workers;
};

namespace installed {
// The entries a list shows, in the manager's order: a top-level entry with an
// uninstall command (or without one and without updates) is one row unless
// TSAware; one without an uninstall command but with updates is replaced by
// its updates that are not TSAware.
std::vector<TUninstItem *> ListedEntries(const TUninstManager &Manager);
// One line per listed entry, tab-separated: name, version, publisher, source
// word, uninstall command (tabs and line breaks inside a field become blanks).
QStringList InstalledListing(const TUninstManager &Manager);

// "InstallDate" text to a day count since 1899-12-30; 0 when it is not a date
// written as yyyyMMdd.
double ParseInstallDate(const QString &Text);
} // namespace installed
