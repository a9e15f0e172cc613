#pragma once

#include "ui/OVLangBridge.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QShortcut;
class QMenu;
class QTranslator;
class TBrimImageButton;
class TBrimNetConnCheck;
class TBrimSkinManager;
class TBrimTabControl;
class TBrimTabItem;
class TBrimTaskManager;
class TFormOVAbout;
class TFormOVHistory;
class TFormOVSettings;
class IOVTabPage;
class TOVHeaderBand;
class TOVLanguageBroadcastReceiver;
class TOVTaskItem;
class TOVTaskListKeeper;
class TOVTasksTab;
class TOVRunningTab;
class TOVTopXTab;
class TOVUninstallTab;
class TUninstManager;
class TWebAPIClient;
namespace installed {
class ApplicationIndex;
}

// The program's main window: a skinned 800 x 600 frame with the four tabs,
// the main menu, the status line, the upgrade banner and the Tasks shortcut.
// It owns every long-lived component. Construction registers the default
// texts and applies them once; FormCreate then brings the window to life.
class TFormOVMain : public QWidget
{
    Q_OBJECT
public:
    using TMessageBoxFunc = std::function<int(QWidget *Owner, const QString &Text, const QString &Caption,
                                              unsigned Type, quint16 LanguageId)>;
    using TProbeFunc = std::function<bool(const QString &Url, quint32 TimeoutMs)>;

    enum TabIndex { TabTopX = 0, TabRunning = 1, TabUninst = 2, TabTasks = 3 };

    explicit TFormOVMain(QWidget *parent = nullptr);
    ~TFormOVMain() override;

    // The start-up sequence; call once after construction (and after setting
    // the injectable functions below).
    void FormCreate();
    // Saves the task list and frees the components; the destructor runs it.
    void FormDestroy();
    // The task list is also saved when the process is asked to end (SIGTERM,
    // SIGHUP, SIGINT: saved, then the application quits) and when the desktop
    // session ends. For the program itself, not for tests.
    void KeepTaskListAtSessionEnd();

    // Message boxes of the window; ShowMessageBox by default.
    TMessageBoxFunc MessageBox;
    // The reachability probe handed to NetCheck; the checker's own by default.
    TProbeFunc Probe;
    // The controller of a tab's page; the window calls it as the tabs switch
    // and as the language changes, and owns it (a page it replaces is
    // deleted). The page's widget moves onto the tab sheet. Replacing a page
    // before FormCreate lets tests watch the calls.
    void SetTabPage(int Index, IOVTabPage *Page);
    IOVTabPage *TabPage(int Index) const;

    // Creates a task from the current settings, lists it and starts it.
    TOVTaskItem *AddDownloadTask(const QString &Title, const QString &Url, const QString &Sha256 = {});
    bool SelectTab(int Index);
    int CurrentTab() const;

    // Language broadcast as it arrives; true when it switched the language.
    bool WndProcLanguageBroadcast(quint32 Message, quint64 WParam, qint64 LParam);
    // The probe addresses start-up hands to NetCheck (ORVANE_PROBE_URLS replaces them).
    QStringList ProbeURLs() const;

    // Event handlers.
    void btnMainMenuClick();
    void mniMainSettingsClick();
    void mniMainHelpClick();
    void mniMainHomePageClick();
    void mniMainAboutClick();
    void mniMainHistoryClick();
    void mniMainLeftoversClick();
    void TabCtrlActivating(TBrimTabItem *Item);
    void TabCtrlActivated(TBrimTabItem *Item);
    void TabCtrlInactivating(TBrimTabItem *Item);
    void imgTabTasksClick();
    void imgADClick();
    void MultiLangsLanguageChanged();
    void NetCheckCheckOK();

    // Start-up state.
    quint16 LanguageId = 0;
    QString LanguageDir;
    QString LanguageFile;
    QString URL_HOME, URL_HELP, URL_TOPX, URL_WAPI;

    // Components.
    TBrimMultiLangs *MultiLangs() const { return m_multiLangs.get(); }
    TBrimSkinManager *SkinMgr = nullptr;
    TBrimTabControl *TabCtrl = nullptr;
    TBrimNetConnCheck *NetCheck() const { return m_netCheck.get(); }
    TBrimTaskManager *TaskMgr() const { return m_taskMgr.get(); }
    TWebAPIClient *WebAPI() const { return m_webAPI.get(); }
    TOVTasksTab *TasksTab = nullptr;
    TOVTopXTab *TopXTab = nullptr;
    TOVRunningTab *RunningTab = nullptr;
    TOVUninstallTab *UninstTab = nullptr;
    TUninstManager *UninstMgr() const { return m_uninstMgr.get(); }

