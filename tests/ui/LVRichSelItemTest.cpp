#include "support/GuiApp.h"
#include "support/Wait.h"
#include "ui/BrimLVRichSelItem.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class RichSelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::guiApp();
        window = std::make_unique<QWidget>();
        window->resize(500, 520);
        list = new QTreeWidget(window.get());
        list->setGeometry(10, 20, 400, 480);
        list->setColumnCount(2);
        list->setHeaderLabels({"Name", "Size"});
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        for (int i = 0; i < 10; ++i)
            list->addTopLevelItem(new QTreeWidgetItem({QStringLiteral("row %1").arg(i), QString::number(i)}));
        panel = new QWidget(window.get());
        rich = new TBrimLVRichSelItem(window.get());
        rich->AttachListView(list);
        rich->AttachPanel(panel);
        rich->SetRowSpan(3);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QTreeWidgetItem *row(int i) const { return list->topLevelItem(i); }
    QString names() const
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << (TBrimLVRichSelItem::IsBlankItem(row(i)) ? QStringLiteral("-") : row(i)->text(1));
        return out.join(' ');
    }
    // A row's rectangle in the panel's parent.
    QRect rowRect(int i) const
    {
        const QRect r = list->visualItemRect(row(i));
        return r.translated(list->viewport()->mapTo(window.get(), QPoint(0, 0)));
    }
    void select(int i)
    {
        list->setCurrentItem(row(i));
        rich->ExpandItem(row(i));
    }

    std::unique_ptr<QWidget> window;
    QTreeWidget *list = nullptr;
    QWidget *panel = nullptr;
    TBrimLVRichSelItem *rich = nullptr;
};

TEST_F(RichSelTest, ExpandInsertsPlaceholdersAndCoversThem)
{
    EXPECT_FALSE(panel->isVisible());
    select(5);
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 5 - - 6 7 8 9");
    EXPECT_EQ(rich->ExpandedItem(), row(5));
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->geometry().top(), rowRect(5).top());
    EXPECT_EQ(panel->geometry().bottom(), rowRect(7).bottom());
    EXPECT_EQ(panel->x(), list->x() + list->frameWidth());

    // Selecting the same row again changes nothing; an upward move follows.
    rich->ExpandItem(row(5));
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 5 - - 6 7 8 9");
    select(2);
    EXPECT_EQ(names().toStdString(), "0 1 2 - - 3 4 5 6 7 8 9");
    EXPECT_EQ(panel->geometry().top(), rowRect(2).top());

    rich->CollapseItem(row(2));
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 5 6 7 8 9");
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(rich->ExpandedItem(), nullptr);
}

TEST_F(RichSelTest, ArrowKeysStepOffPlaceholders)
{
    select(5);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return list->currentItem() && list->currentItem()->text(1) == "6"; }, 2000))
        << names().toStdString();
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 5 6 - - 7 8 9");
    EXPECT_EQ(rich->ExpandedItem()->text(1), "6");

    QTest::keyClick(list, Qt::Key_Up);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return list->currentItem() && list->currentItem()->text(1) == "5"; }, 2000));
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 5 - - 6 7 8 9");
}

TEST_F(RichSelTest, LastRowsKeepPlaceholdersAtTheEnd)
{
    list->resize(400, 150);
    select(9);
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 5 6 7 8 9 - -");
    // Scrolled so the last placeholder is visible.
    const QRect last = list->visualItemRect(row(11));
    EXPECT_GE(last.top(), 0);
    EXPECT_LE(last.bottom(), list->viewport()->height()) << "within a pixel of the bottom";
    EXPECT_TRUE(panel->isVisible());

    select(8);
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 5 6 7 8 - - 9");
    select(11); // the last row again (index of row 9 now)
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 5 6 7 8 9 - -");
    EXPECT_EQ(rich->ExpandedItem()->text(1), "9");
}

