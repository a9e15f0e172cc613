#include "installed/tab/UninstallTab.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/MessageBoxTypes.h"
#include "core/OVJournal.h"
#include "installed/ApplicationIndex.h"
#include "installed/UninstManager.h"
#include "installed/tab/FormOVLeftovers.h"
#include "ui/BrimAccessible.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimLVRichSelItem.h"
#include "ui/BrimSkin.h"
#include "ui/OVWindowLook.h"

#include <QCheckBox>
#include <QDate>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <utility>

namespace {

QString text(const QString &key)
{
    return OVGetText(key);
}

QString text(const char *key)
{
    return OVGetText(QLatin1String(key));
}

QString format(const char *key, const QVariantList &args)
{
    return OVFormatText(QLatin1String(key), args);
}

// A row of the list: sorts by the tab's rule instead of Qt's own text order.
class UninstRow : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        return CompareTextOrder(text(column), other.text(column), true) < 0;
    }
};

TUninstItem *entryOf(const QTreeWidgetItem *row)
{
    if (!row || TBrimLVRichSelItem::IsBlankItem(row))
        return nullptr;
    return reinterpret_cast<TUninstItem *>(row->data(0, TBrimLVRichSelItem::ItemDataRole).value<quintptr>());
}

bool isActivationKey(QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

const char *const kDetailNames[] = {"Name", "Publisher", "Version", "Date", "Location", "Link"};

// A Flatpak application may be installed from several remotes, branches and
// installations: its version says which one this is.
QString versionDetail(const TUninstItem &e)
{
    if (e.Source != installed::EntrySource::Flatpak)
        return e.Version;
    QString where;
    if (e.Installation == u"user")
        where = text("String.FlatpakUserInstallation");
    else if (e.Installation.isEmpty() || e.Installation == u"default")
        where = text("String.FlatpakSystemInstallation");
    else
        where = format("String.FlatpakNamedInstallation", {e.Installation});
    return format("String.FlatpakDetails", {e.Version, e.Branch, e.Origin, where}).trimmed();
}

} // namespace

struct TOVUninstallTab::PanelControls
{
    QLabel *panel = nullptr;
    TBrimImage *icon = nullptr;
    QLabel *title = nullptr;
    QLabel *desc = nullptr;
    TBrimImageButton *button = nullptr;
    int tag = 0;
    QString fullDescription;
};

