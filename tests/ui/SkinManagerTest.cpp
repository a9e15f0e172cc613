#include "support/GuiApp.h"
#include "support/Wait.h"
#include "ui/BrimSkinManager.h"

#include <QPainter>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::solid;

namespace {

class SkinTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::guiApp();
        window = std::make_unique<QWidget>();
        window->resize(800, 600);
        skin = new TBrimSkinManager(window.get());
        const QSize sizes[TSMFrame::PieceCount]
            = {{8, 30}, {1, 30}, {8, 30}, {3, 1}, {3, 1}, {3, 3}, {1, 3}, {3, 3}};
        for (int i = 0; i < TSMFrame::PieceCount; ++i)
            skin->Frame().SetPicture(TSMFrame::Piece(i), solid(sizes[i], QColor(20, 40, 60)));
        skin->Icon().SetPicNormal(solid({20, 20}, Qt::white));
        for (auto kind : {TSMButtonKind::Min, TSMButtonKind::Max, TSMButtonKind::Close})
            skin->CmdButtons().Button(kind).SetPicNormal(solid({24, 22}, Qt::gray));
        QFont f;
        f.setPixelSize(14);
        f.setBold(true);
        skin->Title().SetFont({f, Qt::white});
        skin->Title().SetText("Title");
        skin->OnMinimized = [this](QObject *) { events << "minimized"; };
        skin->OnMaximized = [this](QObject *) { events << "maximized"; };
        skin->OnRestored = [this](QObject *) { events << "restored"; };
    }

    void showApplied()
    {
        skin->ApplySkin();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QWidget *button(TSMButtonKind k)
    {
        return skin->CmdButtons().Button(k).Visible() ? skin->CommandButton(k) : nullptr;
    }

    std::unique_ptr<QWidget> window;
    TBrimSkinManager *skin = nullptr;
    QStringList events;
};

TEST_F(SkinTest, FramePiecesFollowTheWindowSize)
{
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    showApplied();
    for (int pass = 0; pass < 2; ++pass) {
        const int W = window->width(), H = window->height();
        EXPECT_EQ(skin->FramePiece(TSMFrame::TopLeft)->geometry(), QRect(0, 0, 8, 30));
        EXPECT_EQ(skin->FramePiece(TSMFrame::Top)->geometry(), QRect(8, 0, W - 16, 30));
        EXPECT_EQ(skin->FramePiece(TSMFrame::TopRight)->geometry(), QRect(W - 8, 0, 8, 30));
        EXPECT_EQ(skin->FramePiece(TSMFrame::Left)->geometry(), QRect(0, 30, 3, H - 33));
        EXPECT_EQ(skin->FramePiece(TSMFrame::Right)->geometry(), QRect(W - 3, 30, 3, H - 33));
        EXPECT_EQ(skin->FramePiece(TSMFrame::BottomLeft)->geometry(), QRect(0, H - 3, 3, 3));
        EXPECT_EQ(skin->FramePiece(TSMFrame::Bottom)->geometry(), QRect(3, H - 3, W - 6, 3));
        EXPECT_EQ(skin->FramePiece(TSMFrame::BottomRight)->geometry(), QRect(W - 3, H - 3, 3, 3));
        EXPECT_EQ(skin->SizeGrip()->geometry(), QRect(W - 7, H - 7, 7, 7));
        EXPECT_EQ(skin->CommandButton(TSMButtonKind::Close)->x(), W - 29);
        window->resize(640, 480);
    }
}

