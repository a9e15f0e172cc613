#pragma once

#include "ui/OVTabPage.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TBrimImageButton;
class TBrimLVRichSelItem;
class TFileProp;
class TProcessItem;
class TProcesses;
class TSystemStatus;
namespace procmon {
class OVProcDB;
}

// The installed application a process belongs to, as the Uninstall list names it.
struct TProcessApplication
{
    QString Key; // the Uninstall list's key of the entry; empty: none
    QString Name;
    QString Description;
};

// The Running tab: the processes with CPU share, memory, path and
// description, refreshed once a second while the tab is current, with the
// selected process's panel, the popup menu (terminate, terminate tree,
// priority, file location and properties, search online), the status line
// and the hide-system link. Rows keep process identifiers only; every
// command looks its process up again in the model.
class TOVRunningTab : public QWidget, public IOVTabPage
{
    Q_OBJECT
public:
    // Data kept on column 0 of every process row.
    enum RowRole {
        ProcessIdRole = Qt::UserRole, // quint32; the selection panel's placeholder rows carry its marker
        DescribedPathRole, // the path the description was made for
        ApplicationKeyRole, // the key of the application the process belongs to, once looked up
    };

    // The components belong to the main window; a null one is created and owned by the tab.
    explicit TOVRunningTab(TProcesses *RunningProcs = nullptr, TSystemStatus *SysStatus = nullptr,
                           TFileProp *FileProps = nullptr, QWidget *parent = nullptr);
    ~TOVRunningTab() override;

    // IOVTabPage
    QWidget *PageWidget() override { return this; }
    void FirstActivate() override;
    void Activate() override;
    void Deactivate() override;
    void ApplyTexts() override { MultiLangsLanguageChanged(); }

    // Message boxes; ShowMessageBox with the current language by default (tests answer here).
    std::function<int(QWidget *Owner, const QString &Text, const QString &Caption, unsigned Type)> MessageBox;
    // The knowledge base of the Simplified Chinese interface; the program's (procmon::ProcDB()) when null.
    procmon::OVProcDB *KnowledgeBase = nullptr;
    // The installed application of a process (the main window asks the installed
    // software's sources); asked once per process. Unset: no process has one.
    std::function<TProcessApplication(const TProcessItem &Item)> ApplicationOf;
    // "Show in the Uninstall list" chosen for a process of that application.
    std::function<void(const QString &ApplicationKey)> OnShowInUninstallList;

    // The application of a process: looked up on first use, then kept for the process's life.
    TProcessApplication ApplicationOfProcess(const TProcessItem *Item);
    // The processes of an application that run now (the list is brought up to date first).
    QList<quint32> ProcessesOfApplication(const QString &ApplicationKey);
    // Ends them (each asked first, then terminated after GraceMs); true when all have ended.
    bool EndProcesses(const QList<quint32> &ProcessIDs, int GraceMs = 3000);

    // Operations of the tab.
    void FullFill();
    void TimerRefresh();
    void UpdateSelItemPanel(bool FiguresOnly);
    void MultiLangsLanguageChanged();
    TProcessItem *SelectedProcess() const;
    QTreeWidgetItem *RowOf(quint32 ProcessID) const;
    // Rows that stand for processes (the selection panel's placeholders do not).
    int ProcessRowCount() const;
    bool HideSystem() const { return m_hideSystem; }
    int SortColumn() const { return m_sortColumn; }
    int ColumnTag(int Column) const { return m_columnTags.at(size_t(Column)); }

    // Handlers.
    void ColumnClick(int Column);
    void CommandTerminate();
    void CommandTerminateTree();
    void PriorityMenuOpened();
    void CommandSetPriority(int Tag);
    void CommandLocation();
    void CommandProperties();
    void CommandSearch();
    void CommandShowInUninstallList();
    void CopyPath();
    void CopyDescription();
    void ToggleHideSystem();

    // Controls, named as on the form.
    QLabel *lblRunningTitle = nullptr;
    QLabel *lblRunningSysStatus = nullptr;
    QLabel *lblRunningHideSystem = nullptr;
    QTreeWidget *lvRunning = nullptr;
    QWidget *pnlRunningSelItem = nullptr;
    QLabel *imgRunningSelItemIcon = nullptr;
    QLabel *lblRunningSelItemTitle = nullptr;
    QLabel *lblRunningSelItemCPU = nullptr;
    QLabel *lblRunningSelItemMemory = nullptr;
    QLabel *lblRunningSelItemPath = nullptr;
    QLabel *lblRunningSelItemDesc = nullptr;
    TBrimImageButton *btnRunningSelItemTerminate = nullptr;
    QMenu *pmRunning = nullptr;
    QAction *mniRunningTerminate = nullptr;
    QAction *mniRunningTerminateTree = nullptr;
    QMenu *mniRunningPriority = nullptr;
    std::array<QAction *, 6>
        mniRunningPriorityItems {}; // Realtime, High, AboveNormal, Normal, BelowNormal, Low
    QAction *mniRunningLocation = nullptr;
    QAction *mniRunningProperties = nullptr;
    QAction *mniRunningSearch = nullptr;
    QAction *mniRunningShowInUninstall = nullptr;
    QTimer *tmrRefreshRunning = nullptr;
    TBrimLVRichSelItem *SelItemPanel() const { return m_selPanel; }

    TProcesses *RunningProcs() const { return m_procs; }
    TSystemStatus *SysStatus() const { return m_sysStatus; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Row;
    void ProcessAdded(quint32 ProcessID);
    void ProcessReloaded(quint32 ProcessID);
    void ProcessRemoved(quint32 ProcessID);
    void AddRow(TProcessItem *Item);
    void SetRowIcon(QTreeWidgetItem *R, int Index);
    void SetRowFigures(Row *R, const TProcessItem *Item);
    void SetRowDetails(QTreeWidgetItem *R, TProcessItem *Item);
    void DescribeRow(QTreeWidgetItem *R, const TProcessItem *Item);
    QString Description(const TProcessItem *Item);
    QIcon SmallIcon(int Index);
    QIcon LargeIcon(int Index);
    void UpdateStatusLine();
    void UpdateHideSystemLink();
    void PlaceSelItemLabels();
    void ListSelectionChanged();
    void OpenPopupMenu();
    void TerminateSelected(bool Tree);
    int Ask(const QString &Text, const QString &CaptionKey, unsigned Type);
    void FocusList();

    TProcesses *m_procs;
    TSystemStatus *m_sysStatus;
    TFileProp *m_fileProps;
    std::unique_ptr<TProcesses> m_ownProcs;
    std::unique_ptr<TSystemStatus> m_ownSysStatus;
    std::unique_ptr<TFileProp> m_ownFileProps;
    TBrimLVRichSelItem *m_selPanel = nullptr;
    QHash<quint32, Row *> m_rows; // the process rows, by identifier
    struct KnownApplication
    {
        quint64 startTicks = 0; // tells the process from a later one with its number
        TProcessApplication application;
    };
    QHash<quint32, KnownApplication> m_applications; // by process identifier
    QHash<int, QIcon> m_smallIcons;
    QHash<int, QIcon> m_largeIcons;
    QActionGroup *m_priorityGroup = nullptr;
    bool m_shown = false;
    bool m_hideSystem = false;
    int m_sortColumn = 0;
    std::array<int, 5> m_columnTags {};
};