TOVUninstallTab::TOVUninstallTab(TUninstManager *UninstMgr, QWidget *parent)
    : QWidget(parent)
    , m_mgr(UninstMgr)
{
    setObjectName(QStringLiteral("tsUninst"));
    setMinimumSize(770, 440);

    m_lblUninstStatus = new QLabel(this);
    m_lblUninstStatus->setObjectName(QStringLiteral("lblUninstStatus"));
    QFont bold = font();
    bold.setBold(true);
    m_lblUninstStatus->setFont(bold);

    m_edtUninstSearch = new QLineEdit(this);
    m_edtUninstSearch->setObjectName(QStringLiteral("edtUninstSearch"));
    m_edtUninstSearch->installEventFilter(this);
    connect(m_edtUninstSearch, &QLineEdit::textChanged, this, &TOVUninstallTab::SearchTextChanged);

    auto button = [this, &bold](const char *name, int w, int h) {
        auto *b = new TBrimImageButton(this);
        b->setObjectName(QLatin1String(name));
        b->SetTransparent(true);
        brim::setButtonPictures(b, QStringLiteral("btn_action"));
        b->SetStretch(true);
        const TBrimColorFont white {bold, QColor(Qt::white)};
        b->SetFont(white);
        b->SetEnableStatesFont(true);
        b->SetFontMouseHover(white);
        b->SetFontMouseDown(white);
        b->setFixedSize(w, h);
        return b;
    };
    m_btnUninstSearch = button("btnUninstSearch", 64, 23);
    m_btnUninstSearch->OnClick = [this](QObject *) { CommandSearch(); };

    m_lvUninst = new QTreeWidget(this);
    m_lvUninst->setObjectName(QStringLiteral("lvUninst"));
    m_lvUninst->setColumnCount(2);
    m_lvUninst->setRootIsDecorated(false);
    m_lvUninst->setItemsExpandable(false);
    m_lvUninst->setUniformRowHeights(true);
    m_lvUninst->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lvUninst->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvUninst->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lvUninst->setAllColumnsShowFocus(true);
    m_lvUninst->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lvUninst->setIconSize(QSize(16, 16));
    m_lvUninst->header()->setStretchLastSection(false);
    m_lvUninst->header()->setSectionsClickable(true);
    m_lvUninst->header()->setSortIndicatorShown(false);
    m_lvUninst->header()->resizeSection(0, 430);
    m_lvUninst->header()->resizeSection(1, 300);
    m_lvUninst->setStyleSheet(
        QStringLiteral("QTreeWidget { border: 1px solid #dbe2ea; background: white; }"
                       "QTreeWidget::item:selected { background: #dbe8fb; color: black; }"));
    connect(m_lvUninst, &QTreeWidget::itemSelectionChanged, this, &TOVUninstallTab::SelectionChanged);
    connect(m_lvUninst->header(), &QHeaderView::sectionClicked, this, &TOVUninstallTab::ColumnClick);

    // The selected row's panel: icon, title, publisher and the Uninstall button.
    // A sibling of the list laid over it, not a child of the list: clicks the
    // panel's labels do not take must not reach the rows underneath.
    m_pnlUninstSelItem = new TBrimRoleLabel(this); // one group for a screen reader, named by the entry
    m_pnlUninstSelItem->setObjectName(QStringLiteral("pnlUninstSelItem"));
    m_pnlUninstSelItem->setAutoFillBackground(true);
    QPalette selPalette = m_pnlUninstSelItem->palette();
    selPalette.setColor(QPalette::Window, QColor(0xdb, 0xe8, 0xfb));
    m_pnlUninstSelItem->setPalette(selPalette);
    m_pnlUninstSelItem->hide();
    m_imgUninstSelItemIcon = new TBrimImage(m_pnlUninstSelItem);
    m_imgUninstSelItemIcon->setObjectName(QStringLiteral("imgUninstSelItemIcon"));
    m_imgUninstSelItemIcon->SetStretch(true);
    m_imgUninstSelItemIcon->setGeometry(8, 8, 32, 32);
    m_imgUninstSelItemIcon->setCursor(Qt::PointingHandCursor);
    m_imgUninstSelItemIcon->OnClick = [this](QObject *) { ToggleDetails(); };
    m_lblUninstSelItemTitle = new QLabel(m_pnlUninstSelItem);
    m_lblUninstSelItemTitle->setObjectName(QStringLiteral("lblUninstSelItemTitle"));
    m_lblUninstSelItemTitle->setFont(bold);
    m_lblUninstSelItemPublisher = new QLabel(m_pnlUninstSelItem);
    m_lblUninstSelItemPublisher->setObjectName(QStringLiteral("lblUninstSelItemPublisher"));
    m_btnUninstSelItemUninstall = new TBrimImageButton(m_pnlUninstSelItem);
    m_btnUninstSelItemUninstall->setObjectName(QStringLiteral("btnUninstSelItemUninstall"));
    m_btnUninstSelItemUninstall->SetTransparent(true);
    brim::setButtonPictures(m_btnUninstSelItemUninstall, QStringLiteral("btn_action"));
    m_btnUninstSelItemUninstall->SetStretch(true);
    m_btnUninstSelItemUninstall->SetFont({bold, QColor(Qt::white)});
    m_btnUninstSelItemUninstall->setFixedSize(80, 24);
    m_btnUninstSelItemUninstall->OnClick = [this](QObject *) { CommandUninstall(); };
    m_lblUninstSelItemNote = new QLabel(m_pnlUninstSelItem);
    m_lblUninstSelItemNote->setObjectName(QStringLiteral("lblUninstSelItemNote"));
    m_lblUninstSelItemNote->setTextFormat(Qt::PlainText);
    {
        QPalette grey = m_lblUninstSelItemNote->palette();
        grey.setColor(QPalette::WindowText, QColor(0x60, 0x60, 0x60));
        m_lblUninstSelItemNote->setPalette(grey);
    }
    m_lblUninstSelItemNote->hide();
    m_pnlUninstSelItem->installEventFilter(this);

    // The details panel below the list.
    m_pnlUninstDetails = new QWidget(this);
    m_pnlUninstDetails->setObjectName(QStringLiteral("pnlUninstDetails"));
    for (int i = 0; i < 6; ++i) {
        auto *caption = new QLabel(m_pnlUninstDetails);
        caption->setObjectName(QStringLiteral("lblUninstDetails_%1").arg(QLatin1String(kDetailNames[i])));
        auto *value = new QLabel(m_pnlUninstDetails);
        value->setObjectName(QStringLiteral("lblUninstDetails_%1V").arg(QLatin1String(kDetailNames[i])));
        value->setTextFormat(Qt::PlainText);
        m_detailCaptions << caption;
        m_detailValues << value;
    }
    for (int i : {4, 5}) {
        QLabel *l = m_detailValues.at(i);
        l->setCursor(Qt::PointingHandCursor);
        l->setFocusPolicy(Qt::TabFocus); // opened with Enter or Space as with a click
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(0x2f, 0x6f, 0xde));
        l->setPalette(p);
        l->installEventFilter(this);
    }
    m_imgUninstDetailsIcon = new TBrimImage(m_pnlUninstDetails);
    m_imgUninstDetailsIcon->setObjectName(QStringLiteral("imgUninstDetails_Icon"));
    m_imgUninstDetailsIcon->SetStretch(true);
    m_imgUninstDetailsIcon->resize(32, 32);

    auto link = [this](const char *name) {
        auto *l = new TBrimRoleLabel(this, QAccessible::Link); // read as a link
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::RichText);
        l->setCursor(Qt::PointingHandCursor);
        // Reached with Tab and followed with Enter, as the mouse follows it.
        l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        return l;
    };
    m_lblUninstShowDetails = link("lblUninstShowDetails");
    connect(m_lblUninstShowDetails, &QLabel::linkActivated, this, [this] { ToggleDetails(); });
    m_lblUninstRefreshList = link("lblUninstRefreshList");
    connect(m_lblUninstRefreshList, &QLabel::linkActivated, this, [this] { ListFill(); });
    m_lblUninstShowPatches = link("lblUninstShowPatches");
    m_lblUninstShowPatches->hide();
    m_chkUninstShowSystem = new QCheckBox(this);
    m_chkUninstShowSystem->setObjectName(QStringLiteral("chkUninstShowSystem"));
    if (m_mgr)
        m_chkUninstShowSystem->setChecked(m_mgr->ShowSystemComponents());
    connect(m_chkUninstShowSystem, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_mgr)
            return;
        m_mgr->SetShowSystemComponents(on);
        // Before the first show the list is filled then anyway.
        if (m_firstShown)
            ListFill();
    });

    BuildTop3();

    if (m_mgr) {
        m_mgr->OnUninstCompleted = [this](TUninstManager *, const QString &name) {
            ListFill();
            installed::OfferLeftovers(window(), *m_mgr, name);
        };
        m_mgr->OnEntryRemoved = [this](TUninstManager *) { ListFill(); };
        m_mgr->OnUninstFailed = [this](TUninstManager *, const QString &name, const QString &reason) {
            MessageBox(window(), format("String.MsgText.UninstallFailed", {name, reason}),
                       text("String.MsgTitle.Failure"), MB_ICONERROR);
        };
    }
    MessageBox = [](QWidget *owner, const QString &t, const QString &caption, unsigned type) {
        return ShowMessageBox(owner, t, caption, type, OVLanguageId(), 0);
    };
    ApplyLayout();
    ApplyTexts();
}

TOVUninstallTab::~TOVUninstallTab()
{
    // No answer reaches the tab from here on, and the awaited request stops.
    m_top3Workers.cancel();
    m_top3.Cancel();
    if (m_mgr) {
        m_mgr->OnUninstCompleted = nullptr;
        m_mgr->OnEntryRemoved = nullptr;
        m_mgr->OnUninstFailed = nullptr;
    }
}