TEST_F(RichSelTest, PanelIsClampedToHeaderAndScrollBars)
{
    list->resize(150, 120); // narrow and low: both scroll bars
    list->header()->resizeSection(0, 300);
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    select(4);
    ASSERT_TRUE(list->horizontalScrollBar()->isVisible());
    ASSERT_TRUE(list->verticalScrollBar()->isVisible());
    const QRect vp = list->viewport()->geometry().translated(list->pos());

    // Half of the expanded row scrolled under the header.
    const int rowH = list->visualItemRect(row(4)).height();
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->value()
                                        + list->visualItemRect(row(4)).top() + rowH / 2);
    rich->ExpandItem();
    EXPECT_EQ(panel->geometry().top(), vp.top());
    EXPECT_LE(panel->geometry().right(), vp.right());
    EXPECT_EQ(panel->geometry().right() + 1,
              list->x() + list->width() - list->frameWidth() - list->verticalScrollBar()->width());

    // Near the bottom the panel stops above the horizontal scroll bar.
    const int vpH = list->viewport()->height();
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->value()
                                        + list->visualItemRect(row(4)).top() - (vpH - rowH));
    rich->ExpandItem();
    EXPECT_EQ(panel->geometry().bottom() + 1,
              list->y() + list->height() - list->frameWidth() - list->horizontalScrollBar()->height());

    // Scrolled out of sight: hidden.
    select(0);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    rich->ExpandItem();
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(RichSelTest, DeletingAndSortingCollapse)
{
    select(5);
    delete row(5);
    EXPECT_EQ(names().toStdString(), "0 1 2 3 4 6 7 8 9");
    EXPECT_EQ(rich->ExpandedItem(), nullptr);
    EXPECT_FALSE(panel->isVisible());

    select(3);
    EXPECT_EQ(names().toStdString(), "0 1 2 3 - - 4 6 7 8 9");
    rich->SortItems(1, Qt::DescendingOrder);
    EXPECT_EQ(names().toStdString(), "9 8 7 6 4 3 2 1 0");
    EXPECT_FALSE(panel->isVisible());

    // Header sorting collapses first; the selection expands again after and
    // its placeholders stay with it.
    list->setSortingEnabled(true);
    select(2);
    EXPECT_EQ(names().count('-'), 2);
    const QPoint header(list->header()->sectionViewportPosition(1) + 10, 5);
    for (int click = 0; click < 2; ++click) {
        QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {}, header);
        ASSERT_TRUE(testsupport::flushQueuedCalls());
        const QString order = click == 0 ? "0 1 2 3 4 6 7 - - 8 9" : "9 8 7 - - 6 4 3 2 1 0";
        EXPECT_EQ(names().toStdString(), order.toStdString());
        EXPECT_EQ(rich->ExpandedItem()->text(1), "7");
    }

    // Clearing the list forgets everything.
    list->clear();
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    EXPECT_EQ(rich->ExpandedItem(), nullptr);
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(RichSelTest, BlankItemTest)
{
    EXPECT_TRUE(TBrimLVRichSelItem::IsBlankItem(nullptr));
    std::unique_ptr<QTreeWidgetItem> blank(TBrimLVRichSelItem::CreateBlankItem());
    EXPECT_TRUE(TBrimLVRichSelItem::IsBlankItem(blank.get()));
    EXPECT_FALSE(TBrimLVRichSelItem::IsBlankItem(row(0)));
    blank->setIcon(0, QIcon(testsupport::solid({4, 4}, Qt::red)));
    EXPECT_FALSE(TBrimLVRichSelItem::IsBlankItem(blank.get()));
    row(1)->setData(0, TBrimLVRichSelItem::ItemDataRole, 42);
    EXPECT_FALSE(TBrimLVRichSelItem::IsBlankItem(row(1)));

    // Without a panel nothing happens.
    TBrimLVRichSelItem bare;
    bare.AttachListView(list);
    bare.ExpandItem(row(3));
    EXPECT_EQ(list->topLevelItemCount(), 10);
}

} // namespace
