#include "procmon/tab/RunningTab.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/MessageBoxTypes.h"
#include "core/OVFuncs.h"
#include "platform/ProcFs.h"
#include "procmon/FileProp.h"
#include "procmon/ProcessDescription.h"
#include "procmon/Processes.h"
#include "procmon/RunningTabRules.h"
#include "procmon/SystemStatus.h"
#include "ui/BrimAccessible.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimLVRichSelItem.h"
#include "ui/BrimSkin.h"
#include "ui/OVWindowLook.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace procmon;

namespace {

constexpr int kLabelGap = 6; // between the panel's labels
constexpr int kButtonRightMargin = 10;
constexpr int kPanelRows = 3;

const char *const kPriorityNames[6]
    = {"mniRunningPriority_Realtime", "mniRunningPriority_High",        "mniRunningPriority_AboveNormal",
       "mniRunningPriority_Normal",   "mniRunningPriority_BelowNormal", "mniRunningPriority_Low"};

QString text(const char *key)
{
    return OVGetText(QLatin1String(key));
}

bool isProcessRow(const QTreeWidgetItem *row)
{
    return row && row->data(0, TOVRunningTab::ProcessIdRole).typeId() == QMetaType::UInt;
}

quint32 processIdOf(const QTreeWidgetItem *row)
{
    return row->data(0, TOVRunningTab::ProcessIdRole).toUInt();
}

// Where a label's whole text is kept while it shows a shortened one.
const char kFullText[] = "fullText";

void setLabelText(QLabel *label, const QString &full)
{
    label->setProperty(kFullText, full);
    label->setText(full);
}

} // namespace

// A process row: sorted by the tab's compare rule.
class TOVRunningTab::Row : public QTreeWidgetItem
{
public:
    explicit Row(const TOVRunningTab *tab)
        : m_tab(tab)
    { }
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const int column = m_tab->m_sortColumn;
        const TProcessItem *a = isProcessRow(this) ? m_tab->m_procs->ItemByID(processIdOf(this)) : nullptr;
        const TProcessItem *b
            = isProcessRow(&other) ? m_tab->m_procs->ItemByID(processIdOf(&other)) : nullptr;
        return CompareRows(column, text(column), other.text(column), a, b) < 0;
    }

    // The figures the row shows, so an unchanged one is neither formatted nor set again.
    bool figuresShown = false;
    quint32 cpuShown = 0;
    quint64 memoryShown = 0;

private:
    const TOVRunningTab *m_tab;
};

