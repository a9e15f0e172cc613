#include "tasks/TasksTab.h"

#include "core/AppFiles.h"
#include "core/BrimSystem.h"
#include "core/MessageBoxTypes.h"
#include "core/OVSettings.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/OVDownloadTasks.h"
#include "tasks/OVTaskItem.h"
#include "tasks/OVTaskList.h"
#include "tasks/TasksTabTexts.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkin.h"

#include <QAction>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tasks {

int DownloadPercent(quint32 CurrentSize, quint32 TotalSize)
{
    if (TotalSize == 0)
        return -1;
    const quint64 scaled = quint64(CurrentSize) * 100u;
    quint64 percent = scaled / TotalSize;
    const quint64 rest = scaled % TotalSize;
    if (rest * 2 > TotalSize || (rest * 2 == TotalSize && (percent & 1u)))
        ++percent;
    // A server that sends more than it announced must not push the figure past the whole.
    return int(std::min<quint64>(percent, 100));
}

QString DownloadProgressText(quint32 CurrentSize, quint32 TotalSize)
{
    const int percent = DownloadPercent(CurrentSize, TotalSize);
    if (percent < 0)
        return {};
    return QStringLiteral("%1 | %2 %").arg(FormatFileSize(TotalSize, 2)).arg(percent);
}

} // namespace tasks

namespace {

const char *const kIconNames[TOVTasksTab::IconCount]
    = {"task_downloading", "task_paused", "task_downloading", "task_completed", "task_failed"};

QIcon taskIcon(int index)
{
    QPixmap pic = brim::skinPicture(QLatin1String(kIconNames[index]), QSize(20, 20));
    if (index == TOVTasksTab::IconIdle && !pic.isNull()) {
        // Idle tasks show the download mark without colour, so they stand apart from running ones.
        QImage grey = pic.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < grey.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(grey.scanLine(y));
            for (int x = 0; x < grey.width(); ++x) {
                const int g = qGray(line[x]) / 2 + 100;
                line[x] = qRgba(g, g, g, qAlpha(line[x]));
            }
        }
        pic = QPixmap::fromImage(grey);
    }
    return QIcon(pic);
}

QString linkHtml(const QString &text)
{
    return QStringLiteral("<a href=\"#\" style=\"color:#2f6fde; text-decoration:none\">%1</a>")
        .arg(text.toHtmlEscaped());
}

} // namespace

