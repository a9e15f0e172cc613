#include "ui/BrimLVRichSelItem.h"

#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>

const TBrimBlankItemData BLANK_ITEM_DATA {};

namespace {

bool isMouseButtonEvent(QEvent::Type type)
{
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease
        || type == QEvent::MouseButtonDblClick;
}

quintptr blankMarker()
{
    return reinterpret_cast<quintptr>(&BLANK_ITEM_DATA);
}

} // namespace

TBrimLVRichSelItem::TBrimLVRichSelItem(QObject *parent)
    : QObject(parent)
{ }

TBrimLVRichSelItem::~TBrimLVRichSelItem()
{
    // The list gets its own handling back; placeholder rows stay.
    if (m_list) {
        m_list->removeEventFilter(this);
        m_list->viewport()->removeEventFilter(this);
        if (m_list->header())
            m_list->header()->viewport()->removeEventFilter(this);
    }
}

QTreeWidgetItem *TBrimLVRichSelItem::CreateBlankItem()
{
    auto *item = new QTreeWidgetItem;
    item->setData(0, ItemDataRole, QVariant::fromValue(blankMarker()));
    return item;
}

bool TBrimLVRichSelItem::IsBlankItem(const QTreeWidgetItem *item)
{
    if (!item)
        return true;
    const QVariant v = item->data(0, ItemDataRole);
    return v.typeId() == QMetaType::fromType<quintptr>().id() && v.value<quintptr>() == blankMarker()
        && item->icon(0).isNull();
}

void TBrimLVRichSelItem::AttachListView(QTreeWidget *list)
{
    if (m_list) {
        m_list->removeEventFilter(this);
        m_list->viewport()->removeEventFilter(this);
        m_list->header()->viewport()->removeEventFilter(this);
        disconnect(m_list->model(), nullptr, this, nullptr);
        disconnect(m_list->verticalScrollBar(), nullptr, this, nullptr);
        disconnect(m_list->horizontalScrollBar(), nullptr, this, nullptr);
        disconnect(m_list, nullptr, this, nullptr);
    }
    m_list = list;
    m_expanded = nullptr;
    if (!list)
        return;
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
    list->header()->viewport()->installEventFilter(this);
    QAbstractItemModel *model = list->model();
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    rowsAboutToBeRemoved(first, last);
            });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex &parent, int, int) {
        if (!parent.isValid())
            rowsRemoved();
    });
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_expanded = nullptr;
        if (m_panel)
            m_panel->hide();
    });
    // Scrolling moves the rows under the panel.
    connect(list->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { schedulePlacement(); });
    connect(list->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { schedulePlacement(); });
    connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { schedulePlacement(); });
    connect(list->header(), &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                if (m_sortByHeader)
                    SortItems(column, order);
            });
    adoptSorting();
}

void TBrimLVRichSelItem::adoptSorting()
{
    // The list's own automatic sorting would move the placeholder rows (it
    // re-sorts after every insertion). Header clicks sort explicitly instead,
    // collapsing the selection before the rows move.
    if (!m_list || !m_list->isSortingEnabled())
        return;
    QHeaderView *header = m_list->header();
    const int column = header->sortIndicatorSection();
    const Qt::SortOrder order = header->sortIndicatorOrder();
    m_list->setSortingEnabled(false);
    header->setSortIndicatorShown(true);
    header->setSectionsClickable(true);
    header->setSortIndicator(column, order);
    m_sortByHeader = true;
}

void TBrimLVRichSelItem::AttachPanel(QWidget *panel)
{
    m_panel = panel;
    if (panel)
        panel->hide();
}

void TBrimLVRichSelItem::SetRowSpan(int rows)
{
    m_rowSpan = qMax(1, rows);
}

QTreeWidgetItem *TBrimLVRichSelItem::selectedItem() const
{
    if (!m_list)
        return nullptr;
    const auto sel = m_list->selectedItems();
    return sel.isEmpty() ? nullptr : sel.first();
}

int TBrimLVRichSelItem::removeBlanksBelow(int index)
{
    int removed = 0;
    for (int k = 0; k < m_rowSpan - 1; ++k) {
        QTreeWidgetItem *next = m_list->topLevelItem(index + 1);
        if (!next || !IsBlankItem(next))
            break;
        delete m_list->takeTopLevelItem(index + 1);
        ++removed;
    }
    return removed;
}