TEST_F(SkinTest, CommandButtonsAutoPosition)
{
    struct Case
    {
        bool maxVisible, closeVisible;
        int minX, maxX, closeX;
    };
    // Window 800 wide, buttons 24 wide, 5 pixels apart and from the edge.
    const Case cases[]
        = {{true, true, 713, 742, 771}, {false, true, 742, -1, 771}, {true, false, 742, 771, -1}};
    showApplied();
    for (const Case &c : cases) {
        skin->CmdButtons().BtnMax().SetVisible(c.maxVisible);
        skin->CmdButtons().BtnClose().SetVisible(c.closeVisible);
        EXPECT_EQ(skin->CommandButton(TSMButtonKind::Min)->pos(), QPoint(c.minX, 5));
        if (c.maxVisible) {
            EXPECT_EQ(skin->CommandButton(TSMButtonKind::Max)->x(), c.maxX);
        }
        if (c.closeVisible) {
            EXPECT_EQ(skin->CommandButton(TSMButtonKind::Close)->x(), c.closeX);
        }
        EXPECT_EQ(skin->CommandButton(TSMButtonKind::Max)->isVisible(), c.maxVisible);
    }
    // Fixed positions keep their distance from the right edge.
    skin->CmdButtons().SetAutoPosition(false);
    skin->CmdButtons().BtnClose().SetVisible(true);
    skin->CmdButtons().BtnClose().SetPosX(770);
    skin->CmdButtons().BtnClose().SetPosY(4);
    EXPECT_EQ(skin->CommandButton(TSMButtonKind::Close)->pos(), QPoint(770, 4));
    window->resize(700, 600);
    EXPECT_EQ(skin->CommandButton(TSMButtonKind::Close)->pos(), QPoint(670, 4));
    skin->CmdButtons().BtnClose().SetEnabled(false); // other settings do not move it
    EXPECT_EQ(skin->CommandButton(TSMButtonKind::Close)->pos(), QPoint(670, 4));
    EXPECT_FALSE(skin->CommandButton(TSMButtonKind::Close)->isEnabled());
}

TEST_F(SkinTest, TitlePlacementAndEllipsis)
{
    showApplied();
    QWidget *title = skin->TitleLabel();
    const int labelH = title->height();
    EXPECT_EQ(title->pos(), QPoint(5 + 20 + 5, std::max(5, 5 + (20 - labelH) / 2)));

    skin->Icon().SetVisible(false);
    EXPECT_EQ(title->pos(), QPoint(5, 5));
    EXPECT_FALSE(skin->IconButton()->isVisible());

    skin->Title().SetAutoPosition(false);
    skin->Title().SetPosX(35);
    skin->Title().SetPosY(7);
    EXPECT_EQ(title->pos(), QPoint(35, 7));

    // A long title stops 5 pixels before the leftmost visible command button.
    skin->CmdButtons().BtnMax().SetVisible(false);
    const QString words = QString("Orvane keeps the software on this machine in good order ").repeated(4);
    skin->Title().SetText(words);
    const int leftmost = skin->CommandButton(TSMButtonKind::Min)->x();
    EXPECT_EQ(title->geometry().right() + 1, leftmost - 5);
    const QString shown = skin->TitleShown();
    EXPECT_TRUE(shown.endsWith("...")) << shown.toStdString();
    EXPECT_TRUE(words.startsWith(shown.chopped(3))) << "cut at a word boundary";
    EXPECT_FALSE(shown.chopped(3).endsWith(' '));
    EXPECT_LE(QFontMetrics(skin->Title().Font().Font).horizontalAdvance(shown), title->width());

    // The title follows the window caption.
    window->setWindowTitle("Settings");
    EXPECT_EQ(skin->Title().Text(), "Settings");
    EXPECT_EQ(skin->TitleShown(), "Settings");
}

