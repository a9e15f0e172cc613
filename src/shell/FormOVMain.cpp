#include "shell/FormOVMain.h"

#include "core/AppFiles.h"
#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/MessageBoxTypes.h"
#include "core/OVCommandLine.h"
#include "core/OVFuncs.h"
#include "core/OVJournal.h"
#include "core/OVSettings.h"
#include "core/OVStartup.h"
#include "installed/ApplicationIndex.h"
#include "installed/LeftoverScan.h"
#include "installed/PackageRemoval.h"
#include "installed/UninstManager.h"
#include "installed/tab/FormOVLeftovers.h"
#include "installed/tab/UninstallTab.h"
#include "online/BrimNetConnCheck.h"
#include "online/WebAPIClient.h"
#include "platform/LanguageBroadcast.h"
#include "procmon/Processes.h"
#include "procmon/tab/RunningTab.h"
#include "shell/FormOVAbout.h"
#include "shell/FormOVHistory.h"
#include "shell/FormOVSettings.h"
#include "shell/OVHeaderBand.h"
#include "shell/TopXTab.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/OVTaskItem.h"
#include "tasks/OVTaskList.h"
#include "tasks/tab/TasksTab.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimImagePanel.h"
#include "ui/BrimSkin.h"
#include "ui/BrimSkinManager.h"
#include "ui/BrimTabControl.h"
#include "ui/OVTabPage.h"
#include "ui/OVWindowLook.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QFontInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kHeaderTop = 30; // below the skin's title bar
constexpr int kHeaderHeight = 84;
constexpr int kStatusHeight = 26;

// Probe addresses besides the vendor's own site: an operating system's and a
// search engine's home pages.
const char *const kProbeHosts[] = {"http://www.debian.org", "http://www.bing.com"};

QString vendorProbe(const QString &homeUrl)
{
    const QUrl url(homeUrl);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    QString probe = QStringLiteral("http://") + url.host();
    if (url.port() > 0)
        probe += QLatin1Char(':') + QString::number(url.port());
    return probe;
}

} // namespace