void TBrimLVRichSelItem::ExpandItem(QTreeWidgetItem *item)
{
    if (!m_list || !m_panel || m_busy)
        return;
    adoptSorting();
    if (!item)
        item = m_expanded;
    if (!item)
        return;
    if (m_list->indexOfTopLevelItem(item) < 0)
        return;
    m_busy = true;
    const int R = m_rowSpan;
    QTreeWidgetItem *E = m_expanded;

    // The selection moving at the end of the list.
    if (E) {
        const int n = m_list->topLevelItemCount();
        const int e = m_list->indexOfTopLevelItem(E);
        const int i = m_list->indexOfTopLevelItem(item);
        QTreeWidgetItem *afterE = m_list->topLevelItem(e + 1);
        if (e >= n - R && afterE && IsBlankItem(afterE) && n - R - 1 >= 0) {
            if (e == i + 1) {
                E = m_list->topLevelItem(n - R);
                item = m_list->topLevelItem(n - R - 1);
                m_list->setCurrentItem(item);
            } else if (i == e + 1) {
                E = m_list->topLevelItem(n - R - 1);
                item = m_list->topLevelItem(n - R);
                m_list->setCurrentItem(item);
            }
            m_expanded = E;
        }
    }

    // Step off placeholder rows, away from the expanded row.
    if (E) {
        const int e = m_list->indexOfTopLevelItem(E);
        int i = m_list->indexOfTopLevelItem(item);
        const int step = i > e ? 1 : -1;
        for (int k = 0; k < R - 1; ++k) {
            QTreeWidgetItem *row = m_list->topLevelItem(i);
            if (!row || !IsBlankItem(row))
                break;
            if (!m_list->topLevelItem(i + step))
                break;
            i += step;
        }
        if (QTreeWidgetItem *found = m_list->topLevelItem(i); found && found != item) {
            item = found;
            m_list->setCurrentItem(item);
        }
    }

    // Move the placeholders to the new row.
    if (item != E && !IsBlankItem(item)) {
        const bool updates = m_list->updatesEnabled();
        m_list->setUpdatesEnabled(false);
        const int n = m_list->topLevelItemCount();
        const int i = m_list->indexOfTopLevelItem(item);
        QTreeWidgetItem *afterItem = m_list->topLevelItem(i + 1);
        if (i == n - R && afterItem && IsBlankItem(afterItem))
            removeBlanksBelow(i);
        else if (E)
            removeBlanksBelow(m_list->indexOfTopLevelItem(E));
        for (int k = 0; k < R - 1; ++k)
            m_list->insertTopLevelItem(m_list->indexOfTopLevelItem(item) + 1, CreateBlankItem());
        // Lay the rows out now so scrolling sees the new rows.
        m_list->doItemsLayout();
        if (QTreeWidgetItem *last = m_list->topLevelItem(m_list->indexOfTopLevelItem(item) + R - 1))
            m_list->scrollToItem(last);
        m_expanded = item;
        m_list->setUpdatesEnabled(updates);
    }
    m_busy = false;

    // Place the panel.
    if (!IsBlankItem(m_expanded))
        placePanel(m_expanded);
}

void TBrimLVRichSelItem::placePanel(QTreeWidgetItem *item)
{
    QTreeWidget *list = m_list;
    QWidget *panel = m_panel;
    if (!list || !panel || !item)
        return;
    QWidget *host = panel->parentWidget();
    QPoint L = list->pos();
    if (host != list->parentWidget())
        L = host ? host->mapFromGlobal(list->mapToGlobal(QPoint(0, 0))) : list->mapToGlobal(QPoint(0, 0));

    const int b = list->frameWidth();
    const QRect vp = list->viewport()->geometry(); // inside the frame, below the header
    const int hh = list->header()->isVisible() ? vp.top() - b : 0;
    const int v = list->verticalScrollBar()->isVisible() ? list->verticalScrollBar()->width() : 0;
    const int h = list->horizontalScrollBar()->isVisible() ? list->horizontalScrollBar()->height() : 0;

    const QRect r = list->visualItemRect(item);
    const int rowRight = list->header()->length() - list->header()->offset();
    const int left = L.x() + b;
    int top = L.y() + vp.top() + r.top();
    int right = L.x() + vp.left() + rowRight;
    int bottom = top + r.height() * m_rowSpan;
    top = qMax(top, L.y() + b + hh);
    right = qMin(right, L.x() + list->width() - b - v);
    bottom = qMin(bottom, L.y() + list->height() - b - h);
    const int height = bottom - top;
    panel->setGeometry(left, top, right - left, height);
    if (height > 0 && r.height() > 0) {
        panel->show();
        panel->raise();
    } else {
        panel->hide();
    }
}

