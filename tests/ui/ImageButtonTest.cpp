#include "support/GuiApp.h"
#include "support/Wait.h"
#include "ui/BrimImageButton.h"

#include <QDialog>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::boundsOf;
using testsupport::solid;

namespace {

class ButtonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::guiApp();
        window = std::make_unique<QWidget>();
        window->resize(300, 200);
        button = new TBrimImageButton(window.get());
        button->setGeometry(50, 50, 80, 40);
        button->OnClick = [this](QObject *) { ++clicks; };
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    std::unique_ptr<QWidget> window;
    TBrimImageButton *button = nullptr;
    int clicks = 0;
};

TEST_F(ButtonTest, MouseClickRules)
{
    // Press and release inside: one click, hover afterwards.
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(button->IsDown());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(button->IsDown());
    EXPECT_TRUE(button->IsHover());

    // Press, move out, release outside: no click, normal state.
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(button, QPoint(150, 10));
    EXPECT_TRUE(button->IsDown()); // still held while outside
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(150, 10));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(button->IsDown());
    EXPECT_FALSE(button->IsHover());

    // The right edge counts as inside; other buttons never click.
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(80, 40));
    EXPECT_EQ(clicks, 2);
    QTest::mouseClick(button, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 2);

    // Disabled buttons do not click.
    button->setEnabled(false);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 2);
}

TEST_F(ButtonTest, KeyboardAndAccelerator)
{
    button->setFocus();
    ASSERT_TRUE(button->hasFocus());
    for (int key : {int(Qt::Key_Space), int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        QTest::keyPress(button, Qt::Key(key));
        EXPECT_TRUE(button->IsDown());
        EXPECT_EQ(clicks, 0);
        QTest::keyRelease(button, Qt::Key(key));
        EXPECT_FALSE(button->IsDown());
        EXPECT_EQ(clicks, 1) << key;
        clicks = 0;
    }
    button->SetCaption("&Save");
    QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(clicks, 1);
    button->setEnabled(false);
    QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(clicks, 1);
}

TEST_F(ButtonTest, DefaultAndCancel)
{
    auto *edit = new QLineEdit(window.get());
    edit->setGeometry(10, 10, 100, 20);
    auto *other = new TBrimImageButton(window.get());
    other->setGeometry(150, 50, 80, 40);
    int otherClicks = 0, cancelClicks = 0;
    other->OnClick = [&](QObject *) { ++otherClicks; };
    auto *cancel = new TBrimImageButton(window.get());
    cancel->setGeometry(150, 120, 80, 40);
    cancel->OnClick = [&](QObject *) { ++cancelClicks; };
    edit->show();
    other->show();
    cancel->show();
    button->SetDefault(true);
    cancel->SetCancel(true);

    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
    QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(clicks, 1);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(cancelClicks, 1);

    // Another button with the focus takes Enter itself.
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Return);
    EXPECT_EQ(otherClicks, 1);
    EXPECT_EQ(clicks, 1);

    // A hidden default button does not take Enter.
    button->hide();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
}

TEST(ButtonModalResult, ClosesDialogWithResult)
{
    testsupport::guiApp();
    QDialog dialog;
    auto *ok = new TBrimImageButton(&dialog);
    ok->SetModalResult(QDialog::Accepted);
    int clicked = 0;
    ok->OnClick = [&](QObject *) { ++clicked; };
    dialog.show();
    ok->Click();
    EXPECT_EQ(clicked, 1);
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_FALSE(dialog.isVisible());
}

// Which picture each state shows, with the fallbacks to PicNormal.
TEST_F(ButtonTest, PictureByState)
{
    const QColor normal(10, 20, 30), hover(40, 50, 60), down(70, 80, 90), disabled(100, 110, 120);
    struct Case
    {
        bool withHover, withDown, withDisabled;
        bool hoverState, downState, enabled;
        QColor expected;
    };
    const Case cases[] = {
        {true, true, true, false, false, true, normal},     {true, true, true, true, false, true, hover},
        {true, true, true, false, true, true, down},        {true, true, true, false, false, false, disabled},
        {false, false, false, true, false, true, normal},   {false, false, false, false, true, true, normal},
        {false, false, false, false, false, false, normal}, {true, false, true, false, true, true, normal},
    };
    for (const Case &c : cases) {
        button->SetPictures(solid({80, 40}, normal), c.withHover ? solid({80, 40}, hover) : QPixmap(),
                            c.withDown ? solid({80, 40}, down) : QPixmap(),
                            c.withDisabled ? solid({80, 40}, disabled) : QPixmap());
        button->setEnabled(c.enabled);
        button->SetVisualState(c.hoverState, c.downState);
        const QImage img = button->grab().toImage();
        EXPECT_EQ(img.pixelColor(40, 20), c.expected)
            << c.withHover << c.withDown << c.withDisabled << c.hoverState << c.downState << c.enabled;
    }
    // No picture at all: the background only.
    button->setEnabled(true);
    button->SetPictures({}, {}, {}, {});
    button->SetColor(QColor(1, 2, 3));
    EXPECT_EQ(button->grab().toImage().pixelColor(40, 20), QColor(1, 2, 3));
}