TFormOVMain::TFormOVMain(QWidget *parent)
    : QWidget(parent)
    , m_netCheck(std::make_unique<TBrimNetConnCheck>())
    , m_taskMgr(std::make_unique<TBrimTaskManager>())
    , m_uninstMgr(std::make_unique<TUninstManager>())
    , m_appsMgr(std::make_unique<TUninstManager>())
{
    setObjectName(QStringLiteral("FormOVMain"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Installed software of every source, named in the window's language.
    // The tab's list and the processes' applications come from the same files, read once.
    const auto packages = installed::MakeDefaultPackageReader();
    m_uninstMgr->SetSources(installed::MakeDefaultSources([this] { return LanguageId; }, packages));
    m_appsMgr->SetSources(installed::MakeDefaultSources([this] { return LanguageId; }, packages));
    buildControls();
    // The language component: defaults registered, then applied once.
    m_multiLangs = ovlang::Create();
    // A package's language files stay as shipped; Config.ini keeps the choice.
    m_multiLangs->SetRecordsChoiceInFiles(appfiles::CurrentLayout() == appfiles::Layout::Portable);
    // Published at once: the tab sheets read their texts from the published
    // component while the defaults are applied.
    SetOVMultiLangs(m_multiLangs.get());
    ovlang::SetupEvents(m_multiLangs.get(), [this](TBrimMultiLangs *) { MultiLangsLanguageChanged(); });
}

TFormOVMain::~TFormOVMain()
{
    FormDestroy();
}

void TFormOVMain::buildControls()
{
    setFixedSize(kWidth, kHeight);
    ovlook::SetBody(this);
    setFont(ovlook::UiFont(12));

    SkinMgr = new TBrimSkinManager(this);
    SkinMgr->setObjectName(QStringLiteral("SkinMgr"));
    SkinMgr->SetStyle(fsFixed);
    SkinMgr->Bounds().MinWidth = kWidth;
    SkinMgr->Bounds().MinHeight = kHeight;
    brim::applyWindowSkin(SkinMgr);
    SkinMgr->CmdButtons().BtnMax().SetVisible(false);
    SkinMgr->Title().SetFont({ovlook::UiFont(16, true), Qt::white});

    btnMainMenu = new TBrimImageButton(this);
    btnMainMenu->setObjectName(QStringLiteral("btnMainMenu"));
    btnMainMenu->SetTransparent(true);
    brim::setButtonPictures(btnMainMenu, QStringLiteral("btn_menu"));
    btnMainMenu->SetFont({btnMainMenu->Font().Font, Qt::white}); // its focus mark on the title bar
    btnMainMenu->OnClick = [this](QObject *) { btnMainMenuClick(); };

    // The header band: tab buttons, the Tasks shortcut and the upgrade banner.
    Header = new TOVHeaderBand(QRect(3, kHeaderTop, kWidth - 6, kHeaderHeight), this);
    Header->OnTabClick = [this](TOVHeaderBand *, int index) {
        if (CurrentTab() != index)
            SelectTab(index);
    };
    Header->OnTasksClick = [this](TOVHeaderBand *) { imgTabTasksClick(); };
    Header->OnUpgradeClick = [this](TOVHeaderBand *) { imgADClick(); };
    btnTabTopX = Header->btnTabTopX;
    btnTabRunning = Header->btnTabRunning;
    btnTabUninst = Header->btnTabUninst;
    btnTabTasks = Header->btnTabTasks;

    buildTabs();

    // The status line.
    auto *status = new QWidget(this);
    status->setObjectName(QStringLiteral("pnlStatus"));
    status->setAttribute(Qt::WA_StyledBackground);
    status->setStyleSheet(
        QStringLiteral("#pnlStatus { background: #e9edf2; border-top: 1px solid #dbe2ea; }"));
    status->setGeometry(3, kHeight - 3 - kStatusHeight, kWidth - 6, kStatusHeight);
    lblStatusVersion = new QLabel(status);
    lblStatusVersion->setObjectName(QStringLiteral("lblStatusVersion"));
    lblStatusInfo = new QLabel(status);
    lblStatusInfo->setObjectName(QStringLiteral("lblStatusInfo"));
    for (QLabel *l : {lblStatusVersion, lblStatusInfo}) {
        l->setFont(ovlook::UiFont(11));
        ovlook::SetTextColor(l, ovlook::Muted);
    }
    lblStatusVersion->move(12, 5);

    // Components without a place on the window.
    TabCtrl = new TBrimTabControl(this);
    TabCtrl->setObjectName(QStringLiteral("TabCtrl"));
    TabCtrl->OnActivateing = [this](QObject *, TBrimTabItem *item) { TabCtrlActivating(item); };
    TabCtrl->OnInactivating = [this](QObject *, TBrimTabItem *item) { TabCtrlInactivating(item); };
    TabCtrl->OnActivated = [this](QObject *, TBrimTabItem *item) { TabCtrlActivated(item); };

    pmMain = new QMenu(this);
    pmMain->setObjectName(QStringLiteral("pmMain"));
    mniMainSettings = pmMain->addAction(QString(), this, &TFormOVMain::mniMainSettingsClick);
    mniMainHelp = pmMain->addAction(QString(), this, &TFormOVMain::mniMainHelpClick);
    // Shown in the menu; the window-wide F1 is actHelp's.
    mniMainHelp->setShortcut(QKeySequence(Qt::Key_F1));
    mniMainHelp->setShortcutContext(Qt::WidgetShortcut);
    mniMainHomePage = pmMain->addAction(QString(), this, &TFormOVMain::mniMainHomePageClick);
    mniMainAbout = pmMain->addAction(QString(), this, &TFormOVMain::mniMainAboutClick);
    // What the program did, apart from the program's own entries above.
    pmMain->insertSeparator(mniMainAbout);
    mniMainHistory = new QAction(this);
    connect(mniMainHistory, &QAction::triggered, this, &TFormOVMain::mniMainHistoryClick);
    pmMain->insertAction(mniMainAbout, mniMainHistory);
    mniMainLeftovers = new QAction(this);
    connect(mniMainLeftovers, &QAction::triggered, this, &TFormOVMain::mniMainLeftoversClick);
    pmMain->insertAction(mniMainAbout, mniMainLeftovers);
    actHelp = new QAction(this);
    actHelp->setObjectName(QStringLiteral("actHelp"));
    actHelp->setShortcut(QKeySequence(Qt::Key_F1));
    actHelp->setShortcutContext(Qt::WindowShortcut);
    connect(actHelp, &QAction::triggered, this, &TFormOVMain::mniMainHelpClick);
    addAction(actHelp);

    // Switching tabs from the keyboard, from anywhere in the window (the web
    // page included), the way tabbed windows do it.
    const auto tabKeys = [this](std::initializer_list<QKeySequence> keys, bool forward) {
        for (const QKeySequence &key : keys) {
            auto *shortcut = new QShortcut(key, this);
            shortcut->setContext(Qt::WindowShortcut);
            connect(shortcut, &QShortcut::activated, this, [this, forward] { SelectNextTab(forward); });
        }
    };
    tabKeys({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, true);
    tabKeys({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
            false);
}

void TFormOVMain::buildTabs()
{
    auto *content = new QWidget(this);
    content->setObjectName(QStringLiteral("pnlContent"));
    content->setGeometry(3, kHeaderTop + kHeaderHeight, kWidth - 6,
                         kHeight - kHeaderTop - kHeaderHeight - kStatusHeight - 3);
    const char *const names[] = {"tsTopX", "tsRunning", "tsUninst", "tsTasks"};
    for (int i = 0; i < int(m_sheets.size()); ++i) {
        auto *sheet = new QWidget(content);
        sheet->setObjectName(QLatin1String(names[i]));
        sheet->setGeometry(content->rect());
        sheet->hide();
        m_sheets[i] = sheet;
    }
    tsTopX = m_sheets[TabTopX];
    tsRunning = m_sheets[TabRunning];
    tsUninst = m_sheets[TabUninst];
    tsTasks = m_sheets[TabTasks];

    const auto box = [this](QWidget *owner, const QString &text, const QString &caption, unsigned type) {
        if (MessageBox)
            return MessageBox(owner, text, caption, type, LanguageId);
        return ShowMessageBox(owner, text, caption, type, LanguageId);
    };

    TopXTab = new TOVTopXTab(
        appfiles::TopXArchiveFile(), [this] { return URL_TOPX; },
        [this](const QString &title, const QString &url, const QString &sha256) {
            return AddDownloadTask(title, url, sha256)
                ? QString()
                : QStringLiteral("The download task could not be added.");
        },
        tsTopX);
    SetTabPage(TabTopX, TopXTab);

    TasksTab = new TOVTasksTab(m_taskMgr.get(), tsTasks);
    TasksTab->setGeometry(tsTasks->rect());
    TasksTab->MessageBox = box;
    TasksTab->OnNewTask = [this](TOVTasksTab *) { Header->StartTasksAnimation(); };
    TasksTab->OnCountersChanged = [this](TOVTasksTab *, const QString &text) { Header->SetTasksText(text); };
    TasksTab->OnSetDownloadDir = [this](TOVTasksTab *) { mniMainSettingsClick(); };
    m_pages[TabTasks] = TasksTab;

    RunningTab = new TOVRunningTab(nullptr, nullptr, nullptr, tsRunning);
    RunningTab->MessageBox = box;
    SetTabPage(TabRunning, RunningTab);

    UninstTab = new TOVUninstallTab(m_uninstMgr.get(), tsUninst);
    UninstTab->MessageBox = box;
    UninstTab->AddDownloadTask = [this](const QString &title, const QString &url, const QString &sha256) {
        AddDownloadTask(title, url, sha256);
    };
    SetTabPage(TabUninst, UninstTab);
    wireProcessApplications();
}

installed::ApplicationIndex &TFormOVMain::applicationIndex()
{
    if (!m_appIndex)
        m_appIndex = std::make_unique<installed::ApplicationIndex>();
    // Read again now and then: a program installed meanwhile is found for its new processes.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!m_appIndex->IsBuilt() || now - m_appIndexBuiltMs > 60000) {
        m_appsMgr->Rescan();
        m_appIndex->Build(*m_appsMgr);
        m_appIndexBuiltMs = now;
    }
    return *m_appIndex;
}

void TFormOVMain::wireProcessApplications()
{
    RunningTab->ApplicationOf = [this](const TProcessItem &item) {
        const auto app = applicationIndex().Find(item.ImagePath, item.FlatpakId);
        return app ? TProcessApplication {app->Key, app->Name, app->Description} : TProcessApplication {};
    };
    RunningTab->OnShowInUninstallList = [this](const QString &key) {
        if (!UninstTab)
            return;
        SelectTab(TabUninst);
        UninstTab->SelectEntryByKey(key);
    };
    UninstTab->RunningProgramsOf = [this](const QString &key) {
        QList<QPair<quint32, QString>> programs;
        if (!RunningTab)
            return programs;
        for (quint32 pid : RunningTab->ProcessesOfApplication(key))
            if (const TProcessItem *item = RunningTab->RunningProcs()->ItemByID(pid))
                programs.append({pid, item->Name});
        return programs;
    };
    UninstTab->EndPrograms
        = [this](const QList<quint32> &pids) { return RunningTab && RunningTab->EndProcesses(pids); };
}

void TFormOVMain::SetupSkin()
{
    SkinMgr->Icon().SetAutoPosition(false);
    SkinMgr->Icon().SetPosX(8);
    SkinMgr->Icon().SetPosY(5);
    SkinMgr->Title().SetAutoPosition(false);
    SkinMgr->Title().SetPosX(35);
    SkinMgr->Title().SetPosY(5);
    SkinMgr->CmdButtons().SetAutoPosition(false);
    SkinMgr->CmdButtons().BtnClose().SetPosX(width() - 30);
    SkinMgr->CmdButtons().BtnClose().SetPosY(5);
    SkinMgr->CmdButtons().BtnMin().SetPosX(width() - 55);
    SkinMgr->CmdButtons().BtnMin().SetPosY(5);
    SkinMgr->ApplySkin();
    // The caption buttons are reached with Tab too; their focus mark is light
    // on the dark title bar.
    for (TSMButtonKind kind : {TSMButtonKind::Min, TSMButtonKind::Max, TSMButtonKind::Close}) {
        if (TBrimImageButton *b = SkinMgr->CommandButton(kind)) {
            b->SetTabStop(true);
            b->SetDrawFocused(true);
            b->SetFont({b->Font().Font, Qt::white});
        }
    }
    ovlook::MakeLabelsTransparent(this);
    btnMainMenu->move(width() - 80, 5);
    btnMainMenu->raise();
    QCoreApplication::processEvents();
}

void TFormOVMain::LoadLanguageSelection()
{
    const ::LanguageSelection selection = ::LoadLanguageSelection(ConfigFileName());
    LanguageId = selection.LanguageId;
    LanguageDir = selection.LanguageDir;
    LanguageFile = selection.LanguageFile;
    ovlang::LoadLanguageFile(m_multiLangs.get(), LanguageFile);
}

void TFormOVMain::SetupTabs()
{
    for (int i = 0; i < int(m_sheets.size()); ++i)
        TabCtrl->AddTab(Header->TabButton(i), m_sheets[i]);
}

void TFormOVMain::FormCreate()
{
    if (m_created)
        return;
    m_created = true;
    SetOVMultiLangs(m_multiLangs.get());
    SetPopupTabSelector([this](int tab) { SelectTab(tab); });
    SetupSkin();
    OVSettings::LoadSettings(ConfigFileName());
    LoadLanguageSelection();
    ForceAppDirs();
    // From here on every operation is written down before it acts.
    journal::SetFile(appfiles::JournalFile());
    // Packages' left-over configuration is purged through the checked package removal.
    installed::SetPackagePurger(installed::MakePackagePurger());
    journal::Trim();
    SetupTabs(); // the first tab becomes current here
    CreateWebAPIClient();
    LoadTasks();
    ApplyPopupCode(GetPopupCode());
    StartReachabilityCheck();
    Header->imgAD->show();
    ListenForLanguageBroadcast();
    ShowCentred();
    // Asked once the window is on screen and the loop runs.
    QTimer::singleShot(0, this, &TFormOVMain::AskUpgrade);
}

void TFormOVMain::CreateWebAPIClient()
{
    m_webAPI = std::make_unique<TWebAPIClient>();
    m_webAPI->APIUrl = URL_WAPI;
    m_webAPI->LanguageID = LanguageId;
    m_webAPI->Encrypt = true;
    if (UninstTab)
        UninstTab->WebAPI = m_webAPI.get();
}

void TFormOVMain::LoadTasks()
{
    // The list is kept on disk from here on (every change, and on SIGTERM
    // once the program asks for it).
    LoadTaskList(*m_taskMgr);
    TasksTab->FillFromTaskList();
    m_taskListKeeper = new TOVTaskListKeeper(*m_taskMgr, TaskListFileName(), this);
}

void TFormOVMain::StartReachabilityCheck()
{
    m_netCheck->CheckURLs = ProbeURLs();
    m_netCheck->AsynMode = true;
    m_netCheck->Timeout = 10000;
    if (Probe)
        m_netCheck->Probe = Probe;
    m_netCheck->OnCheckOK = [this](TBrimNetConnCheck *) { NetCheckCheckOK(); };
    m_netCheck->Check();
}

void TFormOVMain::ListenForLanguageBroadcast()
{
    m_broadcast = new TOVLanguageBroadcastReceiver(
        [this](quint32 message, quint64 wParam, qint64 lParam) {
            WndProcLanguageBroadcast(message, wParam, lParam);
        },
        this);
}

void TFormOVMain::ShowCentred()
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void TFormOVMain::AskUpgrade()
{
    if (m_destroyed)
        return;
    if (showBox(QStringLiteral("String.MsgText.Upgrade"), QStringLiteral("String.Upgrade"),
                MB_YESNO | MB_ICONINFORMATION, 0)
        == IDYES)
        RunCommandLine(QStringList {appfiles::SiblingProgram(QStringLiteral("Upwell"))}, SW_SHOWNORMAL);
}

void TFormOVMain::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    SetPopupTabSelector({});
    if (m_created)
        SaveTaskList(*m_taskMgr);
    delete m_broadcast;
    m_broadcast = nullptr;
    delete m_taskListKeeper;
    m_taskListKeeper = nullptr;
    // The tabs refer to the tasks, the uninstall entries and the web API
    // client; they go before them.
    for (IOVTabPage *&page : m_pages) {
        delete page;
        page = nullptr;
    }
    TasksTab = nullptr;
    TopXTab = nullptr;
    RunningTab = nullptr;
    UninstTab = nullptr;
    m_taskMgr->OnItemStateChange = nullptr;
    m_webAPI.reset();
    m_taskMgr.reset(); // running downloads stop with their tasks
    m_uninstMgr.reset(); // an uninstall still waited for is dropped
    m_netCheck.reset(); // waits for a probe still running
    if (OVMultiLangs() == m_multiLangs.get())
        SetOVMultiLangs(nullptr);
}

void TFormOVMain::KeepTaskListAtSessionEnd()
{
    if (!m_taskListKeeper)
        return;
    m_taskListKeeper->HandleTerminationSignals();
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) {
            if (m_taskListKeeper)
                m_taskListKeeper->Save();
        });
}