bool TBrimLVRichSelItem::overPanel(const QPoint &globalPos) const
{
    if (!m_panel || !m_panel->isVisible())
        return false;
    return m_panel->rect().contains(m_panel->mapFromGlobal(globalPos));
}

void TBrimLVRichSelItem::CollapseItem(QTreeWidgetItem *item)
{
    if (!m_list || !item)
        return;
    const int i = m_list->indexOfTopLevelItem(item);
    if (i < 0)
        return;
    m_busy = true;
    removeBlanksBelow(i);
    m_busy = false;
    m_expanded = nullptr;
    if (m_panel)
        m_panel->hide();
}

void TBrimLVRichSelItem::EnsureExpandedVisible()
{
    QTreeWidgetItem *sel = selectedItem();
    if (!m_list || !sel)
        return;
    const int i = m_list->indexOfTopLevelItem(sel);
    if (QTreeWidgetItem *last = m_list->topLevelItem(i + m_rowSpan - 1)) {
        m_list->doItemsLayout();
        m_list->scrollToItem(last);
    }
}

void TBrimLVRichSelItem::SortItems(int column, Qt::SortOrder order)
{
    if (!m_list)
        return;
    CollapseItem(selectedItem());
    m_list->sortItems(column, order);
}

void TBrimLVRichSelItem::schedulePlacement()
{
    if (m_placementPending || !m_list)
        return;
    m_placementPending = true;
    QTimer::singleShot(0, this, [this] {
        m_placementPending = false;
        ExpandItem(selectedItem());
    });
}

void TBrimLVRichSelItem::rowsAboutToBeRemoved(int first, int last)
{
    if (m_busy || !m_list)
        return;
    const int e = m_expanded ? m_list->indexOfTopLevelItem(m_expanded) : -1;
    if (e >= first && e <= last) {
        // The expanded row goes: its placeholders follow it once it is gone,
        // and the panel is hidden. Removing them now would nest two removals.
        m_removedExpandedIndex = first;
        m_expanded = nullptr;
        if (m_panel)
            m_panel->hide();
    }
}

void TBrimLVRichSelItem::rowsRemoved()
{
    if (m_busy || !m_list || m_removedExpandedIndex < 0)
        return;
    const int at = m_removedExpandedIndex;
    m_removedExpandedIndex = -1;
    m_busy = true;
    for (int k = 0; k < m_rowSpan - 1; ++k) {
        QTreeWidgetItem *row = m_list->topLevelItem(at);
        if (!row || !IsBlankItem(row))
            break;
        delete m_list->takeTopLevelItem(at);
    }
    m_busy = false;
}

bool TBrimLVRichSelItem::eventFilter(QObject *watched, QEvent *event)
{
    // Only the event types below matter; the rest pass untouched, also while
    // the list is being destroyed (it is no longer a list then).
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::KeyPress:
    case QEvent::Wheel:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Paint:
        break;
    default:
        return false;
    }
    if (m_list.isNull())
        return false;
    if (watched == m_list->header()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            adoptSorting();
        return false;
    }
    if (watched != m_list.data() && watched != m_list->viewport())
        return false;
    if (isMouseButtonEvent(event->type())) {
        // A click on the panel that none of its controls took (a label, a
        // blank part) reaches the viewport when the panel is the viewport's
        // child: it belongs to the panel, not to the placeholder row below.
        if (watched == m_list->viewport()
            && overPanel(static_cast<QMouseEvent *>(event)->globalPosition().toPoint()))
            return true;
        // Only a press re-places the panel.
        if (event->type() != QEvent::MouseButtonPress)
            return false;
    }
    if (event->type() == QEvent::Paint) {
        // Rows are not inserted while the list paints; the placement follows
        // right after.
        schedulePlacement();
    } else {
        ExpandItem(selectedItem());
    }
    return false;
}
