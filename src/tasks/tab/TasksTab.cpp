#include "tasks/tab/TasksTab.h"

#include "core/AppFiles.h"
#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/MessageBoxTypes.h"
#include "core/OVSettings.h"
#include "platform/DesktopNotifier.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/InstallNotice.h"
#include "tasks/OVDownloadTasks.h"
#include "tasks/OVTaskItem.h"
#include "tasks/OVTaskList.h"
#include "ui/BrimAccessible.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkin.h"
#include "ui/OVWindowLook.h"

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
#include <utility>

namespace {

const char *const kIconNames[tasks::IconCount]
    = {"task_downloading", "task_paused", "task_downloading", "task_completed", "task_failed"};

QIcon taskIcon(int index)
{
    QPixmap pic = brim::skinPicture(QLatin1String(kIconNames[index]), QSize(20, 20));
    if (index == tasks::IconIdle && !pic.isNull()) {
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

} // namespace

TOVTasksTab::TOVTasksTab(TBrimTaskManager *TaskMgr, QWidget *parent)
    : QWidget(parent)
    , m_taskMgr(TaskMgr)
    , m_model(TaskMgr)
{
    setObjectName(QStringLiteral("tsTasks"));
    for (int i = 0; i < tasks::IconCount; ++i)
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
    m_lvTasks->setStyleSheet(ovlook::ListStyleSheet(24));
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
        auto *l = new TBrimRoleLabel(this, QAccessible::Link); // read as a link
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::RichText);
        // One stop per link in the Tab order: the label takes the focus and Enter or Space
        // follow its only link (see eventFilter).
        l->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        l->setFocusPolicy(Qt::StrongFocus);
        l->setStyleSheet(ovlook::LinkFocusStyleSheet());
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

    m_model.OnRowChanged = [this](tasks::TaskListModel *, const tasks::TaskRow &Row) {
        if (QTreeWidgetItem *item = m_items.value(Row.Task))
            ShowRow(item, Row);
    };
    m_model.OnCountersChanged = [this](tasks::TaskListModel *) { UpdateTaskCounters(); };
    // Installers run for minutes while the window may be hidden or on another
    // tab: the desktop tells the user when one is done.
    m_model.OnInstallFinished = [](tasks::TaskListModel *, const tasks::TaskRow &Row, bool Succeeded) {
        platform::desktopNotifier().notify(
            tasks::InstallNotice(Row.Task->Name, Succeeded, Row.Task->InstallError));
    };
    // The user expects an install that did not come: say why, and where to give the word.
    m_model.OnInstallHeld = [](tasks::TaskListModel *, const tasks::TaskRow &Row) {
        platform::desktopNotifier().notify(tasks::HeldInstallNotice(Row.Task->Name, Row.Task->PlainHttpHost));
    };
    MultiLangsLanguageChanged();
}

TOVTasksTab::~TOVTasksTab()
{
    m_model.OnRowChanged = nullptr;
    m_model.OnCountersChanged = nullptr;
    m_model.OnInstallFinished = nullptr;
    m_model.OnInstallHeld = nullptr;
}

TOVTaskItem *TOVTasksTab::TaskOfRow(const QTreeWidgetItem *Row) const
{
    if (!Row)
        return nullptr;
    return m_model.LiveTask(
        reinterpret_cast<const TBrimTaskItem *>(Row->data(0, TaskRole).value<quintptr>()));
}

TOVTaskItem *TOVTasksTab::SelectedTask() const
{
    const QList<QTreeWidgetItem *> selected = m_lvTasks->selectedItems();
    return selected.isEmpty() ? nullptr : TaskOfRow(selected.first());
}

QTreeWidgetItem *TOVTasksTab::RowOf(const TBrimTaskItem *Item) const
{
    return m_items.value(Item);
}

QTreeWidgetItem *TOVTasksTab::NewRow(const tasks::TaskRow &Row)
{
    auto *item = new QTreeWidgetItem;
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setText(0, Row.Name);
    item->setToolTip(0, Row.Name);
    item->setText(3, Row.LocalFile);
    item->setToolTip(3, Row.LocalFile);
    item->setData(0, TaskRole,
                  QVariant::fromValue(reinterpret_cast<quintptr>(static_cast<TBrimTaskItem *>(Row.Task))));
    m_items.insert(Row.Task, item);
    ShowRow(item, Row);
    return item;
}

void TOVTasksTab::ShowRow(QTreeWidgetItem *Item, const tasks::TaskRow &Row)
{
    // Progress arrives per block: only what differs is handed to the view.
    const QVariant icon = Item->data(0, IconIndexRole);
    if (!icon.isValid() || icon.toInt() != Row.Icon) {
        Item->setData(0, IconIndexRole, Row.Icon);
        Item->setIcon(0, m_ilTasks.value(Row.Icon));
    }
    const QString state = m_model.StateText(Row);
    if (Item->text(1) != state)
        Item->setText(1, state);
    // A failed install says why where the user looks: a digest that did not
    // match names both digests and where the file was kept.
    const QString reason
        = Row.Task && Row.Task->State == OVTaskState::Failed && !Row.Task->InstallError.isEmpty()
        ? Row.Task->InstallError
        : state;
    if (Item->toolTip(1) != reason)
        Item->setToolTip(1, reason);
    if (Item->text(2) != Row.SizeText)
        Item->setText(2, Row.SizeText);
}

void TOVTasksTab::RemoveRow(const TBrimTaskItem *Task)
{
    m_model.Remove(Task);
    delete m_items.take(Task);
}

TOVTaskItem *TOVTasksTab::AddDownloadTask(const QString &Title, const QString &Url, const QString &Sha256)
{
    if (!m_taskMgr)
        return nullptr;
    TOVTaskItem *task = ::AddDownloadTask(*m_taskMgr, Title, Url, Sha256);
    if (!task || m_taskMgr->IndexOf(task) < 0)
        return nullptr;
    if (const tasks::TaskRow *row = m_model.InsertNew(task))
        m_lvTasks->insertTopLevelItem(0, NewRow(*row));
    SaveList();
    if (OnNewTask)
        OnNewTask(this);
    return m_taskMgr->IndexOf(task) >= 0 ? task : nullptr;
}

void TOVTasksTab::FillFromTaskList()
{
    if (!m_taskMgr)
        return;
    // One refresh of the figures for the whole list, not one per row.
    const auto onCountersChanged = std::exchange(m_model.OnCountersChanged, nullptr);
    QList<QTreeWidgetItem *> items;
    for (int i = 0; i < m_taskMgr->Count(); ++i) {
        if (const tasks::TaskRow *row
            = m_model.AppendLoaded(dynamic_cast<TOVTaskItem *>(m_taskMgr->Items(i))))
            items.append(NewRow(*row));
    }
    m_lvTasks->addTopLevelItems(items);
    m_model.OnCountersChanged = onCountersChanged;
    UpdateTaskCounters();
}

void TOVTasksTab::UpdateTaskCounters()
{
    m_shortcutText = m_model.ShortcutText();
    const QString title = m_model.TitleText();
    m_lblTasksTitle->setText(title);
    m_lvTasks->setAccessibleDescription(title);
    if (OnCountersChanged)
        OnCountersChanged(this, m_shortcutText);
}

void TOVTasksTab::MultiLangsLanguageChanged()
{
    m_lvTasks->setToolTip(OVGetText(QStringLiteral("FormOVMain.lvTasks.Hint")));
    QStringList columns;
    for (int i = 0; i < 4; ++i)
        columns << OVGetText(QStringLiteral("FormOVMain.lvTasks.Columns.Items[%1].Caption").arg(i));
    m_lvTasks->setHeaderLabels(columns);
    m_lvTasks->setAccessibleName(OVGetText(QStringLiteral("FormOVMain.btnTabTasks.Caption")));
    for (QAction *a : {mniTasksStop, mniTasksPause, mniTasksResume, mniTasksStart, mniTasksDownload,
                       mniTasksInstall, mniTasksDelete})
        a->setText(OVGetText(QStringLiteral("FormOVMain.%1.Caption").arg(a->objectName())));
    for (QLabel *l : {m_lblTasksOpenDownloadDir, m_lblTasksSetDownloadDir}) {
        const QString text = OVGetText(QStringLiteral("FormOVMain.%1.Caption").arg(l->objectName()));
        l->setText(ovlook::LinkHtml(text));
        l->setAccessibleName(text);
    }
    const QString clear = OVGetText(QStringLiteral("FormOVMain.btnTasksClear.Caption"));
    m_btnTasksClear->SetCaption(clear);
    m_btnTasksClear->setAccessibleName(clear);
    for (const tasks::TaskRow &row : m_model.Rows())
        if (QTreeWidgetItem *item = m_items.value(row.Task))
            ShowRow(item, row);
    UpdateTaskCounters();
}

bool TOVTasksTab::PreparePopupMenu()
{
    const TOVTaskItem *task = SelectedTask();
    const tasks::TaskMenu menu = task ? tasks::MenuForState(task->State) : tasks::TaskMenu {};
    const std::pair<QAction *, bool> items[] = {
        {mniTasksStop, menu.Stop},       {mniTasksPause, menu.Pause}, {mniTasksResume, menu.Resume},
        {mniTasksLine1, menu.Line1},     {mniTasksStart, menu.Start}, {mniTasksDownload, menu.Download},
        {mniTasksInstall, menu.Install}, {mniTasksLine2, menu.Line2}, {mniTasksDelete, menu.Delete},
    };
    for (const auto &[action, visible] : items)
        action->setVisible(visible);
    mniTasksPause->setEnabled(menu.PauseEnabled);
    mniTasksResume->setEnabled(menu.ResumeEnabled);
    return menu.AnyVisible();
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
        if (ConsentToInstall(task))
            task->Install();
    } else {
        task->AutoInstall = true;
        task->Start();
    }
}