TOVRunningTab::TOVRunningTab(TProcesses *RunningProcs, TSystemStatus *SysStatus, TFileProp *FileProps,
                             QWidget *parent)
    : QWidget(parent)
    , m_procs(RunningProcs)
    , m_sysStatus(SysStatus)
    , m_fileProps(FileProps)
{
    setObjectName(QStringLiteral("RunningTab"));
    if (!m_procs) {
        m_ownProcs = std::make_unique<TProcesses>();
        m_procs = m_ownProcs.get();
    }
    if (!m_sysStatus) {
        m_ownSysStatus = std::make_unique<TSystemStatus>();
        m_sysStatus = m_ownSysStatus.get();
    }
    if (!m_fileProps) {
        m_ownFileProps = std::make_unique<TFileProp>();
        m_fileProps = m_ownFileProps.get();
    }
    m_procs->OnProcessAdded = [this](TProcesses *, quint32 pid) { ProcessAdded(pid); };
    m_procs->OnProcessReloaded = [this](TProcesses *, quint32 pid) { ProcessReloaded(pid); };
    m_procs->OnProcessRemoved = [this](TProcesses *, quint32 pid) { ProcessRemoved(pid); };

    lblRunningTitle = new QLabel(this);
    lblRunningTitle->setObjectName(QStringLiteral("lblRunningTitle"));
    QFont bold = lblRunningTitle->font();
    bold.setBold(true);
    lblRunningTitle->setFont(bold);

    lvRunning = new QTreeWidget(this);
    lvRunning->setObjectName(QStringLiteral("lvRunning"));
    lvRunning->setColumnCount(ColCount);
    lvRunning->setRootIsDecorated(false);
    lvRunning->setItemsExpandable(false);
    lvRunning->setUniformRowHeights(true);
    lvRunning->setSelectionMode(QAbstractItemView::SingleSelection);
    lvRunning->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvRunning->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvRunning->setAllColumnsShowFocus(true);
    lvRunning->setIconSize(QSize(16, 16));
    lvRunning->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lvRunning->setContextMenuPolicy(Qt::CustomContextMenu);
    lvRunning->setTextElideMode(Qt::ElideRight);
    lvRunning->header()->setSectionsClickable(true);
    lvRunning->header()->setSectionsMovable(false);
    lvRunning->header()->setStretchLastSection(true);
    const int widths[ColCount] = {130, 48, 96, 230, 260};
    for (int i = 0; i < ColCount; ++i)
        lvRunning->header()->resizeSection(i, widths[i]);
    // Colours through the palette: a style sheet on the list would make every repaint of
    // its cells, once a second, several times dearer. Only the header takes one.
    ovlook::SetListPalette(lvRunning);
    lvRunning->header()->setStyleSheet(ovlook::ListHeaderStyleSheet());
    lvRunning->installEventFilter(this);
    connect(lvRunning, &QWidget::customContextMenuRequested, this, [this] { OpenPopupMenu(); });
    connect(lvRunning, &QTreeWidget::itemSelectionChanged, this, [this] { ListSelectionChanged(); });
    connect(lvRunning->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { ColumnClick(column); });

    // The selected process's panel, laid over its row by the selection panel.
    // Read as one group, named by the process it shows.
    pnlRunningSelItem = new TBrimRoleLabel(this);
    pnlRunningSelItem->setObjectName(QStringLiteral("pnlRunningSelItem"));
    pnlRunningSelItem->setAttribute(Qt::WA_StyledBackground, true);
    pnlRunningSelItem->setStyleSheet(QStringLiteral("#pnlRunningSelItem { background: #d6e4fb; }"
                                                    "QLabel { color: #1f2d3d; }"));
    pnlRunningSelItem->setContextMenuPolicy(Qt::CustomContextMenu);
    pnlRunningSelItem->installEventFilter(this);
    connect(pnlRunningSelItem, &QWidget::customContextMenuRequested, this, [this] { OpenPopupMenu(); });
    auto panelLabel = [this](const char *name) {
        auto *l = new QLabel(pnlRunningSelItem);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::PlainText);
        l->setContextMenuPolicy(Qt::CustomContextMenu);
        l->installEventFilter(this);
        connect(l, &QWidget::customContextMenuRequested, this, [this] { OpenPopupMenu(); });
        return l;
    };
    imgRunningSelItemIcon = panelLabel("imgRunningSelItemIcon");
    imgRunningSelItemIcon->setFixedSize(32, 32);
    lblRunningSelItemTitle = panelLabel("lblRunningSelItemTitle");
    lblRunningSelItemTitle->setFont(bold);
    lblRunningSelItemCPU = panelLabel("lblRunningSelItemCPU");
    lblRunningSelItemMemory = panelLabel("lblRunningSelItemMemory");
    lblRunningSelItemPath = panelLabel("lblRunningSelItemPath");
    lblRunningSelItemPath->setCursor(Qt::PointingHandCursor);
    lblRunningSelItemDesc = panelLabel("lblRunningSelItemDesc");
    lblRunningSelItemDesc->setCursor(Qt::PointingHandCursor);

    btnRunningSelItemTerminate = new TBrimImageButton(pnlRunningSelItem);
    btnRunningSelItemTerminate->setObjectName(QStringLiteral("btnRunningSelItemTerminate"));
    btnRunningSelItemTerminate->SetTransparent(true);
    brim::setButtonPictures(btnRunningSelItemTerminate, QStringLiteral("btn_action"));
    btnRunningSelItemTerminate->SetStretch(true);
    const TBrimColorFont white {bold, QColor(Qt::white)};
    btnRunningSelItemTerminate->SetFont(white);
    btnRunningSelItemTerminate->SetEnableStatesFont(true);
    btnRunningSelItemTerminate->SetFontMouseHover(white);
    btnRunningSelItemTerminate->SetFontMouseDown(white);
    btnRunningSelItemTerminate->setFixedSize(86, 24);
    btnRunningSelItemTerminate->OnClick = [this](QObject *) { CommandTerminate(); };

    lblRunningSysStatus = new QLabel(this);
    lblRunningSysStatus->setObjectName(QStringLiteral("lblRunningSysStatus"));
    lblRunningSysStatus->setTextFormat(Qt::PlainText);
    lblRunningHideSystem = new TBrimRoleLabel(this, QAccessible::Link);
    lblRunningHideSystem->setObjectName(QStringLiteral("lblRunningHideSystem"));
    lblRunningHideSystem->setTextFormat(Qt::RichText);
    lblRunningHideSystem->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    lblRunningHideSystem->setFocusPolicy(Qt::StrongFocus);
    lblRunningHideSystem->setCursor(Qt::PointingHandCursor);
    lblRunningHideSystem->installEventFilter(this);
    connect(lblRunningHideSystem, &QLabel::linkActivated, this, [this] { ToggleHideSystem(); });

    pmRunning = new QMenu(this);
    pmRunning->setObjectName(QStringLiteral("pmRunning"));
    auto item = [this](QMenu *menu, const char *name, void (TOVRunningTab::*command)()) {
        QAction *a = menu->addAction(QString());
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, [this, command] { (this->*command)(); });
        return a;
    };
    mniRunningTerminate = item(pmRunning, "mniRunningTerminate", &TOVRunningTab::CommandTerminate);
    mniRunningTerminateTree
        = item(pmRunning, "mniRunningTerminateTree", &TOVRunningTab::CommandTerminateTree);
    mniRunningPriority = pmRunning->addMenu(QString());
    mniRunningPriority->setObjectName(QStringLiteral("mniRunningPriority"));
    connect(mniRunningPriority, &QMenu::aboutToShow, this, [this] { PriorityMenuOpened(); });
    m_priorityGroup = new QActionGroup(this);
    m_priorityGroup->setExclusive(true);
    for (int i = 0; i < 6; ++i) {
        QAction *a = mniRunningPriority->addAction(QString());
        a->setObjectName(QLatin1String(kPriorityNames[i]));
        a->setCheckable(true);
        a->setData(i + 1); // the tag
        m_priorityGroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] { CommandSetPriority(i + 1); });
        mniRunningPriorityItems[size_t(i)] = a;
    }
    pmRunning->addSeparator();
    mniRunningLocation = item(pmRunning, "mniRunningLocation", &TOVRunningTab::CommandLocation);
    mniRunningProperties = item(pmRunning, "mniRunningProperties", &TOVRunningTab::CommandProperties);
    pmRunning->addSeparator();
    mniRunningSearch = item(pmRunning, "mniRunningSearch", &TOVRunningTab::CommandSearch);
    mniRunningShowInUninstall
        = item(pmRunning, "mniRunningShowInUninstall", &TOVRunningTab::CommandShowInUninstallList);

    tmrRefreshRunning = new QTimer(this);
    tmrRefreshRunning->setObjectName(QStringLiteral("tmrRefreshRunning"));
    tmrRefreshRunning->setInterval(1000);
    connect(tmrRefreshRunning, &QTimer::timeout, this, [this] { TimerRefresh(); });

    auto *top = new QHBoxLayout;
    top->addWidget(lblRunningTitle, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(lblRunningSysStatus, 1);
    bottom->addWidget(lblRunningHideSystem);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(6);
    layout->addLayout(top);
    layout->addWidget(lvRunning, 1);
    layout->addLayout(bottom);
    // The list, the button on its selected row, then the switch below it.
    setTabOrder(lvRunning, btnRunningSelItemTerminate);
    setTabOrder(btnRunningSelItemTerminate, lblRunningHideSystem);

    MultiLangsLanguageChanged();
}