void TOVUninstallTab::BuildTop3()
{
    const int x = 426;
    m_lblTop3Title = new QLabel(this);
    m_lblTop3Title->setObjectName(QStringLiteral("lblTop3Title"));
    QFont bold = font();
    bold.setBold(true);
    m_lblTop3Title->setFont(bold);
    m_lblTop3Title->setGeometry(x, 2, 240, 16);
    m_lblTop3PayWares = new QLabel(this);
    m_lblTop3PayWares->setObjectName(QStringLiteral("lblTop3PayWares"));
    m_lblTop3PayWares->setGeometry(x, 20, 240, 16);
    m_lblTop3FreeWares = new QLabel(this);
    m_lblTop3FreeWares->setObjectName(QStringLiteral("lblTop3FreeWares"));
    m_lblTop3FreeWares->setGeometry(x, 217, 240, 16);
    auto hiddenLink = [this](const char *name, int y) {
        auto *l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(426 + 250, y, 86, 16);
        l->setCursor(Qt::PointingHandCursor);
        l->installEventFilter(this);
        l->hide();
        return l;
    };
    m_lblTop3PayWareMore = hiddenLink("lblTop3PayWareMore", 20);
    m_lblTop3FreeWareMore = hiddenLink("lblTop3FreeWareMore", 217);
    m_lblTop3Submit = hiddenLink("lblTop3Submit", 2);
    m_chkTop3Disabled = new QCheckBox(this);
    m_chkTop3Disabled->setObjectName(QStringLiteral("chkTop3Disabled"));
    m_chkTop3Disabled->setGeometry(x, 414, 336, 20);
    connect(m_chkTop3Disabled, &QCheckBox::clicked, this, [this] { Top3DisabledClick(); });

    const int payY[3] = {38, 97, 156};
    const int freeY[3] = {235, 294, 353};
    for (bool pay : {true, false})
        for (int i = 0; i < 3; ++i) {
            const QString kind = pay ? QStringLiteral("PayWare") : QStringLiteral("FreeWare");
            auto p = std::make_unique<PanelControls>();
            p->panel = new TBrimRoleLabel(this); // one group, named by the recommendation
            p->panel->setObjectName(QStringLiteral("pnlTop3%1_%2").arg(kind).arg(i));
            p->panel->setGeometry(x, pay ? payY[i] : freeY[i], 336, 53);
            p->panel->setFrameShape(QFrame::Box);
            p->panel->setAlignment(Qt::AlignCenter);
            p->panel->setAutoFillBackground(true);
            QPalette white = p->panel->palette();
            white.setColor(QPalette::Window, Qt::white);
            white.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
            p->panel->setPalette(white);
            p->icon = new TBrimImage(p->panel);
            p->icon->setObjectName(QStringLiteral("imgTop3%1Icon_%2").arg(kind).arg(i));
            p->icon->setGeometry(10, 10, 32, 32);
            p->icon->SetStretch(true);
            p->icon->setCursor(Qt::PointingHandCursor);
            // The way to a recommendation's page: reached with Tab as well.
            p->icon->setFocusPolicy(Qt::TabFocus);
            brim::SetAccessibleRole(p->icon, QAccessible::Button);
            p->icon->OnClick = [this, pay, i](QObject *) { Top3IconClick(pay, i); };
            p->title = new QLabel(p->panel);
            p->title->setObjectName(QStringLiteral("lblTop3%1Title_%2").arg(kind).arg(i));
            p->title->setGeometry(48, 9, 200, 14);
            p->title->setFont(bold);
            p->title->setPalette(QPalette());
            p->desc = new QLabel(p->panel);
            p->desc->setObjectName(QStringLiteral("lblTop3%1Desc_%2").arg(kind).arg(i));
            p->desc->setGeometry(48, 29, 200, 13);
            p->desc->setPalette(QPalette());
            p->button = new TBrimImageButton(p->panel);
            p->button->setObjectName(QStringLiteral("btnTop3%1Download_%2").arg(kind).arg(i));
            p->button->SetTransparent(true);
            brim::setButtonPictures(p->button, QStringLiteral("btn_action"));
            p->button->SetStretch(true);
            p->button->SetFont({bold, QColor(Qt::white)});
            p->button->setGeometry(254, 14, 70, 23);
            p->button->OnClick = [this, pay, i](QObject *) { Top3ButtonClick(pay, i); };
            for (QWidget *w : {static_cast<QWidget *>(p->icon), static_cast<QWidget *>(p->title),
                               static_cast<QWidget *>(p->desc), static_cast<QWidget *>(p->button)})
                w->hide();
            (pay ? m_payPanels : m_freePanels)[size_t(i)] = std::move(p);
        }
    // The switch under the panels comes after their buttons.
    setTabOrder(m_freePanels[2]->button, m_chkTop3Disabled);
}

void TOVUninstallTab::ApplyLayout()
{
    const int listWidth = 406;
    const int bottom = height() > 0 ? height() : 440;
    m_lblUninstStatus->setGeometry(10, 6, 180, 18);
    m_edtUninstSearch->setGeometry(192, 4, 156, 23);
    m_btnUninstSearch->move(352, 4);
    const int detailsHeight = 112;
    const int linksY = bottom - 22;
    const int detailsTop = linksY - 4 - detailsHeight;
    m_pnlUninstDetails->setGeometry(10, detailsTop, listWidth, detailsHeight);
    for (int i = 0; i < 6; ++i) {
        QLabel *caption = m_detailCaptions.at(i);
        caption->adjustSize();
        caption->move(4, 4 + i * 18);
        // Each value sits 6 pixels right of the end of its caption.
        m_detailValues.at(i)->setGeometry(caption->x() + caption->width() + 6, caption->y(),
                                          listWidth - 48 - (caption->width() + 10), 16);
        if (m_detailValues.at(i)->property("wholeText").isValid())
            ShowDetailValue(i, DetailText(i));
    }
    m_imgUninstDetailsIcon->move(m_pnlUninstDetails->width() - 6 - 32, 6);
    const int listTop = 32;
    const int listBottom = m_detailsHidden ? detailsTop + detailsHeight : detailsTop - 6;
    m_lvUninst->setGeometry(10, listTop, listWidth, listBottom - listTop);
    m_lblUninstShowDetails->setGeometry(10, linksY, 150, 18);
    m_chkUninstShowSystem->adjustSize();
    m_chkUninstShowSystem->setGeometry(140, linksY, qMin(m_chkUninstShowSystem->width(), listWidth - 230),
                                       18);
    m_lblUninstRefreshList->setGeometry(listWidth - 80, linksY, 90, 18);
    m_lblUninstRefreshList->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void TOVUninstallTab::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    ApplyLayout();
    if (m_selItem)
        m_selItem->ExpandItem();
    UpdateSelItemPanel();
    UpdateDetails();
}