QStringList TFormOVMain::ProbeURLs() const
{
    const QString env = qEnvironmentVariable("ORVANE_PROBE_URLS");
    if (!env.trimmed().isEmpty()) {
        QStringList urls;
        for (const QString &part : env.split(QLatin1Char(',')))
            if (!part.trimmed().isEmpty())
                urls << part.trimmed();
        return urls;
    }
    QStringList three;
    for (const char *host : kProbeHosts)
        three << QLatin1String(host);
    const QString vendor = vendorProbe(URL_HOME);
    if (!vendor.isEmpty())
        three << vendor;
    // The stored list and the start-up step each name the same addresses.
    return three + three;
}

void TFormOVMain::NetCheckCheckOK()
{
    if (m_destroyed || !m_netCheck || m_netCheck->Status() == TBrimNetConnCheck::StatusReachable)
        return;
    if (showBox(QStringLiteral("String.MsgText.NetConnDiagQuery"), QStringLiteral("String.MsgTitle.Question"),
                MB_YESNO | MB_ICONQUESTION, LanguageId)
        == IDYES)
        LaunchTessalyPopup(kTessalyNetworkDiagnosis);
}

int TFormOVMain::showBox(const QString &textKey, const QString &captionKey, unsigned type, quint16 languageId)
{
    const QString text = m_multiLangs->GetText(textKey);
    const QString caption = m_multiLangs->GetText(captionKey);
    if (MessageBox)
        return MessageBox(this, text, caption, type, languageId);
    return ShowMessageBox(this, text, caption, type, languageId);
}