TOVRunningTab::~TOVRunningTab()
{
    tmrRefreshRunning->stop();
    m_procs->OnProcessAdded = nullptr;
    m_procs->OnProcessReloaded = nullptr;
    m_procs->OnProcessRemoved = nullptr;
    // The selection panel watches the list; it goes first.
    delete m_selPanel;
    m_selPanel = nullptr;
}

void TOVRunningTab::FirstActivate()
{
    if (m_shown)
        return;
    m_shown = true;
    m_hideSystem = true;
    UpdateHideSystemLink();
    // Once per program run; reading other users' processes needs it, and its absence is no failure.
    static bool privilegeAsked = false;
    if (!privilegeAsked) {
        privilegeAsked = true;
        EnablePrivilege(QStringLiteral("SeDebugPrivilege"));
    }
    m_selPanel = new TBrimLVRichSelItem(this);
    m_selPanel->SetRowSpan(kPanelRows);
    m_selPanel->AttachListView(lvRunning);
    m_selPanel->AttachPanel(pnlRunningSelItem);
    FullFill();
}

void TOVRunningTab::Activate()
{
    if (!m_shown)
        FirstActivate();
    TimerRefresh();
    tmrRefreshRunning->start();
}

void TOVRunningTab::Deactivate()
{
    if (!m_shown)
        return;
    TimerRefresh();
    tmrRefreshRunning->stop();
}