void TOVUninstallTab::FirstActivate()
{
    if (m_firstShown)
        return;
    m_firstShown = true;
    m_selItem = new TBrimLVRichSelItem(this);
    m_selItem->AttachListView(m_lvUninst);
    m_selItem->AttachPanel(m_pnlUninstSelItem);
    m_selItem->SetRowSpan(3);
    ListFill();
}

QIcon TOVUninstallTab::EntryIcon(int Index) const
{
    return m_icons.value(Index, m_icons.value(0));
}

QTreeWidgetItem *TOVUninstallTab::AddRow(TUninstItem *Item)
{
    auto *row = new UninstRow(m_lvUninst);
    row->setText(0, DisplayText(Item));
    row->setText(1, Item->Publisher);
    row->setIcon(0, EntryIcon(Item->SmallIconIndex));
    row->setData(0, TBrimLVRichSelItem::ItemDataRole, QVariant::fromValue(quintptr(Item)));
    return row;
}

void TOVUninstallTab::ListFill()
{
    m_lvUninst->setUpdatesEnabled(false);
    m_lvUninst->clear();
    int count = 0;
    if (m_mgr) {
        m_mgr->Rescan();
        m_icons.clear();
        const QIcon fallback = QIcon::fromTheme(QStringLiteral("application-x-executable"),
                                                style()->standardIcon(QStyle::SP_FileIcon));
        for (const QString &file : m_mgr->IconFiles()) {
            // A picture that does not load shows the default icon.
            const QIcon icon = file.isEmpty() ? QIcon() : QIcon(file);
            m_icons << (icon.isNull() || icon.pixmap(16, 16).isNull() ? fallback : icon);
        }
        for (TUninstItem *e : installed::ListedEntries(*m_mgr)) {
            AddRow(e);
            ++count;
        }
    }
    m_count = count;
    UpdateCount();
    m_lvUninst->setUpdatesEnabled(true);
    // The rebuilt list has no selection: nothing may still show an entry that
    // is gone (an uninstalled program, say).
    ClearDetails();
    RefreshTop3();
}

void TOVUninstallTab::ClearDetails()
{
    m_imgUninstDetailsIcon->SetPicture(QPixmap());
    for (int i = 0; i < m_detailValues.size(); ++i)
        ShowDetailValue(i, QString());
    m_detailValues[4]->setVisible(false);
    m_detailValues[5]->setVisible(false);
}

void TOVUninstallTab::UpdateCount()
{
    m_lblUninstStatus->setText(
        format("FormOVMain.lblUninstStatus.Caption", {text("String.Programs"), m_count}));
}

QString TOVUninstallTab::DisplayText(const TUninstItem *Item)
{
    if (!Item || Item->DisplayName.trimmed().isEmpty())
        return text("String.UnknownName");
    return Item->DisplayName;
}

TUninstItem *TOVUninstallTab::SelectedEntry() const
{
    const QList<QTreeWidgetItem *> rows = m_lvUninst->selectedItems();
    return rows.isEmpty() ? nullptr : entryOf(rows.first());
}

void TOVUninstallTab::SelectionChanged()
{
    if (!SelectedEntry())
        return;
    UpdateSelItemPanel();
    UpdateDetails();
    RefreshTop3();
}

void TOVUninstallTab::UpdateSelItemPanel()
{
    TUninstItem *e = SelectedEntry();
    if (!e)
        return;
    m_imgUninstSelItemIcon->SetPicture(EntryIcon(e->LargeIconIndex).pixmap(32, 32));
    m_lblUninstSelItemTitle->setText(DisplayText(e));
    m_lblUninstSelItemTitle->setToolTip(DisplayText(e));
    m_lblUninstSelItemPublisher->setText(e->Publisher);
    m_lblUninstSelItemPublisher->setToolTip(e->Publisher);
    const int w = m_pnlUninstSelItem->width();
    // The whole icon lies within the panel (three rows may be less than its 32 pixels and margins).
    const int h = m_pnlUninstSelItem->height();
    const int side = qBound(16, h - 8, 32);
    m_imgUninstSelItemIcon->setGeometry(8, qMax(0, (h - side) / 2), side, side);
    m_btnUninstSelItemUninstall->move(w - 10 - m_btnUninstSelItemUninstall->width(), 6);
    // A package the system needs offers no Uninstall button; a line below the publisher says why.
    const QString note = e->NoUninstallReason.isEmpty() ? QString() : text(e->NoUninstallReason);
    m_btnUninstSelItemUninstall->setVisible(note.isEmpty());
    m_lblUninstSelItemNote->setVisible(!note.isEmpty());
    const int textWidth = qMax(40, (note.isEmpty() ? m_btnUninstSelItemUninstall->x() : w - 8) - 56);
    // With a note the three lines move closer together to fit the panel's three rows.
    const int top = note.isEmpty() ? 6 : 2;
    const int step = note.isEmpty() ? 20 : 17;
    m_lblUninstSelItemTitle->setGeometry(48, top, textWidth, 18);
    // A long name ends in "..." before the button rather than being cut mid-letter.
    m_lblUninstSelItemTitle->setText(
        m_lblUninstSelItemTitle->fontMetrics().elidedText(DisplayText(e), Qt::ElideRight, textWidth));
    m_lblUninstSelItemPublisher->setGeometry(48, top + step, textWidth, 16);
    if (!note.isEmpty()) {
        m_lblUninstSelItemNote->setGeometry(48, qMin(top + 2 * step, h - 16), textWidth, 16);
        m_lblUninstSelItemNote->setText(
            m_lblUninstSelItemNote->fontMetrics().elidedText(note, Qt::ElideRight, textWidth));
        m_lblUninstSelItemNote->setToolTip(note);
    }
}

QLabel *TOVUninstallTab::DetailValue(const char *Name) const
{
    return m_pnlUninstDetails->findChild<QLabel *>(
        QStringLiteral("lblUninstDetails_%1").arg(QLatin1String(Name)));
}