TEST_F(SkinTest, DoubleClickTogglesMaximizeUnlessFixed)
{
    skin->SetStyle(fsFixed);
    showApplied();
    QTest::mouseDClick(skin->TitleLabel(), Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_FALSE(window->isMaximized());
    EXPECT_TRUE(events.isEmpty());

    skin->SetStyle(fsSizable);
    QTest::mouseDClick(skin->FramePiece(TSMFrame::Top), Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_TRUE(window->isMaximized());
    EXPECT_FALSE(skin->SizeGrip()->isEnabled());
    // A maximized window stays within the screen's work area and does not move.
    const QRect avail = window->screen()->availableGeometry();
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    EXPECT_TRUE(avail.contains(window->geometry()));
    const QPoint before = window->pos();
    QTest::mousePress(skin->TitleLabel(), Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseMove(skin->TitleLabel(), QPoint(60, 60));
    QTest::mouseRelease(skin->TitleLabel(), Qt::LeftButton, {}, QPoint(60, 60));
    EXPECT_EQ(window->pos(), before);

    QTest::mouseDClick(skin->TitleLabel(), Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_FALSE(window->isMaximized());
    EXPECT_TRUE(skin->SizeGrip()->isEnabled());
    EXPECT_EQ(events.join(','), "maximized,restored");
}

TEST_F(SkinTest, MinimizeButtonFiresOnce)
{
    showApplied();
    QTest::mouseClick(skin->CommandButton(TSMButtonKind::Min), Qt::LeftButton, {}, QPoint(3, 3));
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    EXPECT_EQ(events.join(','), "minimized");
}

TEST_F(SkinTest, GripResizesWithinBounds)
{
    struct Case
    {
        TFormStyle style;
        QPoint drag; // where the cursor is released, relative to the window's top-left
        QSize expected;
    };
    const Case cases[] = {
        {fsSizable, {500, 300}, {700, 400}}, // clamped to the minimum
        {fsSizable, {760, 550}, {760, 550}}, {fsSizable, {1200, 900}, {900, 650}}, // clamped to the maximum
        {fsFixed, {760, 550}, {800, 600}},   {fsMaximizable, {760, 550}, {800, 600}},
    };
    skin->Bounds().MinWidth = 700;
    skin->Bounds().MinHeight = 400;
    skin->Bounds().MaxWidth = 900;
    skin->Bounds().MaxHeight = 650;
    showApplied();
    for (const Case &c : cases) {
        window->resize(800, 600);
        skin->SetStyle(c.style);
        QWidget *grip = skin->SizeGrip();
        EXPECT_EQ(grip->cursor().shape(), c.style == fsSizable ? Qt::SizeFDiagCursor : Qt::ArrowCursor);
        const QPoint target = grip->mapFromGlobal(window->mapToGlobal(c.drag));
        QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseMove(grip, target);
        if (c.style == fsSizable) {
            EXPECT_EQ(skin->OutlineRect().size(), c.expected);
        }
        QTest::mouseRelease(grip, Qt::LeftButton, {}, target);
        EXPECT_TRUE(skin->OutlineRect().isEmpty());
        EXPECT_EQ(window->size(), c.expected) << int(c.style) << " " << c.drag.x();
    }
}

TEST_F(SkinTest, TransparentColorCutsTheShape)
{
    QPixmap corner = solid({8, 30}, QColor(20, 40, 60));
    {
        QPainter p(&corner);
        p.fillRect(0, 0, 3, 2, QColor(255, 0, 255));
    }
    skin->Frame().SetPicTopLeft(corner);
    showApplied();
    EXPECT_TRUE(skin->WindowShape().isEmpty()); // off by default

    skin->SetTransparentColor(true);
    QRegion shape = skin->WindowShape();
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));
    EXPECT_FALSE(shape.contains(QPoint(2, 1)));
    EXPECT_TRUE(shape.contains(QPoint(3, 0)));
    EXPECT_TRUE(shape.contains(QPoint(0, 2)));
    EXPECT_TRUE(shape.contains(QPoint(400, 300)));
    EXPECT_TRUE(shape.contains(QPoint(799, 599)));
    EXPECT_EQ(shape.boundingRect(), QRect(0, 0, 800, 600));

    // Recomputed after a size change and when the key colour changes.
    window->resize(700, 500);
    EXPECT_EQ(skin->WindowShape().boundingRect(), QRect(0, 0, 700, 500));
    skin->SetTransparentColorValue(QColor(1, 2, 3));
    EXPECT_TRUE(skin->WindowShape().contains(QPoint(0, 0)));
    skin->SetTransparentColor(false);
    EXPECT_TRUE(skin->WindowShape().isEmpty());
}

TEST_F(SkinTest, TitleDragMovesNormalWindow)
{
    skin->SetStyle(fsSizable);
    showApplied();
    const QPoint before = window->pos();
    QTest::mousePress(skin->TitleLabel(), Qt::LeftButton, {}, QPoint(2, 2));
    const QPoint target = skin->TitleLabel()->mapToGlobal(QPoint(32, 22));
    QTest::mouseMove(skin->TitleLabel(), QPoint(32, 22));
    // The cursor stays where it is while the window moves under it.
    QTest::mouseRelease(skin->TitleLabel(), Qt::LeftButton, {}, skin->TitleLabel()->mapFromGlobal(target));
    EXPECT_EQ(window->pos(), before + QPoint(30, 20));
}

TEST_F(SkinTest, IconPressRunsHandler)
{
    int clicks = 0;
    skin->OnIconClick = [&](QObject *) { ++clicks; };
    showApplied();
    QTest::mousePress(skin->IconButton(), Qt::RightButton, {}, QPoint(3, 3));
    QTest::mouseRelease(skin->IconButton(), Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_EQ(clicks, 1);
}

} // namespace