TProcessItem *TOVRunningTab::SelectedProcess() const
{
    const QList<QTreeWidgetItem *> selected = lvRunning->selectedItems();
    if (selected.isEmpty() || !isProcessRow(selected.first()))
        return nullptr;
    return m_procs->ItemByID(processIdOf(selected.first()));
}

QTreeWidgetItem *TOVRunningTab::RowOf(quint32 ProcessID) const
{
    return m_rows.value(ProcessID, nullptr);
}

int TOVRunningTab::ProcessRowCount() const
{
    return int(m_rows.size());
}

QString TOVRunningTab::Description(const TProcessItem *Item)
{
    return OVProcessDescription(*Item, *m_fileProps, KnowledgeBase, ApplicationOfProcess(Item).Description);
}

TProcessApplication TOVRunningTab::ApplicationOfProcess(const TProcessItem *Item)
{
    if (!Item || !ApplicationOf)
        return {};
    const auto known = m_applications.constFind(Item->ProcessID);
    if (known != m_applications.constEnd() && known->startTicks == Item->StartTicks)
        return known->application;
    KnownApplication entry;
    entry.startTicks = Item->StartTicks;
    entry.application = ApplicationOf(*Item);
    m_applications.insert(Item->ProcessID, entry);
    return entry.application;
}

QList<quint32> TOVRunningTab::ProcessesOfApplication(const QString &ApplicationKey)
{
    QList<quint32> found;
    if (ApplicationKey.isEmpty())
        return found;
    m_procs->SafeRefresh();
    for (int i = 0; i < m_procs->Count(); ++i) {
        const TProcessItem *item = m_procs->Items(i);
        if (item && item->ProcessID > 2 && !item->IsOwnProgram()
            && ApplicationOfProcess(item).Key == ApplicationKey)
            found << item->ProcessID;
    }
    return found;
}

bool TOVRunningTab::EndProcesses(const QList<quint32> &ProcessIDs, int GraceMs)
{
    std::vector<const platform::ProcessHandle *> handles;
    for (quint32 pid : ProcessIDs)
        if (const TProcessItem *item = m_procs->ItemByID(pid))
            handles.push_back(&item->Handle);
    const bool ended = TProcessHelper::EndAll(handles, GraceMs);
    m_procs->SafeRefresh(); // their rows go now, not with the next tick
    return ended;
}

QIcon TOVRunningTab::SmallIcon(int Index)
{
    if (Index < 0)
        return {};
    const auto cached = m_smallIcons.constFind(Index);
    if (cached != m_smallIcons.constEnd())
        return *cached;
    const QString name = m_procs->SmallImages().value(Index);
    QIcon icon = name.startsWith(QLatin1Char('/')) ? QIcon(name) : QIcon::fromTheme(name);
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("application-x-executable"));
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_FileIcon);
    m_smallIcons.insert(Index, icon);
    return icon;
}

QIcon TOVRunningTab::LargeIcon(int Index)
{
    if (Index < 0)
        return {};
    const auto cached = m_largeIcons.constFind(Index);
    if (cached != m_largeIcons.constEnd())
        return *cached;
    // Both image lists name the same pictures; the large one is drawn at 32 x 32.
    const QIcon icon = SmallIcon(Index);
    m_largeIcons.insert(Index, icon);
    return icon;
}

void TOVRunningTab::SetRowIcon(QTreeWidgetItem *R, int Index)
{
    R->setIcon(ColName, SmallIcon(Index));
}

void TOVRunningTab::SetRowFigures(Row *R, const TProcessItem *Item)
{
    if (!R->figuresShown || R->cpuShown != Item->CPUUsage) {
        R->cpuShown = Item->CPUUsage;
        R->setText(ColCPU, CpuText(Item->CPUUsage));
    }
    if (!R->figuresShown || R->memoryShown != Item->Memory.WorkingSetSize) {
        R->memoryShown = Item->Memory.WorkingSetSize;
        R->setText(ColMemory, MemoryText(Item->Memory.WorkingSetSize));
    }
    R->figuresShown = true;
}