    // Controls.
    TBrimImageButton *btnMainMenu = nullptr;
    TOVHeaderBand *Header = nullptr; // the tab buttons, the Tasks shortcut, the upgrade banner
    // The header's tab buttons, in tab order.
    TBrimImageButton *btnTabTopX = nullptr;
    TBrimImageButton *btnTabRunning = nullptr;
    TBrimImageButton *btnTabUninst = nullptr;
    TBrimImageButton *btnTabTasks = nullptr; // never visible; the shortcut stands for it
    QWidget *tsTopX = nullptr;
    QWidget *tsRunning = nullptr;
    QWidget *tsUninst = nullptr;
    QWidget *tsTasks = nullptr;
    QLabel *lblStatusVersion = nullptr;
    QLabel *lblStatusInfo = nullptr;
    QMenu *pmMain = nullptr;
    QAction *mniMainSettings = nullptr;
    QAction *mniMainHelp = nullptr;
    QAction *mniMainHomePage = nullptr;
    QAction *mniMainAbout = nullptr;
    QAction *mniMainHistory = nullptr;
    QAction *mniMainLeftovers = nullptr;
    QAction *actHelp = nullptr;

    // The open dialogs (null while none is shown).
    TFormOVSettings *FormSettings() const;
    TFormOVAbout *FormAbout() const;
    TFormOVHistory *FormHistory() const;

    // The controls Tab visits, in order: the tab buttons, the Tasks shortcut
    // and the upgrade banner, the current page's controls, then the main menu
    // and the caption buttons. Only those that can take the focus now.
    QList<QWidget *> FocusOrder() const;
    // The next (or previous) tab, wrapping round; the keyboard's tab switch.
    void SelectNextTab(bool Forward);

protected:
    bool focusNextPrevChild(bool next) override;

private:
    void buildControls();
    // The tab sheets and their pages, in tab order.
    void buildTabs();
    void SetupSkin();
    void SetupTabs();
    void CreateWebAPIClient();
    void LoadTasks();
    void StartReachabilityCheck();
    void ListenForLanguageBroadcast();
    void ShowCentred();
    void LoadLanguageSelection();
    void AskUpgrade();
    int showBox(const QString &textKey, const QString &captionKey, unsigned type, quint16 languageId);
    void setTabsFont(const char *key, TBrimImageButton *button);
    void layoutStatusLine();
    void applyToolkitLanguage();
    // Gives the focus to the first control of a tab's page.
    void focusPage(int Index, Qt::FocusReason Reason);
    // Ties the Running tab's processes to the Uninstall tab's entries, both ways.
    void wireProcessApplications();
    installed::ApplicationIndex &applicationIndex();

    ovlang::Owner m_multiLangs;
    std::unique_ptr<TBrimNetConnCheck> m_netCheck;
    std::unique_ptr<TBrimTaskManager> m_taskMgr;
    std::unique_ptr<TUninstManager> m_uninstMgr;
    // The applications processes belong to, from a scan of their own: the Uninstall
    // tab's entries live only until that tab reads its list again.
    std::unique_ptr<TUninstManager> m_appsMgr;
    std::unique_ptr<installed::ApplicationIndex> m_appIndex;
    qint64 m_appIndexBuiltMs = 0;
    std::unique_ptr<TWebAPIClient> m_webAPI;
    TOVTaskListKeeper *m_taskListKeeper = nullptr;
    TOVLanguageBroadcastReceiver *m_broadcast = nullptr;
    QTranslator *m_toolkitTexts = nullptr;
    QString m_toolkitLocale;
    QPointer<TFormOVSettings> m_formSettings;
    QPointer<TFormOVAbout> m_formAbout;
    QPointer<TFormOVHistory> m_formHistory;
    std::array<QWidget *, 4> m_sheets {};
    std::array<IOVTabPage *, 4> m_pages {};
    std::array<bool, 4> m_pageActivated {};
    bool m_focusIntoPage = false;
    bool m_focusShownInPage = false;
    bool m_created = false;
    bool m_destroyed = false;
};