int TOVTasksTab::AskQuestion(const QString &TextKey, unsigned Type)
{
    const QString text = OVGetText(TextKey);
    const QString caption = OVGetText(QStringLiteral("String.MsgTitle.Question"));
    if (MessageBox)
        return MessageBox(this, text, caption, Type);
    return ShowMessageBox(this, text, caption, Type, OVLanguageId(), 0);
}

bool TOVTasksTab::ConsentToInstall(TOVTaskItem *Task)
{
    if (!Task->NeedsConsent())
        return true;
    const QString text = OVFormatText(QStringLiteral("String.MsgText.UnverifiedInstallQuery"),
                                      {Task->Name, Task->PlainHttpHost});
    const QString caption = OVGetText(QStringLiteral("String.MsgTitle.Warning"));
    const unsigned type = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
    const TBrimTaskItem *key = Task;
    const int answer = MessageBox ? MessageBox(this, text, caption, type)
                                  : ShowMessageBox(this, text, caption, type, OVLanguageId(), 0);
    // The question ran an event loop: the task may have gone meanwhile.
    if (answer != IDYES || m_model.LiveTask(key) != Task)
        return false;
    Task->AcceptUnverified();
    return true;
}

void TOVTasksTab::CommandDelete()
{
    const QList<QTreeWidgetItem *> selected = m_lvTasks->selectedItems();
    if (selected.isEmpty())
        return;
    const auto *key
        = reinterpret_cast<const TBrimTaskItem *>(selected.first()->data(0, TaskRole).value<quintptr>());
    if (!m_model.LiveTask(key))
        return;
    if (AskQuestion(QStringLiteral("String.MsgText.DeleteTaskQuery"), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    // The question ran an event loop: the task may have gone meanwhile.
    if (TOVTaskItem *task = m_model.LiveTask(key))
        task->Delete();
    RemoveRow(key);
    SaveList();
}

void TOVTasksTab::CommandDoubleClick()
{
    TOVTaskItem *task = SelectedTask();
    if (!task)
        return;
    switch (tasks::DoubleClickForState(task->State)) {
    case tasks::TaskDoubleClick::Pause:
        task->Pause();
        break;
    case tasks::TaskDoubleClick::Resume:
        task->Resume();
        break;
    case tasks::TaskDoubleClick::Download:
        task->Download();
        break;
    case tasks::TaskDoubleClick::None:
        break;
    }
}

void TOVTasksTab::CommandClearAll()
{
    if (!m_taskMgr || m_model.RowCount() == 0)
        return;
    if (AskQuestion(QStringLiteral("String.MsgText.DeleteAllTasksQuery"),
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2)
        != IDYES)
        return;
    m_taskMgr->Clear();
    m_model.Clear();
    m_items.clear();
    m_lvTasks->clear();
    SaveList();
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