void TOVRunningTab::SetRowDetails(QTreeWidgetItem *R, TProcessItem *Item)
{
    const QString path = OneLine(Item->ImagePath);
    if (R->text(ColPath) != path) {
        R->setText(ColPath, path);
        R->setToolTip(ColPath, path);
    }
    // The description depends on the name and the file only: made again when the path changed.
    const QVariant described = R->data(0, DescribedPathRole);
    if (!described.isValid() || described.toString() != Item->ImagePath)
        DescribeRow(R, Item);
}

void TOVRunningTab::DescribeRow(QTreeWidgetItem *R, const TProcessItem *Item)
{
    R->setData(0, DescribedPathRole, Item->ImagePath);
    const QString description = OneLine(Description(Item));
    R->setText(ColDescription, description);
    R->setToolTip(ColDescription, description);
    R->setData(0, ApplicationKeyRole, ApplicationOfProcess(Item).Key);
}

void TOVRunningTab::AddRow(TProcessItem *Item)
{
    auto *row = new Row(this);
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    row->setSizeHint(ColName, QSize(-1, 22));
    row->setData(0, ProcessIdRole, Item->ProcessID);
    const QString name = OneLine(Item->Name);
    row->setText(ColName, name);
    row->setToolTip(ColName, name);
    row->setTextAlignment(ColCPU, Qt::AlignCenter);
    row->setTextAlignment(ColMemory, Qt::AlignRight | Qt::AlignVCenter);
    SetRowIcon(row, Item->SmallIconIndex);
    Item->RefreshMemory();
    SetRowFigures(row, Item);
    SetRowDetails(row, Item);
    lvRunning->addTopLevelItem(row);
    m_rows.insert(Item->ProcessID, row);
}

void TOVRunningTab::FullFill()
{
    const bool updates = lvRunning->updatesEnabled();
    lvRunning->setUpdatesEnabled(false);
    lvRunning->clear();
    m_rows.clear();
    m_procs->SafeRefresh();
    for (int i = 0; i < m_procs->Count(); ++i) {
        TProcessItem *item = m_procs->Items(i);
        if (!item || (m_hideSystem && item->IsSystem()))
            continue;
        // A row the added event made during the refresh is not listed twice.
        if (m_rows.contains(item->ProcessID))
            continue;
        AddRow(item);
    }
    lvRunning->setUpdatesEnabled(updates);
}

void TOVRunningTab::TimerRefresh()
{
    if (!m_shown)
        return;
    m_procs->SafeRefresh();
    m_sysStatus->RefreshCPU();
    m_sysStatus->RefreshMemory();
    UpdateStatusLine();
    // The view collects its repaints into one; only changed cells are touched. The
    // refresh's CPU sample has just read each working set, so the counters are current.
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it)
        if (const TProcessItem *item = m_procs->ItemByID(it.key()))
            SetRowFigures(it.value(), item);
    UpdateSelItemPanel(true);
}

void TOVRunningTab::UpdateStatusLine()
{
    if (!m_shown)
        return;
    const int load
        = TSystemStatus::MemoryLoad(m_sysStatus->PhysicalTotal(), m_sysStatus->PhysicalAvailable());
    lblRunningSysStatus->setText(
        StatusLineText(ProcessRowCount(), m_hideSystem, m_sysStatus->Usage(0), load));
}

void TOVRunningTab::UpdateHideSystemLink()
{
    const QString caption = m_shown ? OVGetText(HideSystemLinkKey(m_hideSystem))
                                    : text("FormOVMain.lblRunningHideSystem.Caption");
    lblRunningHideSystem->setText(ovlook::LinkHtml(caption));
    lblRunningHideSystem->setAccessibleName(caption);
}

void TOVRunningTab::ProcessAdded(quint32 ProcessID)
{
    TProcessItem *item = m_procs->ItemByID(ProcessID);
    if (!item || (m_hideSystem && item->IsSystem()) || m_rows.contains(ProcessID))
        return;
    AddRow(item);
}