TOVTasksTab::TOVTasksTab(TBrimTaskManager *TaskMgr, QWidget *parent)
    : QWidget(parent)
    , m_taskMgr(TaskMgr)
{
    setObjectName(QStringLiteral("tsTasks"));
    for (int i = 0; i < IconCount; ++i)
        m_ilTasks.append(taskIcon(i));

    m_lblTasksTitle = new QLabel(this);
    m_lblTasksTitle->setObjectName(QStringLiteral("lblTasksTitle"));
    QFont titleFont = m_lblTasksTitle->font();
    titleFont.setBold(true);
    m_lblTasksTitle->setFont(titleFont);

    m_lvTasks = new QTreeWidget(this);
    m_lvTasks->setObjectName(QStringLiteral("lvTasks"));
    m_lvTasks->setColumnCount(4);
    m_lvTasks->setRootIsDecorated(false);
    m_lvTasks->setItemsExpandable(false);
    m_lvTasks->setUniformRowHeights(true);
    m_lvTasks->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lvTasks->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvTasks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lvTasks->setIconSize(QSize(20, 20));
    m_lvTasks->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lvTasks->setContextMenuPolicy(Qt::CustomContextMenu);
    m_lvTasks->setAllColumnsShowFocus(true);
    // Long paths keep their file names in sight.
    m_lvTasks->setTextElideMode(Qt::ElideMiddle);
    m_lvTasks->header()->setStretchLastSection(true);
    m_lvTasks->header()->setSectionsMovable(false);
    // The state column is wider than 130 so "Downloading... | 812.34 KB/s" fits; the path takes the rest.
    const int widths[] = {200, 190, 130, 240};
    for (int i = 0; i < 4; ++i)
        m_lvTasks->header()->resizeSection(i, widths[i]);
    // The selection keeps its colour when the list loses the focus.
    m_lvTasks->setStyleSheet(QStringLiteral(
        "QTreeWidget { border: 1px solid #dbe2ea; background: white; }"
        "QTreeWidget::item { height: 24px; color: #1f2d3d; }"
        "QTreeWidget::item:selected { background: #d6e4fb; color: #1f2d3d; }"
        "QHeaderView::section { background: #f4f6f9; color: #4a5868; border: none;"
        " border-bottom: 1px solid #dbe2ea; border-right: 1px solid #e6ebf1; padding: 4px 6px; }"));
    m_lvTasks->installEventFilter(this);
    m_lblTasksTitle->setBuddy(m_lvTasks);

    m_pmTasks = new QMenu(this);
    m_pmTasks->setObjectName(QStringLiteral("pmTasks"));
    auto item = [this](const char *name, void (TOVTasksTab::*command)()) {
        QAction *a = m_pmTasks->addAction(QString());
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, [this, command] { (this->*command)(); });
        return a;
    };
    mniTasksStop = item("mniTasksStop", &TOVTasksTab::CommandStop);
    mniTasksPause = item("mniTasksPause", &TOVTasksTab::CommandPause);
    mniTasksResume = item("mniTasksResume", &TOVTasksTab::CommandResume);
    mniTasksLine1 = m_pmTasks->addSeparator();
    mniTasksLine1->setObjectName(QStringLiteral("mniTasksLine1"));
    mniTasksStart = item("mniTasksStart", &TOVTasksTab::CommandDownloadAndInstall);
    mniTasksDownload = item("mniTasksDownload", &TOVTasksTab::CommandDownload);
    mniTasksInstall = item("mniTasksInstall", &TOVTasksTab::CommandInstall);
    mniTasksLine2 = m_pmTasks->addSeparator();
    mniTasksLine2->setObjectName(QStringLiteral("mniTasksLine2"));
    mniTasksDelete = item("mniTasksDelete", &TOVTasksTab::CommandDelete);

    connect(m_lvTasks, &QWidget::customContextMenuRequested, this, &TOVTasksTab::OpenPopupMenu);
    connect(m_lvTasks, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *row, int) {
        if (row && row == m_lvTasks->currentItem())
            CommandDoubleClick();
    });

    auto link = [this](const char *name) {
        auto *l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::RichText);
        // One stop per link in the Tab order: the label takes the focus and Enter or Space
        // follow its only link (see eventFilter).
        l->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        l->setFocusPolicy(Qt::StrongFocus);
        l->setStyleSheet(QStringLiteral("QLabel { border: 1px solid transparent; padding: 1px; }"
                                        "QLabel:focus { border: 1px dotted #2f6fde; }"));
        l->installEventFilter(this);
        l->setCursor(Qt::PointingHandCursor);
        return l;
    };
    m_lblTasksOpenDownloadDir = link("lblTasksOpenDownloadDir");
    m_lblTasksSetDownloadDir = link("lblTasksSetDownloadDir");
    connect(m_lblTasksOpenDownloadDir, &QLabel::linkActivated, this, [this] { CommandOpenDownloadDir(); });
    connect(m_lblTasksSetDownloadDir, &QLabel::linkActivated, this, [this] { CommandSetDownloadDir(); });

    m_btnTasksClear = new TBrimImageButton(this);
    m_btnTasksClear->setObjectName(QStringLiteral("btnTasksClear"));
    m_btnTasksClear->SetTransparent(true);
    brim::setButtonPictures(m_btnTasksClear, QStringLiteral("btn_action"));
    m_btnTasksClear->SetStretch(true);
    QFont buttonFont = font();
    buttonFont.setBold(true);
    const TBrimColorFont white {buttonFont, QColor(Qt::white)};
    m_btnTasksClear->SetFont(white);
    m_btnTasksClear->SetEnableStatesFont(true);
    m_btnTasksClear->SetFontMouseHover(white);
    m_btnTasksClear->SetFontMouseDown(white);
    m_btnTasksClear->SetFontDisabled({buttonFont, QColor(0xf4, 0xf6, 0xf9)});
    m_btnTasksClear->setFixedSize(96, 26);
    m_btnTasksClear->OnClick = [this](QObject *) { CommandClearAll(); };

    auto *bottom = new QHBoxLayout;
    bottom->setSpacing(16);
    bottom->addWidget(m_lblTasksOpenDownloadDir);
    bottom->addWidget(m_lblTasksSetDownloadDir);
    bottom->addStretch(1);
    bottom->addWidget(m_btnTasksClear);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(6);
    layout->addWidget(m_lblTasksTitle);
    layout->addWidget(m_lvTasks, 1);
    layout->addLayout(bottom);

    setTabOrder(m_lvTasks, m_lblTasksOpenDownloadDir);
    setTabOrder(m_lblTasksOpenDownloadDir, m_lblTasksSetDownloadDir);
    setTabOrder(m_lblTasksSetDownloadDir, m_btnTasksClear);

    if (m_taskMgr)
        m_taskMgr->OnItemStateChange
            = [this](TBrimTaskManager *, TBrimTaskItem &Item) { TaskMgrItemStateChange(Item); };
    MultiLangsLanguageChanged();
}

