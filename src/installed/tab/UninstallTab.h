#pragma once

#include "installed/PackageRemoval.h"
#include "installed/Top3Requests.h"
#include "online/SoftwareTop3.h"
#include "online/WebAPIClient.h"
#include "platform/Worker.h"
#include "ui/OVTabPage.h"

#include <QIcon>
#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TBrimImage;
class TBrimImageButton;
class TBrimLVRichSelItem;
class TUninstItem;
class TUninstManager;

// What one recommendation panel shows; Valid until the next request empties it.
struct TTop3Item : TSoftwareItem
{
    bool Valid = false;
};

// The Uninstall tab sheet: the installed programs with search, details,
// uninstalling and removal of dead entries, and beside them the paid and
// free recommendations for the selected program.
class TOVUninstallTab : public QWidget, public IOVTabPage
{
    Q_OBJECT
public:
    // Does not own UninstMgr; takes over its OnUninstCompleted.
    explicit TOVUninstallTab(TUninstManager *UninstMgr, QWidget *parent = nullptr);
    ~TOVUninstallTab() override;

    // IOVTabPage
    QWidget *PageWidget() override { return this; }
    void FirstActivate() override;
    void ApplyTexts() override;

    // Hooks the main window fills.
    // Creates a download task exactly as the Tasks tab's AddDownloadTask does,
    // with the vendor's digest of the file (empty when the answer gave none).
    std::function<void(const QString &Title, const QString &Url, const QString &Sha256)> AddDownloadTask;
    // The web API client whose settings the recommendation calls use (not owned).
    TWebAPIClient *WebAPI = nullptr;
    // ShowMessageBox with the current language by default; tests replace it.
    std::function<int(QWidget *Owner, const QString &Text, const QString &Caption, unsigned Type)> MessageBox;
    // The running processes of an entry, by its key (installed::EntryKey): their
    // identifiers and names. The main window asks the Running tab; unset: none run.
    std::function<QList<QPair<quint32, QString>>(const QString &EntryKey)> RunningProgramsOf;
    // Ends those processes; true when all have ended.
    std::function<bool(const QList<quint32> &ProcessIDs)> EndPrograms;

    // Selects the listed entry with that key (the list is read again once when it
    // is not there); false when no listed entry has it.
    bool SelectEntryByKey(const QString &Key);

    // Operations of the tab, as the controls trigger them.
    void ListFill();
    void UpdateSelItemPanel();
    void UpdateDetails();
    // Shows a detail value elided to its label; the whole text stays for opening and tooltips.
    void ShowDetailValue(int Index, const QString &Text);
    QString DetailText(int Index) const;
    void ToggleDetails();
    void OpenLocation();
    void OpenLink();
    void CommandUninstall();
    void ColumnClick(int Column);
    void CommandSearch();
    void RefreshTop3();
    void Top3IconClick(bool Pay, int Index);
    void Top3ButtonClick(bool Pay, int Index);
    void Top3MoreClick(bool Pay);
    void Top3DisabledClick();

    // The entry of the selected row; null without one or on a filler row.
    TUninstItem *SelectedEntry() const;
    // Caption of an entry's row: its display name, or the text for a missing name.
    static QString DisplayText(const TUninstItem *Item);