void TOVUninstallTab::UpdateDetails()
{
    if (m_detailsHidden)
        return;
    TUninstItem *e = SelectedEntry();
    if (!e)
        return;
    m_imgUninstDetailsIcon->SetPicture(EntryIcon(e->LargeIconIndex).pixmap(32, 32));
    ShowDetailValue(0, DisplayText(e));
    ShowDetailValue(1, e->Publisher);
    ShowDetailValue(2, versionDetail(*e));
    ShowDetailValue(
        3,
        e->InstallDate == 0
            ? QString()
            : QLocale().toString(QDate(1899, 12, 30).addDays(qint64(e->InstallDate)), QLocale::ShortFormat));
    ShowDetailValue(4, e->InstallLocation);
    m_detailValues[4]->setVisible(!e->InstallLocation.trimmed().isEmpty());
    QString linkText;
    for (const QString *l : {&e->AboutLink, &e->HelpLink, &e->UpdateLink})
        if (!l->trimmed().isEmpty()) {
            linkText = *l;
            break;
        }
    ShowDetailValue(5, linkText);
    m_detailValues[5]->setVisible(!linkText.isEmpty());
}

void TOVUninstallTab::ShowDetailValue(int Index, const QString &Text)
{
    QLabel *value = m_detailValues.at(Index);
    value->setProperty("wholeText", Text);
    // Paths and links keep their ends, where they differ most.
    const Qt::TextElideMode mode = Index >= 4 ? Qt::ElideMiddle : Qt::ElideRight;
    const QString shown = value->fontMetrics().elidedText(Text, mode, value->width());
    value->setText(shown);
    // The location and link labels carry their own hints.
    if (Index < 4)
        value->setToolTip(shown == Text ? QString() : Text);
}

QString TOVUninstallTab::DetailText(int Index) const
{
    return m_detailValues.at(Index)->property("wholeText").toString();
}

void TOVUninstallTab::ToggleDetails()
{
    m_detailsHidden = !m_detailsHidden;
    m_pnlUninstDetails->setVisible(!m_detailsHidden);
    ApplyLayout();
    if (m_detailsHidden) {
        m_lblUninstShowDetails->setText(ovlook::LinkHtml(text("String.ShowSoftwareDetails")));
    } else {
        UpdateDetails();
        m_lblUninstShowDetails->setText(ovlook::LinkHtml(text("String.HideSoftwareDetails")));
    }
    if (m_selItem)
        m_selItem->ExpandItem();
}

void TOVUninstallTab::OpenLocation()
{
    if (!OpenFolder(DetailText(4), QString()))
        MessageBox(window(), text("String.MsgText.OpenDiretoryFailed"), text("String.MsgTitle.Failure"),
                   MB_ICONERROR);
}

void TOVUninstallTab::OpenLink()
{
    if (!ShellOpen(DetailText(5)))
        MessageBox(window(), text("String.MsgText.OpenUrlFailed"), text("String.MsgTitle.Failure"),
                   MB_ICONERROR);
}