TOVTasksTab::~TOVTasksTab()
{
    if (m_taskMgr)
        m_taskMgr->OnItemStateChange = nullptr;
}

TOVTaskItem *TOVTasksTab::TaskOfRow(const QTreeWidgetItem *Row) const
{
    if (!Row || !m_taskMgr)
        return nullptr;
    auto *task = reinterpret_cast<TBrimTaskItem *>(Row->data(0, TaskRole).value<quintptr>());
    // Only a task still in the manager may be touched; a row never keeps one alive.
    if (!task || m_taskMgr->IndexOf(task) < 0)
        return nullptr;
    return dynamic_cast<TOVTaskItem *>(task);
}

TOVTaskItem *TOVTasksTab::SelectedTask() const
{
    const QList<QTreeWidgetItem *> selected = m_lvTasks->selectedItems();
    return selected.isEmpty() ? nullptr : TaskOfRow(selected.first());
}

QTreeWidgetItem *TOVTasksTab::RowOf(const TBrimTaskItem *Item) const
{
    const quintptr key = reinterpret_cast<quintptr>(Item);
    for (int i = 0; i < m_lvTasks->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = m_lvTasks->topLevelItem(i);
        if (row->data(0, TaskRole).value<quintptr>() == key)
            return row;
    }
    return nullptr;
}

QTreeWidgetItem *TOVTasksTab::NewRow(TOVTaskItem *Task)
{
    auto *row = new QTreeWidgetItem;
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    row->setText(0, Task->Name);
    row->setToolTip(0, Task->Name);
    row->setText(3, Task->LocalFile);
    row->setToolTip(3, Task->LocalFile);
    row->setData(0, TaskRole,
                 QVariant::fromValue(reinterpret_cast<quintptr>(static_cast<TBrimTaskItem *>(Task))));
    SetRowIcon(row, IconIdle);
    return row;
}

void TOVTasksTab::SetRowIcon(QTreeWidgetItem *Row, int Index)
{
    Row->setData(0, IconIndexRole, Index);
    Row->setIcon(0, m_ilTasks.value(Index));
}

void TOVTasksTab::SetRowStateText(QTreeWidgetItem *Row, const QString &Key, const QString &Arg)
{
    Row->setData(0, StateKeyRole, Key);
    Row->setData(0, StateArgRole, Arg);
    const QString text = Arg.isEmpty() ? tasks::TabText(Key) : tasks::TabFormat(Key, {Arg});
    Row->setText(1, text);
    Row->setToolTip(1, text);
}

TOVTaskItem *TOVTasksTab::AddDownloadTask(const QString &Title, const QString &Url)
{
    if (!m_taskMgr)
        return nullptr;
    TOVTaskItem *task = ::AddDownloadTask(*m_taskMgr, Title, Url);
    if (!task || m_taskMgr->IndexOf(task) < 0)
        return nullptr;
    m_lvTasks->insertTopLevelItem(0, NewRow(task));
    // A start that failed at once has already reported its state; show it.
    if (task->State != OVTaskState::StartDownload)
        TaskMgrItemStateChange(*task);
    UpdateTaskCounters();
    SaveList();
    if (OnNewTask)
        OnNewTask(this);
    return m_taskMgr->IndexOf(task) >= 0 ? task : nullptr;
}