TEST_F(ButtonTest, PicturePlacementForEveryAlign)
{
    // Button 80 x 40, picture 10 x 6, custom offsets (7, 5).
    const QPoint expected[16] = {{0, 0},   {35, 0}, {70, 0}, {0, 17}, {35, 17}, {70, 17}, {0, 34}, {35, 34},
                                 {70, 34}, {7, 0},  {7, 17}, {7, 34}, {0, 5},   {35, 5},  {70, 5}, {7, 5}};
    button->SetColor(Qt::white);
    button->SetPicNormal(solid({10, 6}, Qt::red));
    button->SetPictureX(7);
    button->SetPictureY(5);
    for (int a = 0; a < 16; ++a) {
        button->SetPictureAlign(TBrimAlign(a));
        const QImage img = button->grab().toImage();
        EXPECT_EQ(boundsOf(img, qRgb(255, 0, 0)), QRect(expected[a], QSize(10, 6))) << "align " << a;
    }
    // Stretch fills from the placed corner to the bottom-right corner.
    button->SetStretch(true);
    button->SetPictureAlign(BrimAlign_Custom);
    EXPECT_EQ(boundsOf(button->grab().toImage(), qRgb(255, 0, 0)), QRect(7, 5, 73, 35));
}

TEST_F(ButtonTest, TransparentColorAndBorder)
{
    QPixmap pic = solid({80, 40}, Qt::blue);
    {
        QPainter p(&pic);
        p.fillRect(0, 0, 20, 40, QColor(255, 0, 255));
    }
    button->SetColor(Qt::green);
    button->SetPicNormal(pic);
    EXPECT_EQ(button->grab().toImage().pixelColor(5, 20), QColor(255, 0, 255));
    button->SetTransparentColor(true);
    QImage img = button->grab().toImage();
    EXPECT_EQ(img.pixelColor(5, 20), QColor(Qt::green));
    EXPECT_EQ(img.pixelColor(50, 20), QColor(Qt::blue));

    button->SetDrawBorder(true);
    EXPECT_EQ(button->grab().toImage().pixelColor(0, 20), QColor(Qt::black));
    button->setEnabled(false);
    EXPECT_EQ(button->grab().toImage().pixelColor(0, 20), QColor(128, 128, 128));
}

TEST_F(ButtonTest, CaptionPlacementAndStateFonts)
{
    window->resize(300, 200);
    button->setGeometry(10, 10, 120, 90);
    button->SetColor(Qt::white);
    QFont f = button->font();
    f.setPixelSize(12);
    button->SetFont({f, Qt::black});
    button->SetCaption("Tab");

    // The program's page tabs: centred horizontally, top at TextY.
    button->SetTextAlign(BrimAlign_CustomCenter);
    button->SetTextY(57);
    QRect text = boundsOf(button->grab().toImage(), qRgb(255, 255, 255), true);
    ASSERT_TRUE(text.isValid());
    EXPECT_GE(text.top(), 57);
    EXPECT_LE(text.top(), 57 + 5);
    EXPECT_LE(std::abs((text.left() + text.right()) / 2 - 60), 2);

    // Pressed captions of the edge alignments move one pixel right and down.
    button->SetTextAlign(BrimAlign_MiddleCenter);
    const QRect up = boundsOf(button->grab().toImage(), qRgb(255, 255, 255), true);
    button->SetVisualState(false, true);
    const QRect pressed = boundsOf(button->grab().toImage(), qRgb(255, 255, 255), true);
    EXPECT_EQ(pressed.topLeft(), up.topLeft() + QPoint(1, 1));
    button->SetTextAlign(BrimAlign_CustomCenter);
    const QRect customPressed = boundsOf(button->grab().toImage(), qRgb(255, 255, 255), true);
    button->SetVisualState(false, false);
    EXPECT_EQ(customPressed, boundsOf(button->grab().toImage(), qRgb(255, 255, 255), true));

    // The disabled font applies only with EnableStatesFont.
    button->SetFontDisabled({f, Qt::red});
    button->setEnabled(false);
    EXPECT_FALSE(boundsOf(button->grab().toImage(), qRgb(255, 0, 0)).isValid());
    button->SetEnableStatesFont(true);
    EXPECT_TRUE(boundsOf(button->grab().toImage(), qRgb(255, 0, 0)).isValid());
    // Blank captions draw nothing.
    button->SetCaption("   ");
    EXPECT_FALSE(boundsOf(button->grab().toImage(), qRgb(255, 255, 255), true).isValid());
}

} // namespace