void TOVRunningTab::ProcessReloaded(quint32 ProcessID)
{
    QTreeWidgetItem *row = RowOf(ProcessID);
    TProcessItem *item = m_procs->ItemByID(ProcessID);
    if (!row || !item)
        return;
    // A process that started another program has a new name too.
    const QString name = OneLine(item->Name);
    if (row->text(ColName) != name) {
        row->setText(ColName, name);
        row->setToolTip(ColName, name);
    }
    SetRowIcon(row, item->SmallIconIndex);
    SetRowDetails(row, item);
    // The selected process's panel shows the same name, path and description as its row.
    if (row->isSelected())
        UpdateSelItemPanel(false);
}

void TOVRunningTab::ProcessRemoved(quint32 ProcessID)
{
    delete m_rows.take(ProcessID);
    m_applications.remove(ProcessID);
}

void TOVRunningTab::UpdateSelItemPanel(bool FiguresOnly)
{
    TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    if (!FiguresOnly) {
        const QIcon icon = LargeIcon(item->LargeIconIndex);
        imgRunningSelItemIcon->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(32, 32));
        const QString name = OneLine(item->Name);
        setLabelText(lblRunningSelItemTitle,
                     OVFormatText(QStringLiteral("FormOVMain.lblRunningSelItemTitle.Caption"), {name}));
        const QString path = OneLine(item->ImagePath);
        setLabelText(lblRunningSelItemPath,
                     OVFormatText(QStringLiteral("FormOVMain.lblRunningSelItemPath.Caption"), {path}));
        lblRunningSelItemPath->setToolTip(
            OVFormatText(QStringLiteral("FormOVMain.lblRunningSelItemPath.Hint"), {path}));
        const QString description = OneLine(Description(item));
        setLabelText(lblRunningSelItemDesc,
                     OVFormatText(QStringLiteral("FormOVMain.lblRunningSelItemDesc.Caption"), {description}));
        lblRunningSelItemDesc->setToolTip(
            OVFormatText(QStringLiteral("FormOVMain.lblRunningSelItemDesc.Hint"), {description}));
        lblRunningSelItemTitle->adjustSize();
    }
    setLabelText(lblRunningSelItemCPU,
                 OVFormatText(QStringLiteral("FormOVMain.lblRunningSelItemCPU.Caption"), {item->CPUUsage}));
    setLabelText(lblRunningSelItemMemory,
                 OVFormatText(QStringLiteral("FormOVMain.lblRunningSelItemMemory.Caption"),
                              {double(item->Memory.WorkingSetSize) / 1024.0}));
    PlaceSelItemLabels();
}

void TOVRunningTab::PlaceSelItemLabels()
{
    QWidget *panel = pnlRunningSelItem;
    const int w = panel->width();
    const int h = panel->height();
    btnRunningSelItemTerminate->move(w - kButtonRightMargin - btnRunningSelItemTerminate->width(), 6);
    imgRunningSelItemIcon->move(8, qMax(0, (h - 32) / 2));
    const int left = 48;
    lblRunningSelItemTitle->adjustSize();
    const int lineHeight = lblRunningSelItemTitle->height();
    const int firstLine = qMax(2, h / 2 - lineHeight - 1);
    const int secondLine = firstLine + lineHeight + 4;
    lblRunningSelItemTitle->move(left, firstLine);
    QLabel *chain[] = {lblRunningSelItemCPU, lblRunningSelItemMemory, lblRunningSelItemPath};
    int x = lblRunningSelItemTitle->geometry().right() + 1 + kLabelGap;
    for (QLabel *label : chain) {
        label->setText(label->property(kFullText).toString());
        label->adjustSize();
        label->move(x, firstLine);
        x = label->geometry().right() + 1 + kLabelGap;
    }
    lblRunningSelItemDesc->setText(lblRunningSelItemDesc->property(kFullText).toString());
    lblRunningSelItemDesc->adjustSize();
    lblRunningSelItemDesc->move(left, secondLine);
    // The path and the description end before the button, shortened at a word.
    const int buttonLeft = btnRunningSelItemTerminate->x();
    for (QLabel *label : {lblRunningSelItemPath, lblRunningSelItemDesc}) {
        const int room = qMax(0, buttonLeft - label->x() - kLabelGap);
        if (room < label->width()) {
            label->setText(
                ovlook::ElideAtWord(label->property(kFullText).toString(), label->fontMetrics(), room));
            label->resize(room, label->height());
        }
    }
}

void TOVRunningTab::ListSelectionChanged()
{
    const QList<QTreeWidgetItem *> selected = lvRunning->selectedItems();
    if (!selected.isEmpty() && !TBrimLVRichSelItem::IsBlankItem(selected.first()))
        UpdateSelItemPanel(false);
}