void TOVTasksTab::FillFromTaskList()
{
    if (!m_taskMgr)
        return;
    for (int i = 0; i < m_taskMgr->Count(); ++i) {
        auto *task = dynamic_cast<TOVTaskItem *>(m_taskMgr->Items(i));
        if (!task || RowOf(task))
            continue;
        QTreeWidgetItem *row = NewRow(task);
        m_lvTasks->addTopLevelItem(row);
        switch (task->State) {
        case OVTaskState::StartInstall:
        case OVTaskState::Installing:
        case OVTaskState::DownloadCompleted:
        case OVTaskState::InstallCompleted:
            SetRowIcon(row, IconActive);
            SetRowStateText(row, OVTaskState::Key(OVTaskState::DownloadCompleted));
            row->setText(2, FormatFileSize(task->TotalSize, 2));
            break;
        case OVTaskState::Failed:
            SetRowIcon(row, IconFailed);
            SetRowStateText(row, OVTaskState::Key(OVTaskState::Failed));
            break;
        case OVTaskState::NotDownloaded:
        case OVTaskState::StartDownload:
        case OVTaskState::Downloading:
        case OVTaskState::DownloadStopped:
        case OVTaskState::DownloadPaused:
            SetRowIcon(row, IconIdle);
            SetRowStateText(row, OVTaskState::Key(OVTaskState::NotDownloaded));
            row->setText(2, FormatFileSize(task->TotalSize, 2));
            break;
        default:
            break;
        }
    }
    UpdateTaskCounters();
}

void TOVTasksTab::TaskMgrItemStateChange(TBrimTaskItem &Item)
{
    QTreeWidgetItem *row = RowOf(&Item);
    auto *task = dynamic_cast<TOVTaskItem *>(&Item);
    if (!row || !task)
        return;
    const int state = task->State;
    const QString key = OVTaskState::Key(state);
    switch (state) {
    case OVTaskState::StartDownload:
    case OVTaskState::StartInstall:
    case OVTaskState::DownloadResumed:
        SetRowIcon(row, IconActive);
        SetRowStateText(row, key);
        break;
    case OVTaskState::Downloading:
        SetRowStateText(row, key, FormatFileSize(task->SpeedBPS, 2));
        row->setText(2, tasks::DownloadProgressText(task->CurrentSize, task->TotalSize));
        break;
    case OVTaskState::Installing:
        SetRowStateText(row, key);
        break;
    case OVTaskState::DownloadStopped:
    case OVTaskState::NotDownloaded:
        SetRowIcon(row, IconIdle);
        SetRowStateText(row, key);
        break;
    case OVTaskState::DownloadPaused:
        SetRowIcon(row, IconPaused);
        SetRowStateText(row, key);
        break;
    case OVTaskState::DownloadCompleted:
        SetRowStateText(row, key);
        row->setText(2, FormatFileSize(task->TotalSize, 2));
        break;
    case OVTaskState::InstallCompleted:
        SetRowIcon(row, IconInstalled);
        SetRowStateText(row, key);
        break;
    case OVTaskState::Failed:
        SetRowIcon(row, IconFailed);
        SetRowStateText(row, key);
        break;
    default:
        break;
    }
    UpdateTaskCounters();
}

void TOVTasksTab::UpdateTaskCounters()
{
    int downloading = 0;
    int installing = 0;
    const int rows = m_lvTasks->topLevelItemCount();
    for (int i = 0; i < rows; ++i) {
        const TOVTaskItem *task = TaskOfRow(m_lvTasks->topLevelItem(i));
        if (!task)
            continue;
        switch (task->State) {
        case OVTaskState::StartDownload:
        case OVTaskState::Downloading:
            ++downloading;
            break;
        case OVTaskState::StartInstall:
        case OVTaskState::Installing:
            ++installing;
            break;
        default:
            break;
        }
    }
    m_shortcutText = tasks::TabFormat(QStringLiteral("String.TasksInfo_1"), {downloading, installing});
    const QString title = tasks::TabFormat(QStringLiteral("FormOVMain.lblTasksTitle.Caption"), {rows});
    m_lblTasksTitle->setText(title);
    m_lvTasks->setAccessibleDescription(title);
    if (OnCountersChanged)
        OnCountersChanged(this, m_shortcutText);
}