    // Controls and state, for the window and for tests.
    QTreeWidget *lvUninst() const { return m_lvUninst; }
    QLabel *lblUninstStatus() const { return m_lblUninstStatus; }
    QLineEdit *edtUninstSearch() const { return m_edtUninstSearch; }
    TBrimImageButton *btnUninstSearch() const { return m_btnUninstSearch; }
    QWidget *pnlUninstSelItem() const { return m_pnlUninstSelItem; }
    QLabel *lblUninstSelItemTitle() const { return m_lblUninstSelItemTitle; }
    QLabel *lblUninstSelItemPublisher() const { return m_lblUninstSelItemPublisher; }
    TBrimImageButton *btnUninstSelItemUninstall() const { return m_btnUninstSelItemUninstall; }
    QWidget *pnlUninstDetails() const { return m_pnlUninstDetails; }
    QLabel *DetailValue(const char *Name) const; // "NameV", "PublisherV", ...
    QLabel *lblUninstShowDetails() const { return m_lblUninstShowDetails; }
    QLabel *lblUninstRefreshList() const { return m_lblUninstRefreshList; }
    // Lists the packages that are parts of the system too (the manager's system components).
    QCheckBox *chkUninstShowSystem() const { return m_chkUninstShowSystem; }
    QLabel *lblTop3PayWares() const { return m_lblTop3PayWares; }
    QLabel *lblTop3FreeWares() const { return m_lblTop3FreeWares; }
    QCheckBox *chkTop3Disabled() const { return m_chkTop3Disabled; }
    QLabel *Top3Panel(bool Pay, int Index) const;
    TBrimImageButton *Top3Button(bool Pay, int Index) const;
    const TTop3Item &Top3Slot(bool Pay, int Index) const;
    bool DetailsHidden() const { return m_detailsHidden; }
    bool SearchShowsPlaceholder() const { return m_searchSilver; }
    int NextSearchPosition() const { return m_nextSearch; }
    // Why the selected entry has no Uninstall button (a package the system needs); hidden otherwise.
    QLabel *lblUninstSelItemNote() const { return m_lblUninstSelItemNote; }
    // Works out and carries out package removals; tests point it at a scratch database.
    installed::TPackageRemover &PackageRemover() { return m_packageRemover; }
    // The question before a package's removal: the application, the other
    // applications of its package, and what else the package manager removes with it.
    static QString PackageRemovalQuestion(const QString &Name, const QString &Package,
                                          const QStringList &Siblings,
                                          const platform::PackageRemovalPlan &Plan);
    // The recommendation requests: started, awaited, cancelled, answered.
    const TTop3Requests &Top3Requests() const { return m_top3; }
    int Top3RequestsStarted() const { return m_top3.Started(); }
    bool Top3Pending() const { return m_top3.Pending(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct PanelControls;
    void BuildTop3();
    void ApplyLayout();
    void SelectionChanged();
    QIcon EntryIcon(int Index) const;
    QTreeWidgetItem *AddRow(TUninstItem *Item);
    void UpdateCount();
    void SetPlaceholder();
    void SearchTextChanged(const QString &Text);
    void Top3Arrived(bool Ok, const TSoftwareTop3 &Top3);
    void FillTop3Panel(bool Pay, int Index);
    void ClearTop3();
    void ClearDetails();
    int AskQuestion(const char *TextKey);
    void StartPackageRemoval(const TUninstItem &Entry);
    // What the removal needs once its plan is known; copies, since the entry may be gone by then.
    struct PackageRemovalRequest
    {
        QString Name, Version, Package, Key;
        QStringList Siblings;
    };
    void PackagePlanReady(const PackageRemovalRequest &Request, const platform::PackageRemovalPlan &Plan,
                          const platform::PackageRemovalResult &Result);
    void ShowRemovalFailure(const platform::PackageRemovalResult &Result,
                            const platform::PackageRemovalPlan &Plan);
    // The uninstall question: with the entry's running programs listed when there are any
    // (their identifiers go to Running); true when the user agrees.
    bool AskUninstall(const TUninstItem &Item, QList<quint32> *Running);
    // The running programs of an entry as the question lists them (empty when none run).
    QString RunningProgramsText(const QString &EntryKey, QList<quint32> *Running) const;
    // Ends the programs before an uninstall; false, after telling the user, when one would not end.
    bool EndRunningPrograms(const QList<quint32> &Running);

    TUninstManager *m_mgr;
    QTreeWidget *m_lvUninst = nullptr;
    TBrimLVRichSelItem *m_selItem = nullptr;
    QLabel *m_lblUninstStatus = nullptr;
    QLineEdit *m_edtUninstSearch = nullptr;
    TBrimImageButton *m_btnUninstSearch = nullptr;
    QWidget *m_pnlUninstSelItem = nullptr;
    TBrimImage *m_imgUninstSelItemIcon = nullptr;
    QLabel *m_lblUninstSelItemTitle = nullptr;
    QLabel *m_lblUninstSelItemPublisher = nullptr;
    TBrimImageButton *m_btnUninstSelItemUninstall = nullptr;
    QLabel *m_lblUninstSelItemNote = nullptr;
    QWidget *m_pnlUninstDetails = nullptr;
    TBrimImage *m_imgUninstDetailsIcon = nullptr;
    QList<QLabel *> m_detailCaptions;
    QList<QLabel *> m_detailValues;
    QLabel *m_lblUninstShowDetails = nullptr;
    QLabel *m_lblUninstRefreshList = nullptr;
    QLabel *m_lblUninstShowPatches = nullptr;
    QCheckBox *m_chkUninstShowSystem = nullptr;

    QLabel *m_lblTop3Title = nullptr;
    QLabel *m_lblTop3PayWares = nullptr;
    QLabel *m_lblTop3FreeWares = nullptr;
    QLabel *m_lblTop3PayWareMore = nullptr;
    QLabel *m_lblTop3FreeWareMore = nullptr;
    QLabel *m_lblTop3Submit = nullptr;
    QCheckBox *m_chkTop3Disabled = nullptr;
    std::array<std::unique_ptr<PanelControls>, 3> m_payPanels;
    std::array<std::unique_ptr<PanelControls>, 3> m_freePanels;
    std::array<TTop3Item, 3> m_paySlots;
    std::array<TTop3Item, 3> m_freeSlots;
    QString m_payMoreURL;
    QString m_freeMoreURL;
    int m_payShown = 0;
    int m_freeShown = 0;
    TTop3Requests m_top3;
    // The request workers, superseded ones included; cancelled when the tab goes.
    platform::Worker m_top3Workers;

    QList<QIcon> m_icons;
    bool m_detailsHidden = false;
    int m_sortColumn = 0;
    int m_columnTags[2] = {0, 0};
    int m_nextSearch = 0;
    bool m_searchSilver = true;
    bool m_searchClearing = false;
    bool m_firstShown = false;
    int m_count = 0;
    // Declared last: destroyed first, so that no answer of it reaches the tab's parts.
    installed::TPackageRemover m_packageRemover;
};