void TOVRunningTab::ColumnClick(int Column)
{
    if (Column < 0 || Column >= ColCount)
        return;
    m_sortColumn = Column;
    int &tag = m_columnTags[size_t(Column)];
    tag = (tag + 1) % 2;
    const Qt::SortOrder order = tag == 1 ? Qt::AscendingOrder : Qt::DescendingOrder;
    if (m_selPanel)
        m_selPanel->SortItems(Column, order);
    else
        lvRunning->sortItems(Column, order);
    const QList<QTreeWidgetItem *> selected = lvRunning->selectedItems();
    if (!selected.isEmpty() && lvRunning->indexOfTopLevelItem(selected.first()) > 0)
        lvRunning->scrollToItem(selected.first());
}

void TOVRunningTab::OpenPopupMenu()
{
    const TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    mniRunningShowInUninstall->setEnabled(!ApplicationOfProcess(item).Key.isEmpty());
    pmRunning->popup(QCursor::pos());
}

int TOVRunningTab::Ask(const QString &Text, const QString &CaptionKey, unsigned Type)
{
    const QString caption = OVGetText(CaptionKey);
    if (MessageBox)
        return MessageBox(this, Text, caption, Type);
    return ShowMessageBox(this, Text, caption, Type, OVLanguageId(), 0);
}

void TOVRunningTab::FocusList()
{
    lvRunning->setFocus();
}

void TOVRunningTab::TerminateSelected(bool Tree)
{
    TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    if (item->IsCritical()) {
        Ask(text("String.MsgText.CriticalProcess"), QStringLiteral("String.MsgTitle.Warning"),
            MB_OK | MB_ICONWARNING);
        return;
    }
    const quint32 pid = item->ProcessID;
    const quint64 started = item->StartTicks;
    const QVariantList args {OneLine(item->Name), pid};
    const int answer
        = Ask(OVFormatText(QStringLiteral("String.MsgText.TerminateQuery"), args),
              QStringLiteral("String.MsgTitle.Question"), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer == IDYES) {
        // The question ran an event loop: the process may have ended, its number gone to another.
        item = m_procs->ItemByID(pid);
        if (item && item->StartTicks == started) {
            const bool ended = Tree ? item->TerminateTree() : item->Terminate();
            if (!ended)
                Ask(OVFormatText(QStringLiteral("String.MsgText.TerminateFailed"), args),
                    QStringLiteral("String.MsgTitle.Failure"), MB_OK | MB_ICONERROR);
        }
    }
    FocusList();
}

void TOVRunningTab::CommandTerminate()
{
    TerminateSelected(false);
}

void TOVRunningTab::CommandTerminateTree()
{
    TerminateSelected(true);
}

void TOVRunningTab::PriorityMenuOpened()
{
    const TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    const int tag = TagOfPriorityClass(item->PriorityClass());
    // A class outside the six (0 without a handle) leaves the marks as they are.
    if (tag > 0)
        mniRunningPriorityItems[size_t(tag - 1)]->setChecked(true);
}

void TOVRunningTab::CommandSetPriority(int Tag)
{
    TProcessItem *item = SelectedProcess();
    const quint32 cls = PriorityClassOfTag(Tag);
    if (!item || cls == 0)
        return;
    const quint32 pid = item->ProcessID;
    const quint64 started = item->StartTicks;
    const QVariantList args {OneLine(item->Name), pid};
    const int answer
        = Ask(OVFormatText(QStringLiteral("String.MsgText.PriorityQuery"), args),
              QStringLiteral("String.MsgTitle.Question"), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer == IDYES) {
        item = m_procs->ItemByID(pid);
        const bool set = item && item->StartTicks == started && item->SetPriorityClass(cls);
        if (!set)
            Ask(OVFormatText(QStringLiteral("String.MsgText.PriorityFailed"), args),
                QStringLiteral("String.MsgTitle.Failure"), MB_OK | MB_ICONERROR);
    }
    FocusList();
}

void TOVRunningTab::CommandLocation()
{
    const TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    SelectInExplorer(item->ImagePath);
    FocusList();
}

void TOVRunningTab::CommandProperties()
{
    const TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    ShowFileProperties(item->ImagePath);
    FocusList();
}

void TOVRunningTab::CommandSearch()
{
    const TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    SearchOnline(item->Name);
    FocusList();
}