void TOVTasksTab::MultiLangsLanguageChanged()
{
    m_lvTasks->setToolTip(tasks::TabText(QStringLiteral("FormOVMain.lvTasks.Hint")));
    QStringList columns;
    for (int i = 0; i < 4; ++i)
        columns << tasks::TabText(QStringLiteral("FormOVMain.lvTasks.Columns.Items[%1].Caption").arg(i));
    m_lvTasks->setHeaderLabels(columns);
    m_lvTasks->setAccessibleName(tasks::TabText(QStringLiteral("FormOVMain.btnTabTasks.Caption")));
    for (QAction *a : {mniTasksStop, mniTasksPause, mniTasksResume, mniTasksStart, mniTasksDownload,
                       mniTasksInstall, mniTasksDelete})
        a->setText(tasks::TabText(QStringLiteral("FormOVMain.%1.Caption").arg(a->objectName())));
    for (QLabel *l : {m_lblTasksOpenDownloadDir, m_lblTasksSetDownloadDir}) {
        const QString text = tasks::TabText(QStringLiteral("FormOVMain.%1.Caption").arg(l->objectName()));
        l->setText(linkHtml(text));
        l->setAccessibleName(text);
    }
    const QString clear = tasks::TabText(QStringLiteral("FormOVMain.btnTasksClear.Caption"));
    m_btnTasksClear->SetCaption(clear);
    m_btnTasksClear->setAccessibleName(clear);
    for (int i = 0; i < m_lvTasks->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = m_lvTasks->topLevelItem(i);
        const QString key = row->data(0, StateKeyRole).toString();
        if (!key.isEmpty())
            SetRowStateText(row, key, row->data(0, StateArgRole).toString());
    }
    UpdateTaskCounters();
}

bool TOVTasksTab::PreparePopupMenu()
{
    const TOVTaskItem *task = SelectedTask();
    const int state = task ? task->State : OVTaskState::StartDownload;
    const bool running = task && (state == OVTaskState::Downloading || state == OVTaskState::DownloadPaused);
    bool idle = false;
    switch (state) {
    case OVTaskState::DownloadStopped:
    case OVTaskState::DownloadCompleted:
    case OVTaskState::InstallCompleted:
    case OVTaskState::Failed:
    case OVTaskState::NotDownloaded:
        idle = task != nullptr;
        break;
    default:
        break;
    }
    for (QAction *a : {mniTasksStop, mniTasksPause, mniTasksResume, mniTasksLine1})
        a->setVisible(running);
    mniTasksPause->setEnabled(state == OVTaskState::Downloading);
    mniTasksResume->setEnabled(state == OVTaskState::DownloadPaused);
    for (QAction *a : {mniTasksStart, mniTasksDownload, mniTasksInstall, mniTasksLine2})
        a->setVisible(idle);
    mniTasksDelete->setVisible(running || idle);
    return running || idle;
}

void TOVTasksTab::OpenPopupMenu(const QPoint &ViewportPos)
{
    if (!PreparePopupMenu())
        return;
    m_pmTasks->popup(m_lvTasks->viewport()->mapToGlobal(ViewportPos));
}

void TOVTasksTab::CommandStop()
{
    if (TOVTaskItem *task = SelectedTask())
        task->Stop();
}

void TOVTasksTab::CommandPause()
{
    if (TOVTaskItem *task = SelectedTask())
        task->Pause();
}

void TOVTasksTab::CommandResume()
{
    if (TOVTaskItem *task = SelectedTask())
        task->Resume();
}

void TOVTasksTab::CommandDownloadAndInstall()
{
    if (TOVTaskItem *task = SelectedTask()) {
        task->AutoInstall = true;
        task->Start();
    }
}