TOVTaskItem *TFormOVMain::AddDownloadTask(const QString &Title, const QString &Url, const QString &Sha256)
{
    return TasksTab ? TasksTab->AddDownloadTask(Title, Url, Sha256) : nullptr;
}

bool TFormOVMain::SelectTab(int Index)
{
    return TabCtrl->SelectTab(Index);
}

void TFormOVMain::SelectNextTab(bool Forward)
{
    const int count = TabCtrl->Count();
    if (count == 0)
        return;
    QWidget *focus = QApplication::focusWidget();
    const int current = CurrentTab();
    const bool focusInPage = current >= 0 && focus && m_sheets[size_t(current)]->isAncestorOf(focus);
    SelectTab(((current < 0 ? 0 : current) + (Forward ? 1 : count - 1)) % count);
    // Where the focus was in the page left behind, it goes into the new one,
    // so the keys go on working there.
    if (focusInPage || !focus || !focus->isVisible())
        focusPage(CurrentTab(), Qt::TabFocusReason);
}

void TFormOVMain::focusPage(int Index, Qt::FocusReason Reason)
{
    if (Index < 0 || Index >= int(m_sheets.size()))
        return;
    for (QWidget *w : FocusOrder()) {
        if (m_sheets[size_t(Index)]->isAncestorOf(w)) {
            w->setFocus(Reason);
            return;
        }
    }
}

