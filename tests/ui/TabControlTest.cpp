#include "support/GuiApp.h"
#include "support/Wait.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimTabControl.h"

#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class TabTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::guiApp();
        window = std::make_unique<QWidget>();
        window->resize(400, 300);
        tabs = new TBrimTabControl(window.get());
        for (int i = 0; i < 3; ++i) {
            buttons[i] = new TBrimImageButton(window.get());
            buttons[i]->setGeometry(10 + i * 90, 10, 80, 30);
            pages[i] = new QWidget(window.get());
            pages[i]->setGeometry(0, 50, 400, 250);
        }
        auto log = [this](const char *what) {
            return [this, what](QObject *sender, TBrimTabItem *item) {
                EXPECT_EQ(sender, tabs);
                events << QStringLiteral("%1 %2").arg(what).arg(tabs->IndexOf(item));
            };
        };
        tabs->OnActivateing = [this, log](QObject *s, TBrimTabItem *item) {
            // The program marks the active tab by disabling its button.
            item->Button()->setEnabled(false);
            log("activating")(s, item);
        };
        tabs->OnActivated = log("activated");
        tabs->OnInactivating = log("inactivating");
        tabs->OnInactivated = log("inactivated");
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    std::unique_ptr<QWidget> window;
    TBrimTabControl *tabs = nullptr;
    TBrimImageButton *buttons[3] = {};
    QWidget *pages[3] = {};
    QStringList events;
};

TEST_F(TabTest, AddAndSelectInEventOrder)
{
    EXPECT_EQ(tabs->ActiveItem(), nullptr);
    EXPECT_EQ(tabs->AddTab(nullptr, pages[0]), -1);
    EXPECT_EQ(tabs->AddTab(buttons[0], nullptr), -1);
    EXPECT_TRUE(events.isEmpty());

    EXPECT_EQ(tabs->AddTab(buttons[0], pages[0]), 0);
    EXPECT_EQ(tabs->AddTab(buttons[1], pages[1]), 1);
    EXPECT_EQ(events, QStringList({"activating 0", "activated 0", "inactivating 1", "inactivated 1"}));
    EXPECT_TRUE(pages[0]->isVisible());
    EXPECT_FALSE(pages[1]->isVisible());
    EXPECT_EQ(tabs->ActiveItem(), tabs->Item(0));

    events.clear();
    EXPECT_TRUE(tabs->SelectTab(1));
    EXPECT_EQ(events, QStringList({"inactivating 0", "inactivated 0", "activating 1", "activated 1"}));
    EXPECT_FALSE(pages[0]->isVisible());
    EXPECT_TRUE(pages[1]->isVisible());
    EXPECT_TRUE(buttons[0]->isEnabled()); // inactivation enables the button again
    EXPECT_FALSE(buttons[1]->isEnabled());
    EXPECT_EQ(tabs->ActiveItem(), tabs->Item(1));

    events.clear();
    EXPECT_FALSE(tabs->SelectTab(2));
    EXPECT_FALSE(tabs->SelectTab(-1));
    EXPECT_TRUE(events.isEmpty());
    EXPECT_EQ(tabs->ActiveItem(), tabs->Item(1));
}

TEST_F(TabTest, MouseSwitchesTabsAndActiveTabIgnoresClicks)
{
    tabs->AddTab(buttons[0], pages[0]);
    tabs->AddTab(buttons[1], pages[1]);
    tabs->AddTab(buttons[2], pages[2]);
    int clicks = 0;
    buttons[2]->OnClick = [&](QObject *) { ++clicks; };

    events.clear();
    QTest::mouseClick(buttons[2], Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks, 1); // the button's own click runs as well
    EXPECT_EQ(tabs->ActiveItem(), tabs->Item(2));
    EXPECT_TRUE(pages[2]->isVisible());
    EXPECT_FALSE(pages[0]->isVisible());

    // The active tab is disabled by the program: clicking it changes nothing.
    events.clear();
    QTest::mouseClick(buttons[2], Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(events.isEmpty());
    EXPECT_EQ(clicks, 1);

    // A release away from the pressed tab button still switches.
    QTest::mousePress(buttons[0], Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(buttons[0], Qt::LeftButton, {}, QPoint(300, 200));
    EXPECT_EQ(tabs->ActiveItem(), tabs->Item(0));
}

TEST_F(TabTest, MissingPageLeavesItemInert)
{
    tabs->AddTab(buttons[0], pages[0]);
    tabs->AddTab(buttons[1], pages[1]);
    delete pages[1];
    events.clear();
    EXPECT_TRUE(tabs->SelectTab(1));
    // Inactivating the old tab still runs; the broken tab does not activate.
    EXPECT_EQ(events, QStringList({"inactivating 0", "inactivated 0"}));
}

} // namespace