void TOVTasksTab::CommandDownload()
{
    if (TOVTaskItem *task = SelectedTask())
        task->Download();
}

void TOVTasksTab::CommandInstall()
{
    TOVTaskItem *task = SelectedTask();
    if (!task)
        return;
    if (QFileInfo(task->LocalFile).isFile() && task->CurrentSize == task->TotalSize) {
        task->Install();
    } else {
        task->AutoInstall = true;
        task->Start();
    }
}

int TOVTasksTab::AskQuestion(const QString &TextKey, unsigned Type)
{
    const QString text = tasks::TabText(TextKey);
    const QString caption = tasks::TabText(QStringLiteral("String.MsgTitle.Question"));
    if (MessageBox)
        return MessageBox(this, text, caption, Type);
    return ShowMessageBox(this, text, caption, Type, tasks::TabLanguageId(), 0);
}

void TOVTasksTab::CommandDelete()
{
    const QList<QTreeWidgetItem *> selected = m_lvTasks->selectedItems();
    if (selected.isEmpty())
        return;
    const quintptr key = selected.first()->data(0, TaskRole).value<quintptr>();
    if (!TaskOfRow(selected.first()))
        return;
    if (AskQuestion(QStringLiteral("String.MsgText.DeleteTaskQuery"), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    // The question ran an event loop: the task may have gone meanwhile.
    if (QTreeWidgetItem *row = RowOf(reinterpret_cast<const TBrimTaskItem *>(key))) {
        if (TOVTaskItem *task = TaskOfRow(row))
            task->Delete();
    }
    delete RowOf(reinterpret_cast<const TBrimTaskItem *>(key));
    SaveList();
    UpdateTaskCounters();
}

void TOVTasksTab::CommandDoubleClick()
{
    TOVTaskItem *task = SelectedTask();
    if (!task)
        return;
    switch (task->State) {
    case OVTaskState::Downloading:
        task->Pause();
        break;
    case OVTaskState::DownloadPaused:
        task->Resume();
        break;
    case OVTaskState::DownloadStopped:
    case OVTaskState::Failed:
    case OVTaskState::NotDownloaded:
        task->Download();
        break;
    default:
        break;
    }
}

void TOVTasksTab::CommandClearAll()
{
    if (!m_taskMgr || m_lvTasks->topLevelItemCount() == 0)
        return;
    if (AskQuestion(QStringLiteral("String.MsgText.DeleteAllTasksQuery"),
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2)
        != IDYES)
        return;
    m_taskMgr->Clear();
    m_lvTasks->clear();
    SaveList();
    UpdateTaskCounters();
    ClearDirectory(appfiles::DownloadsDir());
}

void TOVTasksTab::CommandOpenDownloadDir()
{
    // A blank setting means the folder new tasks actually use.
    const QString dir
        = OVSettings::DownloadsDir.trimmed().isEmpty() ? appfiles::DownloadsDir() : OVSettings::DownloadsDir;
    OpenFolder(dir);
}

void TOVTasksTab::CommandSetDownloadDir()
{
    if (OnSetDownloadDir)
        OnSetDownloadDir(this);
}

void TOVTasksTab::SaveList()
{
    if (m_taskMgr)
        SaveTaskList(*m_taskMgr);
}

bool TOVTasksTab::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lvTasks && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Delete:
            CommandDelete();
            return true;
        case Qt::Key_F10:
            if (key->modifiers() != Qt::ShiftModifier)
                break;
            // The keyboard's right click: the menu opens at the selected row.
            if (QTreeWidgetItem *row = m_lvTasks->currentItem())
                OpenPopupMenu(m_lvTasks->visualItemRect(row).bottomLeft());
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // The keyboard's double-click.
            CommandDoubleClick();
            return true;
        default:
            break;
        }
    }
    if ((watched == m_lblTasksOpenDownloadDir || watched == m_lblTasksSetDownloadDir)
        && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            if (watched == m_lblTasksOpenDownloadDir)
                CommandOpenDownloadDir();
            else
                CommandSetDownloadDir();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