int TOVUninstallTab::AskQuestion(const char *TextKey)
{
    return MessageBox(window(), text(TextKey), text("String.MsgTitle.Question"),
                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
}

void TOVUninstallTab::CommandUninstall()
{
    TUninstItem *e = SelectedEntry();
    if (!e)
        return;
    if (e->Source == installed::EntrySource::Package) {
        // Packages go only through the package manager's checked removal of
        // exactly what the user saw, never by running their command text.
        if (e->NoUninstallReason.isEmpty())
            StartPackageRemoval(*e);
    } else if (e->HasUninstallCommand()) {
        const QString key = installed::EntryKey(*e);
        QList<quint32> running;
        if (AskUninstall(*e, &running)) {
            // The answer may have come after a rebuild of the list: use the entry only if it is still
            // selected, also after its programs were ended.
            if (TUninstItem *still = SelectedEntry(); still == e && EndRunningPrograms(running)) {
                if (TUninstItem *now = SelectedEntry(); now && installed::EntryKey(*now) == key) {
                    installed::RememberBeforeUninstall(*now);
                    now->StartUninstall();
                }
            }
        }
    } else if (AskQuestion("String.MsgText.RemoveFromListQuery") == IDYES) {
        if (TUninstItem *still = SelectedEntry(); still == e) {
            m_lvUninst->clear(); // rows must not point at entries the rescan destroys
            e->RemoveFromList();
            ListFill();
        }
    }
    m_lvUninst->setFocus();
}

QString TOVUninstallTab::PackageRemovalQuestion(const QString &Name, const QString &Package,
                                                const QStringList &Siblings,
                                                const platform::PackageRemovalPlan &Plan)
{
    // An entry that is the package itself (a system component) is named once.
    QStringList parts {Name == Package ? format("String.MsgText.PackageRemovalQueryPackage", {Package})
                                       : format("String.MsgText.PackageRemovalQuery", {Name, Package})};
    if (!Siblings.isEmpty())
        parts << format("String.MsgText.PackageRemovalSiblings", {Siblings.join(QStringLiteral(", "))});
    const QString others = installed::RemovalPlanText(Plan);
    if (!others.isEmpty())
        parts << others;
    return parts.join(QStringLiteral("\n\n"));
}

void TOVUninstallTab::StartPackageRemoval(const TUninstItem &Entry)
{
    // The entry may be gone when the answer comes (a rebuilt list): the answer carries copies.
    const PackageRemovalRequest request {DisplayText(&Entry), Entry.Version, Entry.SourceId,
                                         installed::EntryKey(Entry), Entry.Siblings};
    // What ties files to the application is read while its package is still there.
    installed::RememberBeforeUninstall(Entry);
    const bool started = m_packageRemover.Plan(request.Package,
                                               [this, request](const platform::PackageRemovalPlan &plan,
                                                               const platform::PackageRemovalResult &result) {
                                                   unsetCursor();
                                                   PackagePlanReady(request, plan, result);
                                               });
    // Working out what goes takes the package manager a moment; the tab stays usable meanwhile.
    if (started)
        setCursor(Qt::BusyCursor);
    else
        MessageBox(window(), text("String.MsgText.PackageRemovalRunning"),
                   text("String.MsgTitle.Information"), MB_ICONINFORMATION);
}

void TOVUninstallTab::PackagePlanReady(const PackageRemovalRequest &Request,
                                       const platform::PackageRemovalPlan &Plan,
                                       const platform::PackageRemovalResult &Result)
{
    if (!Result.ok()) {
        ShowRemovalFailure(Result, Plan);
        return;
    }
    // Already gone (removed elsewhere since the list was read): the list catches up.
    if (Plan.everything.isEmpty()) {
        ListFill();
        return;
    }
    if (!Plan.blocked.isEmpty()) {
        platform::PackageRemovalResult refused;
        refused.Outcome = platform::RemovalOutcome::Refused;
        ShowRemovalFailure(refused, Plan);
        return;
    }
    // The application's running programs are named in the same question and closed first.
    QList<quint32> running;
    QString question = PackageRemovalQuestion(Request.Name, Request.Package, Request.Siblings, Plan);
    if (const QString programs = RunningProgramsText(Request.Key, &running); !programs.isEmpty())
        question += QStringLiteral("\n\n") + format("String.MsgText.UninstallRunningQuery", {programs});
    if (MessageBox(window(), question, text("String.MsgTitle.Question"),
                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2)
            != IDYES
        || !EndRunningPrograms(running))
        return;
    const QString record = journal::Begin(journal::Kind::Uninstall,
                                          {Request.Name, Request.Version,
                                           installed::EntrySourceName(installed::EntrySource::Package),
                                           QStringLiteral("apt-get remove ") + Plan.everything.join(u' ')});
    m_packageRemover.Remove(
        Plan, [this, Plan, record, name = Request.Name](const platform::PackageRemovalResult &result) {
            journal::End(record, result.ok() ? journal::Result::Succeeded : journal::Result::Failed,
                         std::nullopt, result.ok() ? QString() : installed::RemovalFailureText(result, Plan));
            ShowRemovalFailure(result, Plan);
            // Whatever happened, the list shows what is installed now.
            ListFill();
            if (result.ok() && m_mgr)
                installed::OfferLeftovers(window(), *m_mgr, name);
        });
}

void TOVUninstallTab::ShowRemovalFailure(const platform::PackageRemovalResult &Result,
                                         const platform::PackageRemovalPlan &Plan)
{
    const QString message = installed::RemovalFailureText(Result, Plan);
    if (!message.isEmpty())
        MessageBox(window(), message, text("String.MsgTitle.Failure"), MB_ICONERROR);
}

bool TOVUninstallTab::AskUninstall(const TUninstItem &Item, QList<quint32> *Running)
{
    const QString programs = RunningProgramsText(installed::EntryKey(Item), Running);
    if (programs.isEmpty())
        return AskQuestion("String.MsgText.UninstallQuery") == IDYES;
    // An uninstaller that meets its program running fails or leaves it broken: it is closed first.
    const int answer
        = MessageBox(window(), format("String.MsgText.UninstallRunningQuery", {programs}),
                     text("String.MsgTitle.Question"), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    return answer == IDYES;
}

QString TOVUninstallTab::RunningProgramsText(const QString &EntryKey, QList<quint32> *Running) const
{
    Running->clear();
    const QList<QPair<quint32, QString>> programs
        = RunningProgramsOf ? RunningProgramsOf(EntryKey) : QList<QPair<quint32, QString>>();
    QStringList lines;
    for (const auto &[pid, name] : programs) {
        *Running << pid;
        if (lines.size() < 10)
            lines << QStringLiteral("%1 [%2]").arg(name).arg(pid);
    }
    if (programs.size() > lines.size())
        lines << QStringLiteral("…");
    return lines.join(u'\n');
}

bool TOVUninstallTab::EndRunningPrograms(const QList<quint32> &Running)
{
    if (Running.isEmpty() || !EndPrograms || EndPrograms(Running))
        return true;
    MessageBox(window(), text("String.MsgText.UninstallRunningFailed"), text("String.MsgTitle.Failure"),
               MB_ICONERROR);
    return false;
}

bool TOVUninstallTab::SelectEntryByKey(const QString &Key)
{
    if (!m_firstShown)
        FirstActivate();
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < m_lvUninst->topLevelItemCount(); ++i) {
            QTreeWidgetItem *row = m_lvUninst->topLevelItem(i);
            const TUninstItem *e = entryOf(row);
            if (!e || installed::EntryKey(*e) != Key)
                continue;
            m_lvUninst->setCurrentItem(row);
            row->setSelected(true);
            m_lvUninst->scrollToItem(row);
            m_lvUninst->setFocus();
            return true;
        }
        // Installed since the list was read: read it again, once.
        if (pass == 0)
            ListFill();
    }
    return false;
}

void TOVUninstallTab::ColumnClick(int Column)
{
    if (Column < 0 || Column > 1)
        return;
    m_sortColumn = Column;
    m_columnTags[Column] = (m_columnTags[Column] + 1) % 2;
    const Qt::SortOrder order = m_columnTags[Column] == 1 ? Qt::AscendingOrder : Qt::DescendingOrder;
    if (m_selItem)
        m_selItem->SortItems(Column, order);
    else
        m_lvUninst->sortItems(Column, order);
    m_lvUninst->header()->setSortIndicatorShown(true);
    m_lvUninst->header()->setSortIndicator(Column, order);
    const QList<QTreeWidgetItem *> rows = m_lvUninst->selectedItems();
    if (!rows.isEmpty() && m_lvUninst->indexOfTopLevelItem(rows.first()) > 0) {
        if (m_selItem)
            m_selItem->EnsureExpandedVisible();
        else
            m_lvUninst->scrollToItem(rows.first());
    }
}

void TOVUninstallTab::SetPlaceholder()
{
    m_searchSilver = true;
    m_edtUninstSearch->setText(text("FormOVMain.edtUninstSearch.Text"));
    QPalette p = m_edtUninstSearch->palette();
    p.setColor(QPalette::Text, QColor(0xC0, 0xC0, 0xC0));
    m_edtUninstSearch->setPalette(p);
}

void TOVUninstallTab::SearchTextChanged(const QString &Text)
{
    if (m_searchClearing)
        return;
    if (Text.isEmpty()) {
        QSignalBlocker block(m_edtUninstSearch);
        SetPlaceholder();
        m_edtUninstSearch->selectAll();
    } else if (Text != text("FormOVMain.edtUninstSearch.Text")) {
        m_searchSilver = false;
        QPalette p = m_edtUninstSearch->palette();
        p.setColor(QPalette::Text, Qt::black);
        m_edtUninstSearch->setPalette(p);
    }
}

namespace {

QString asciiLower(const QString &s)
{
    QString out = s;
    for (QChar &c : out)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return out;
}

} // namespace