QList<QWidget *> TFormOVMain::FocusOrder() const
{
    QList<QWidget *> order;
    const auto add = [&order](QWidget *w) {
        if (!w)
            return;
        // A compound control is entered through its focus proxy.
        while (w->focusProxy())
            w = w->focusProxy();
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() && !order.contains(w))
            order << w;
    };
    for (QWidget *w : {static_cast<QWidget *>(btnTabTopX), static_cast<QWidget *>(btnTabRunning),
                       static_cast<QWidget *>(btnTabUninst), static_cast<QWidget *>(Header->lblTabTasks),
                       static_cast<QWidget *>(Header->imgAD)})
        add(w);
    // The page shown (also while the tab control is still switching); its
    // own order is the one its controller gave the window's chain.
    for (QWidget *sheet : m_sheets) {
        if (!sheet->isVisible())
            continue;
        for (QWidget *w = sheet->nextInFocusChain(); w && w != sheet; w = w->nextInFocusChain()) {
            if (w != this && sheet->isAncestorOf(w))
                add(w);
        }
    }
    add(btnMainMenu);
    add(SkinMgr->CommandButton(TSMButtonKind::Min));
    add(SkinMgr->CommandButton(TSMButtonKind::Max));
    add(SkinMgr->CommandButton(TSMButtonKind::Close));
    return order;
}