void TOVRunningTab::CommandShowInUninstallList()
{
    const TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    const QString key = ApplicationOfProcess(item).Key;
    if (!key.isEmpty() && OnShowInUninstallList)
        OnShowInUninstallList(key);
}

void TOVRunningTab::CopyPath()
{
    const TProcessItem *item = SelectedProcess();
    QApplication::clipboard()->setText(item ? item->ImagePath : lblRunningSelItemPath->text());
}

void TOVRunningTab::CopyDescription()
{
    const TProcessItem *item = SelectedProcess();
    QApplication::clipboard()->setText(item ? Description(item) : lblRunningSelItemDesc->text());
}

void TOVRunningTab::ToggleHideSystem()
{
    m_hideSystem = !m_hideSystem;
    FullFill();
    UpdateHideSystemLink();
    UpdateStatusLine();
}

void TOVRunningTab::MultiLangsLanguageChanged()
{
    setLabelText(lblRunningTitle, text("FormOVMain.lblRunningTitle.Caption"));
    QStringList columns;
    for (int i = 0; i < ColCount; ++i)
        columns << OVGetText(QStringLiteral("FormOVMain.lvRunning.Columns.Items[%1].Caption").arg(i));
    lvRunning->setHeaderLabels(columns);
    lvRunning->setAccessibleName(text("FormOVMain.btnTabRunning.Caption"));
    for (QAction *a : {mniRunningTerminate, mniRunningTerminateTree, mniRunningLocation, mniRunningProperties,
                       mniRunningSearch, mniRunningShowInUninstall})
        a->setText(OVGetText(QStringLiteral("FormOVMain.%1.Caption").arg(a->objectName())));
    mniRunningPriority->setTitle(text("FormOVMain.mniRunningPriority.Caption"));
    for (QAction *a : mniRunningPriorityItems)
        a->setText(OVGetText(QStringLiteral("FormOVMain.%1.Caption").arg(a->objectName())));
    const QString terminate = text("FormOVMain.btnRunningSelItemTerminate.Caption");
    btnRunningSelItemTerminate->SetCaption(terminate);
    btnRunningSelItemTerminate->setAccessibleName(terminate);
    imgRunningSelItemIcon->setToolTip(text("FormOVMain.imgRunningSelItemIcon.Hint"));
    if (m_shown) {
        m_sysStatus->RefreshCPU();
        m_sysStatus->RefreshMemory();
        UpdateStatusLine();
        // Descriptions come in the language too (the knowledge base, translated summaries):
        // every row is described again, its application asked again.
        m_applications.clear();
        const bool updates = lvRunning->updatesEnabled();
        lvRunning->setUpdatesEnabled(false);
        for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it)
            if (const TProcessItem *item = m_procs->ItemByID(it.key()))
                DescribeRow(it.value(), item);
        lvRunning->setUpdatesEnabled(updates);
        UpdateSelItemPanel(false);
    }
    UpdateHideSystemLink();
}

bool TOVRunningTab::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == lvRunning && type == QEvent::Resize) {
        // After the list and the selection panel have taken the new size.
        QTimer::singleShot(0, this, [this] {
            if (m_selPanel)
                m_selPanel->ExpandItem();
            UpdateSelItemPanel(false);
        });
    } else if (watched == pnlRunningSelItem && type == QEvent::Resize) {
        PlaceSelItemLabels();
    } else if (watched == lvRunning && type == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Menu
            || (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
            // The keyboard's right click: the menu opens at the selected row.
            const QList<QTreeWidgetItem *> selected = lvRunning->selectedItems();
            if (!selected.isEmpty() && SelectedProcess())
                pmRunning->popup(lvRunning->viewport()->mapToGlobal(
                    lvRunning->visualItemRect(selected.first()).bottomLeft()));
            return true;
        }
        if (key->key() == Qt::Key_Delete) {
            CommandTerminate();
            return true;
        }
    } else if (type == QEvent::MouseButtonPress
               && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == lblRunningSelItemPath) {
            CopyPath();
            return true;
        }
        if (watched == lblRunningSelItemDesc) {
            CopyDescription();
            return true;
        }
    } else if (type == QEvent::MouseButtonDblClick && watched == imgRunningSelItemIcon) {
        CommandLocation();
        return true;
    } else if (watched == lblRunningHideSystem && type == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            ToggleHideSystem();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