void TOVUninstallTab::CommandSearch()
{
    const QString wanted = asciiLower(m_edtUninstSearch->text());
    const int rows = m_lvUninst->topLevelItemCount();
    for (int i = qMax(0, m_nextSearch); i < rows; ++i) {
        QTreeWidgetItem *row = m_lvUninst->topLevelItem(i);
        if (TBrimLVRichSelItem::IsBlankItem(row) || !asciiLower(row->text(0)).contains(wanted))
            continue;
        m_lvUninst->setCurrentItem(row);
        row->setSelected(true);
        // The selection panel may have put filler rows above a later match: take the index now.
        const int at = m_lvUninst->indexOfTopLevelItem(row);
        m_lvUninst->scrollToItem(row);
        m_nextSearch = at + 1;
        return;
    }
    m_nextSearch = 0;
    MessageBox(window(), format("String.MsgText.NoFind", {m_edtUninstSearch->text()}),
               text("String.MsgTitle.Information"), MB_ICONINFORMATION);
}

bool TOVUninstallTab::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edtUninstSearch) {
        if (event->type() == QEvent::MouseButtonPress) {
            QTimer::singleShot(0, m_edtUninstSearch, [e = m_edtUninstSearch] { e->selectAll(); });
        } else if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                CommandSearch();
                return true;
            }
            if (key->key() != Qt::Key_Backspace && m_searchSilver && !key->text().isEmpty()) {
                // The key replaces the placeholder instead of joining it.
                m_searchClearing = true;
                m_edtUninstSearch->clear();
                m_searchClearing = false;
            }
        }
    } else if (event->type() == QEvent::MouseButtonRelease || isActivationKey(event)) {
        if (watched == m_detailValues.value(4)) {
            OpenLocation();
            return true;
        }
        if (watched == m_detailValues.value(5)) {
            OpenLink();
            return true;
        }
        if (watched == m_lblTop3PayWareMore || watched == m_lblTop3FreeWareMore) {
            Top3MoreClick(watched == m_lblTop3PayWareMore);
            return true;
        }
    } else if (watched == m_pnlUninstSelItem && event->type() == QEvent::Resize) {
        UpdateSelItemPanel();
    }
    if ((event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
        && (watched == m_detailValues.value(4) || watched == m_detailValues.value(5))) {
        // The focused link is underlined, as the keyboard's mark.
        auto *label = static_cast<QLabel *>(watched);
        QFont f = label->font();
        f.setUnderline(event->type() == QEvent::FocusIn);
        label->setFont(f);
    }
    return QWidget::eventFilter(watched, event);
}

void TOVUninstallTab::ApplyTexts()
{
    m_lvUninst->setHeaderLabels({text("FormOVMain.lvUninst.Columns.Items[0].Caption"),
                                 text("FormOVMain.lvUninst.Columns.Items[1].Caption")});
    UpdateCount();
    m_lblUninstShowPatches->setText(ovlook::LinkHtml(text("FormOVMain.lblUninstShowPatches.Caption")));
    m_lblUninstRefreshList->setText(ovlook::LinkHtml(text("FormOVMain.lblUninstRefreshList.Caption")));
    m_chkUninstShowSystem->setText(text("FormOVMain.chkUninstShowSystem.Caption"));
    m_imgUninstSelItemIcon->setToolTip(text("FormOVMain.imgUninstSelItemIcon.Hint"));
    m_btnUninstSelItemUninstall->SetCaption(text("String.Uninstall"));
    for (int i = 0; i < 6; ++i) {
        const QString base
            = QStringLiteral("FormOVMain.lblUninstDetails_%1").arg(QLatin1String(kDetailNames[i]));
        m_detailCaptions[i]->setText(text(base + QStringLiteral(".Caption")));
    }
    m_detailValues[4]->setToolTip(text("FormOVMain.lblUninstDetails_LocationV.Hint"));
    m_detailValues[5]->setToolTip(text("FormOVMain.lblUninstDetails_LinkV.Hint"));
    m_lblUninstShowDetails->setText(ovlook::LinkHtml(
        text(m_detailsHidden ? "String.ShowSoftwareDetails" : "String.HideSoftwareDetails")));
    {
        QSignalBlocker block(m_edtUninstSearch);
        SetPlaceholder();
    }
    m_btnUninstSearch->SetCaption(text("FormOVMain.btnUninstSearch.Caption"));

    m_lblTop3Title->setText(text("FormOVMain.lblTop3Title.Caption"));
    m_lblTop3Submit->setText(text("FormOVMain.lblTop3Submit.Caption"));
    m_lblTop3Submit->setToolTip(text("FormOVMain.lblTop3Submit.Hint"));
    m_lblTop3PayWares->setText(format("FormOVMain.lblTop3PayWares.Caption", {m_payShown}));
    m_lblTop3PayWareMore->setText(text("FormOVMain.lblTop3PayWareMore.Caption"));
    m_lblTop3PayWareMore->setToolTip(text("FormOVMain.lblTop3PayWareMore.Hint"));
    m_lblTop3FreeWares->setText(format("FormOVMain.lblTop3FreeWares.Caption", {m_freeShown}));
    m_lblTop3FreeWareMore->setText(text("FormOVMain.lblTop3FreeWareMore.Caption"));
    m_lblTop3FreeWareMore->setToolTip(text("FormOVMain.lblTop3FreeWareMore.Hint"));
    for (auto *panels : {&m_payPanels, &m_freePanels})
        for (auto &p : *panels) {
            p->icon->setToolTip(text("FormOVMain.imgTop3WareIcon.Hint"));
            p->icon->setAccessibleName(p->icon->toolTip());
        }
    m_chkTop3Disabled->setText(text("FormOVMain.chkTop3Disabled.Caption"));
    ApplyLayout();
    UpdateSelItemPanel();
    UpdateDetails();
    RefreshTop3();
}

// ---- recommendations --------------------------------------------------------

QLabel *TOVUninstallTab::Top3Panel(bool Pay, int Index) const
{
    if (Index < 0 || Index > 2)
        return nullptr;
    return (Pay ? m_payPanels : m_freePanels)[size_t(Index)]->panel;
}

TBrimImageButton *TOVUninstallTab::Top3Button(bool Pay, int Index) const
{
    if (Index < 0 || Index > 2)
        return nullptr;
    return (Pay ? m_payPanels : m_freePanels)[size_t(Index)]->button;
}

const TTop3Item &TOVUninstallTab::Top3Slot(bool Pay, int Index) const
{
    return (Pay ? m_paySlots : m_freeSlots)[size_t(qBound(0, Index, 2))];
}