bool TFormOVMain::focusNextPrevChild(bool next)
{
    // Every Tab of the window ends here, also the one the web page hands back
    // when its own last (or first) element is left.
    const QList<QWidget *> order = FocusOrder();
    if (order.isEmpty())
        return QWidget::focusNextPrevChild(next);
    QWidget *focus = QApplication::focusWidget();
    qsizetype at = -1;
    for (qsizetype i = 0; focus && i < order.size(); ++i) {
        if (order[i] == focus || order[i]->isAncestorOf(focus)) {
            at = i;
            break;
        }
    }
    qsizetype to;
    if (at < 0)
        to = next ? 0 : order.size() - 1;
    else
        to = (at + (next ? 1 : order.size() - 1)) % order.size();
    order[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

int TFormOVMain::CurrentTab() const
{
    return TabCtrl->ActiveItem() ? TabCtrl->IndexOf(TabCtrl->ActiveItem()) : -1;
}

void TFormOVMain::SetTabPage(int Index, IOVTabPage *Page)
{
    if (Index < 0 || Index >= int(m_pages.size()))
        return;
    // The window owns its pages: one that is replaced goes.
    if (IOVTabPage *old = m_pages[Index]; old && old != Page) {
        if (old == UninstTab)
            UninstTab = nullptr;
        if (old == RunningTab)
            RunningTab = nullptr;
        if (old == TopXTab)
            TopXTab = nullptr;
        if (old == TasksTab)
            TasksTab = nullptr;
        delete old;
    }
    m_pages[Index] = Page;
    m_pageActivated[Index] = false;
    QWidget *sheet = m_sheets[Index];
    if (Page && sheet && Page->PageWidget()) {
        Page->PageWidget()->setParent(sheet);
        Page->PageWidget()->setGeometry(sheet->rect());
        Page->PageWidget()->show();
    }
}

IOVTabPage *TFormOVMain::TabPage(int Index) const
{
    return Index >= 0 && Index < int(m_pages.size()) ? m_pages[Index] : nullptr;
}

void TFormOVMain::TabCtrlActivating(TBrimTabItem *Item)
{
    TBrimImageButton *button = Item->Button();
    // A tab button that had the focus hands it to its page once that shows,
    // rather than to whatever control follows the disabled button.
    m_focusIntoPage = button && button->hasFocus();
    m_focusShownInPage = m_focusIntoPage && button->FocusShown();
    if (m_focusIntoPage)
        setFocus(Qt::OtherFocusReason);
    if (button)
        button->setEnabled(false);
    const int index = TabCtrl->IndexOf(Item);
    if (IOVTabPage *page = TabPage(index)) {
        if (!m_pageActivated[index]) {
            m_pageActivated[index] = true;
            page->FirstActivate();
        }
        page->Activate();
    }
    Header->SetTasksCurrent(button == btnTabTasks);
}

void TFormOVMain::TabCtrlActivated(TBrimTabItem *Item)
{
    if (!m_focusIntoPage)
        return;
    m_focusIntoPage = false;
    focusPage(TabCtrl->IndexOf(Item), m_focusShownInPage ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

void TFormOVMain::TabCtrlInactivating(TBrimTabItem *Item)
{
    TBrimImageButton *button = Item->Button();
    if (button)
        button->setEnabled(true);
    const int index = TabCtrl->IndexOf(Item);
    // Tabs registered after the first are deactivated once without ever
    // having been shown; they have nothing to stop then.
    if (IOVTabPage *page = TabPage(index); page && m_pageActivated[index])
        page->Deactivate();
}

TFormOVSettings *TFormOVMain::FormSettings() const
{
    return m_formSettings;
}

TFormOVAbout *TFormOVMain::FormAbout() const
{
    return m_formAbout;
}

TFormOVHistory *TFormOVMain::FormHistory() const
{
    return m_formHistory;
}

void TFormOVMain::btnMainMenuClick()
{
    pmMain->popup(btnMainMenu->mapToGlobal(QPoint(0, btnMainMenu->height())));
}

void TFormOVMain::mniMainSettingsClick()
{
    if (m_formSettings || m_formAbout)
        return;
    std::unique_ptr<TFormOVSettings> dialog(new TFormOVSettings(this));
    m_formSettings = dialog.get();
    try {
        dialog->exec();
    } catch (...) { }
    dialog.reset();
    m_formSettings = nullptr;
}

void TFormOVMain::mniMainHelpClick()
{
    const QString path = appfiles::HelpFile(LanguageId);
    if (!FindFileEx(path)) {
        showBox(QStringLiteral("String.MsgText.HelpFailed"), QStringLiteral("String.MsgTitle.Warning"),
                MB_OK | MB_ICONWARNING, LanguageId);
        return;
    }
    // Rather than nothing happening when no program can show the file, the
    // user learns which package brings one.
    if (!HelpViewerInstalled() || !OpenHelpFile(path))
        showBox(QStringLiteral("String.MsgText.HelpViewerMissing"), QStringLiteral("String.MsgTitle.Warning"),
                MB_OK | MB_ICONWARNING, LanguageId);
}

void TFormOVMain::mniMainHistoryClick()
{
    if (m_formSettings || m_formAbout || m_formHistory)
        return;
    std::unique_ptr<TFormOVHistory> dialog(new TFormOVHistory(this));
    m_formHistory = dialog.get();
    dialog->exec();
    dialog.reset();
    m_formHistory = nullptr;
}

void TFormOVMain::mniMainLeftoversClick()
{
    if (m_formSettings || m_formAbout || m_formHistory || !m_uninstMgr)
        return;
    // What is installed decides which folders are still claimed. A list the
    // Uninstall tab shows is current; rescanning it would pull its entries
    // from under the tab's rows.
    if (m_uninstMgr->Count() == 0)
        m_uninstMgr->Rescan();
    installed::ShowLeftoversOfRemovedPrograms(this, *m_uninstMgr);
}

void TFormOVMain::mniMainHomePageClick()
{
    ShellOpen(URL_HOME);
}

void TFormOVMain::mniMainAboutClick()
{
    if (m_formSettings || m_formAbout)
        return;
    std::unique_ptr<TFormOVAbout> dialog(new TFormOVAbout(URL_HOME, this));
    m_formAbout = dialog.get();
    try {
        dialog->exec();
    } catch (...) { }
    dialog.reset();
    m_formAbout = nullptr;
}

void TFormOVMain::imgTabTasksClick()
{
    SelectTab(TabTasks);
}

void TFormOVMain::imgADClick()
{
    RunCommandLine(QStringList {appfiles::SiblingProgram(QStringLiteral("Upwell"))}, SW_SHOWNORMAL);
}

bool TFormOVMain::WndProcLanguageBroadcast(quint32 Message, quint64 WParam, qint64 LParam)
{
    const int lcid = LanguageFromBroadcast(Message, WParam, LParam);
    if (lcid < 0 || m_destroyed)
        return false;
    LanguageId = quint16(lcid);
    LanguageDir = appfiles::LanguageSubdir(LanguageId);
    LanguageFile = appfiles::LanguageFile(LanguageId);
    ovlang::LoadLanguageFile(m_multiLangs.get(), LanguageFile);
    return true;
}

void TFormOVMain::setTabsFont(const char *key, TBrimImageButton *button)
{
    const auto f = ovlang::GetFont(m_multiLangs.get(), QLatin1String(key));
    if (!f)
        return;
    // The language's font and colour; the current tab keeps its dark ink on
    // its light picture.
    const QFont font = f->font.resolve(button->Font().Font);
    const QColor color = f->color.isValid() ? f->color : button->Font().Color;
    button->SetFont({font, color});
    button->SetFontMouseHover({font, color});
    button->SetFontMouseDown({font, color});
    button->SetFontDisabled({font, button->FontDisabled().Color});
}

void TFormOVMain::layoutStatusLine()
{
    lblStatusVersion->adjustSize();
    lblStatusInfo->adjustSize();
    lblStatusInfo->move(lblStatusVersion->x() + lblStatusVersion->width() + 6, lblStatusVersion->y());
}

// The toolkit's own words (message-box buttons, the folder picker, edit
// menus) follow the language file's Code, from Qt's translations when the
// system has them; other languages keep the built-in English.
void TFormOVMain::applyToolkitLanguage()
{
    // Characters the interface font lacks (every Chinese one, say) come from
    // the language's caption family before any other: left to the system,
    // Chinese text under a non-Chinese locale may get Japanese glyph forms.
    const QFont base = QApplication::font();
    QFont::removeSubstitutions(base.family());
    const std::optional<TBrimFont> caption
        = m_multiLangs->GetFont(QStringLiteral("FormOVMain.SkinMgr.Title.Font"));
    if (caption && !caption->Name.isEmpty())
        QFont::insertSubstitutions(base.family(), {QFontInfo(base).family(), caption->Name});

    const std::optional<TBrimLanguage> language = m_multiLangs->CurrentLanguage();
    const QString code = language ? QString(language->Code).replace(u'-', u'_') : QString();
    if (code == m_toolkitLocale)
        return;
    m_toolkitLocale = code;
    if (m_toolkitTexts) {
        QCoreApplication::removeTranslator(m_toolkitTexts);
        delete m_toolkitTexts;
        m_toolkitTexts = nullptr;
    }
    if (code.isEmpty())
        return;
    auto *texts = new QTranslator(this);
    if (texts->load(QLocale(code), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        && QCoreApplication::installTranslator(texts))
        m_toolkitTexts = texts;
    else
        delete texts;
}

void TFormOVMain::MultiLangsLanguageChanged()
{
    // Applications' summaries are translated: the Running tab's rows, described again below, read them anew.
    m_appIndexBuiltMs = 0;
    TBrimMultiLangs *langs = m_multiLangs.get();
    const auto text = [langs](const char *key) { return langs->GetText(QLatin1String(key)); };

    // Fonts.
    if (const auto f = ovlang::GetFont(langs, QStringLiteral("FormOVMain.SkinMgr.Title.Font"))) {
        TBrimColorFont title = SkinMgr->Title().Font();
        title.Font = f->font.resolve(title.Font);
        if (f->color.isValid())
            title.Color = f->color;
        SkinMgr->Title().SetFont(title);
    }
    setTabsFont("FormOVMain.btnTabTopX.Font", btnTabTopX);
    setTabsFont("FormOVMain.btnTabRunning.Font", btnTabRunning);
    setTabsFont("FormOVMain.btnTabUninst.Font", btnTabUninst);
    applyToolkitLanguage();

    // Addresses.
    URL_HOME = text("String.URL.Home");
    URL_HELP = text("String.URL.Help");
    URL_TOPX = text("String.URL.TopX");
    URL_WAPI = text("String.URL.WAPI");
    if (m_webAPI) {
        m_webAPI->APIUrl = URL_WAPI;
        m_webAPI->LanguageID = LanguageId;
    }

    // Frame and tabs.
    SkinMgr->Title().SetText(text("FormOVMain.SkinMgr.Title.Text"));
    setWindowTitle(text("FormOVMain.Caption"));
    btnTabTopX->SetCaption(text("FormOVMain.btnTabTopX.Caption"));
    btnTabRunning->SetCaption(text("FormOVMain.btnTabRunning.Caption"));
    btnTabUninst->SetCaption(text("FormOVMain.btnTabUninst.Caption"));
    btnTabTasks->SetCaption(text("FormOVMain.btnTabTasks.Caption"));
    for (TBrimImageButton *b : {btnTabTopX, btnTabRunning, btnTabUninst, btnTabTasks})
        b->setAccessibleName(b->Caption());
    Header->lblTabTasks->setText(text("String.TasksInfo_0"));
    Header->lblTabTasks->setAccessibleName(btnTabTasks->Caption());
    btnMainMenu->setAccessibleName(text("String.MainMenu"));
    if (TBrimImageButton *b = SkinMgr->CommandButton(TSMButtonKind::Min))
        b->setAccessibleName(text("String.Minimize"));
    if (TBrimImageButton *b = SkinMgr->CommandButton(TSMButtonKind::Close))
        b->setAccessibleName(text("String.Close"));
    Header->imgTabTasks->setAccessibleName(btnTabTasks->Caption());
    Header->imgAD->SetCaption(text("String.Upgrade"));
    Header->imgAD->setAccessibleName(Header->imgAD->Caption());

    // Status line.
    lblStatusVersion->setText(
        langs->FormatText(QStringLiteral("FormOVMain.lblStatusVersion.Caption"), {GetFileVersionText()}));
    lblStatusInfo->setText(text("FormOVMain.lblStatusInfo.Caption"));

    // Main menu.
    mniMainSettings->setText(text("FormOVMain.mniMainSettings.Caption"));
    mniMainHelp->setText(text("FormOVMain.mniMainHelp.Caption"));
    mniMainHomePage->setText(text("FormOVMain.mniMainHomePage.Caption"));
    mniMainAbout->setText(text("FormOVMain.mniMainAbout.Caption"));
    mniMainHistory->setText(text("FormOVMain.mniMainHistory.Caption"));
    mniMainLeftovers->setText(text("FormOVMain.mniMainLeftovers.Caption"));

    // Every tab's page (the Tasks tab's counters replace the shortcut's text).
    for (IOVTabPage *page : m_pages)
        if (page)
            page->ApplyTexts();

    // Layout.
    layoutStatusLine();
    Header->LayoutTasksShortcut();

    // Open dialogs.
    if (m_formAbout)
        m_formAbout->ApplyTexts(URL_HOME);
    if (m_formSettings)
        m_formSettings->ApplyTexts();
    if (m_formHistory)
        m_formHistory->ApplyTexts();
}
