#pragma once

#include <QObject>
#include <QPointer>
#include <QTreeWidget>

// Marker record whose address is the data of every placeholder row.
struct TBrimBlankItemData
{
    char unused = 0;
};
extern const TBrimBlankItemData BLANK_ITEM_DATA;

// Gives a report-style list (a QTreeWidget used as a flat list) a rich
// selected row: blank placeholder rows are inserted below the selected row
// and a detail panel is laid over the row and its placeholders. The panel is
// kept in place while the list scrolls, resizes or repaints.
class TBrimLVRichSelItem : public QObject
{
    Q_OBJECT
public:
    // The item data role holding a row's data; placeholders carry the address of BLANK_ITEM_DATA there.
    static constexpr int ItemDataRole = Qt::UserRole;

    explicit TBrimLVRichSelItem(QObject *parent = nullptr);
    ~TBrimLVRichSelItem() override;

    // Watches the list: its events pass through this component first.
    void AttachListView(QTreeWidget *list);
    // The panel to place; it is hidden now.
    void AttachPanel(QWidget *panel);
    QTreeWidget *ListView() const { return m_list; }
    QWidget *Panel() const { return m_panel; }

    int RowSpan() const { return m_rowSpan; }
    void SetRowSpan(int rows);

    // Expands item (or re-places the panel for the expanded item when none is given).
    void ExpandItem(QTreeWidgetItem *item = nullptr);
    // Removes the placeholders below item, forgets the expanded item and hides the panel.
    void CollapseItem(QTreeWidgetItem *item);
    static bool IsBlankItem(const QTreeWidgetItem *item);
    // Scrolls so that the last placeholder of the selected row is visible.
    void EnsureExpandedVisible();
    QTreeWidgetItem *ExpandedItem() const { return m_expanded; }

    // Sorts the list, collapsing the selection first (placeholders must not be
    // sorted). A list with automatic sorting switched on is changed to sort
    // through this on header clicks.
    void SortItems(int column, Qt::SortOrder order);

    static QTreeWidgetItem *CreateBlankItem();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTreeWidgetItem *selectedItem() const;
    int removeBlanksBelow(int index);
    void placePanel(QTreeWidgetItem *item);
    bool overPanel(const QPoint &globalPos) const;
    void schedulePlacement();
    void adoptSorting();
    void rowsAboutToBeRemoved(int first, int last);
    void rowsRemoved();

    QPointer<QTreeWidget> m_list;
    QPointer<QWidget> m_panel;
    int m_rowSpan = 3;
    QTreeWidgetItem *m_expanded = nullptr;
    bool m_busy = false;
    bool m_placementPending = false;
    int m_removedExpandedIndex = -1;
    bool m_sortByHeader = false;
};