void TOVUninstallTab::ClearTop3()
{
    // Nothing of an earlier answer stays clickable while the next one is awaited.
    m_paySlots = {};
    m_freeSlots = {};
    m_payMoreURL.clear();
    m_freeMoreURL.clear();
    m_payShown = m_freeShown = 0;
    m_lblTop3PayWares->setText(format("FormOVMain.lblTop3PayWares.Caption", {0}));
    m_lblTop3FreeWares->setText(format("FormOVMain.lblTop3FreeWares.Caption", {0}));
    for (int i = 0; i < 3; ++i) {
        FillTop3Panel(true, i);
        FillTop3Panel(false, i);
    }
}

void TOVUninstallTab::RefreshTop3()
{
    TUninstItem *e = SelectedEntry();
    if (m_chkTop3Disabled->isChecked() || !e) {
        m_top3.Cancel(); // an answer still on its way is no longer wanted
        if (m_chkTop3Disabled->isChecked())
            Top3DisabledClick();
        else
            ClearTop3();
        return;
    }
    ClearTop3();
    // The call runs on a worker so that a slow site never freezes the window.
    // Starting a request cancels the one before, and only the answer to the
    // latest is shown.
    const TTop3Requests::Ticket ticket = m_top3.Start();
    TWebAPIClient client;
    if (WebAPI)
        client = *WebAPI;
    client.LastResponse.clear();
    // The ticket's flag stops a superseded request; its answer still comes back,
    // so the tab knows the worker is done, and is dropped there. Once the tab is
    // gone nothing comes back.
    const bool started = m_top3Workers.start(
        [client, keywords = e->DisplayName, ticket](const platform::WorkerContext &) mutable {
            std::pair<bool, TSoftwareTop3> answer {false, {}};
            if (!ticket.Cancel->load()) {
                client.Cancel = ticket.Cancel.get();
                answer.first = client.GetSoftwareTop3(keywords, answer.second);
            }
            return answer;
        },
        [this, id = ticket.Id](const std::pair<bool, TSoftwareTop3> &answer) {
            if (m_top3.Finish(id))
                Top3Arrived(answer.first, answer.second);
        });
    if (!started && m_top3.Finish(ticket.Id))
        Top3Arrived(false, {});
}

void TOVUninstallTab::Top3Arrived(bool Ok, const TSoftwareTop3 &Top3)
{
    if (Ok) {
        m_payMoreURL = Top3.PayMoreURL;
        m_freeMoreURL = Top3.FreeMoreURL;
        m_payShown = qBound(0, Top3.PayCount, 3);
        m_freeShown = qBound(0, Top3.FreeCount, 3);
        for (int i = 0; i < m_payShown && i < Top3.PayItems.size(); ++i)
            m_paySlots[size_t(i)] = {Top3.PayItems.at(i), true};
        for (int i = 0; i < m_freeShown && i < Top3.FreeItems.size(); ++i)
            m_freeSlots[size_t(i)] = {Top3.FreeItems.at(i), true};
        m_lblTop3PayWares->setText(format("FormOVMain.lblTop3PayWares.Caption", {m_payShown}));
        m_lblTop3FreeWares->setText(format("FormOVMain.lblTop3FreeWares.Caption", {m_freeShown}));
    }
    for (int i = 0; i < 3; ++i) {
        FillTop3Panel(true, i);
        FillTop3Panel(false, i);
    }
}

void TOVUninstallTab::FillTop3Panel(bool Pay, int Index)
{
    const TTop3Item &slot = (Pay ? m_paySlots : m_freeSlots)[size_t(Index)];
    PanelControls &p = *(Pay ? m_payPanels : m_freePanels)[size_t(Index)];
    if (slot.Valid) {
        p.panel->setText(QString());
        p.panel->setCursor(Qt::ArrowCursor);
        p.icon->SetHttpPicture(slot.IconURL);
        p.title->setText(slot.Title);
        p.title->setToolTip(slot.Title);
        p.fullDescription = slot.Description;
        p.desc->setText(ovlook::ElideAtWord(slot.Description, p.desc->fontMetrics(), p.desc->width()));
        p.desc->setToolTip(slot.Description);
        if (slot.DownloadURL.trimmed().isEmpty()) {
            p.button->SetCaption(text("String.Purchase"));
            p.tag = 1;
        } else {
            p.button->SetCaption(text("String.Download"));
            p.tag = 0;
        }
    } else {
        p.panel->setText(text("String.BlankItem"));
        p.panel->setCursor(Qt::PointingHandCursor);
    }
    for (QWidget *w : {static_cast<QWidget *>(p.icon), static_cast<QWidget *>(p.title),
                       static_cast<QWidget *>(p.desc), static_cast<QWidget *>(p.button)})
        w->setVisible(slot.Valid);
}

void TOVUninstallTab::Top3IconClick(bool Pay, int Index)
{
    if (Index < 0 || Index > 2 || !Top3Slot(Pay, Index).Valid)
        return;
    ShellOpen(Top3Slot(Pay, Index).DetailsURL);
}

void TOVUninstallTab::Top3ButtonClick(bool Pay, int Index)
{
    // An empty slot has nothing to download or buy.
    if (Index < 0 || Index > 2 || !Top3Slot(Pay, Index).Valid)
        return;
    const TTop3Item slot = Top3Slot(Pay, Index);
    if (Pay && slot.DownloadURL.trimmed().isEmpty()) {
        ShellOpen(slot.PurchaseURL);
        return;
    }
    if (AddDownloadTask)
        AddDownloadTask(slot.Title, slot.DownloadURL, slot.Sha256);
}

void TOVUninstallTab::Top3MoreClick(bool Pay)
{
    if ((Pay ? m_payMoreURL : m_freeMoreURL).trimmed().isEmpty())
        return;
    ShellOpen(Pay ? m_payMoreURL : m_freeMoreURL);
}

void TOVUninstallTab::Top3DisabledClick()
{
    if (!m_chkTop3Disabled->isChecked())
        return;
    m_top3.Cancel();
    m_paySlots = {};
    m_freeSlots = {};
    for (auto *panels : {&m_payPanels, &m_freePanels})
        for (auto &p : *panels) {
            p->panel->setText(QString());
            for (QWidget *w : {static_cast<QWidget *>(p->icon), static_cast<QWidget *>(p->title),
                               static_cast<QWidget *>(p->desc), static_cast<QWidget *>(p->button)})
                w->hide();
        }
}
