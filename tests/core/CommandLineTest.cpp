#include "core/OVCommandLine.h"

#include <gtest/gtest.h>

TEST(CommandLine, PopupCodeScan)
{
    struct Case
    {
        QStringList args; // after the program name
        int code;
    } cases[] = {
        {{}, 0},
        {{"-popup", "77938"}, 77938},
        {{"-POPUP", "77938"}, 77938},
        {{"-Popup", "-5"}, -5},
        {{"-popup", "x"}, 0},
        {{"-popup"}, 0},
        {{"-popup", "12345"}, 12345},
        {{"-popup", "-popup", "77938"}, 77938},
        {{"-popup", "x", "-popup", "77939"}, 77939},
        {{"other", "-popup", "77937", "-popup", "77938"}, 77937},
        {{"", "-popup", "77938"}, 0}, // an empty argument ends the scan
        {{"-popup", "", "-popup", "77938"}, 0},
        {{"popup", "77938"}, 0},
        {{"-popup", "99999999999"}, 0}, // no 32-bit number
    };
    for (const Case &c : cases)
        EXPECT_EQ(GetPopupCode(QStringList {"orvane"} + c.args), c.code) << c.args.join(' ').toStdString();
}

TEST(CommandLine, ApplyPopupCodeSelectsOnlyTheThreeTabs)
{
    QList<int> selected;
    ApplyPopupCode(PopupRunning); // no main window yet: nothing happens
    SetPopupTabSelector([&selected](int tab) { selected << tab; });
    for (int code : {77937, 77938, 77939, 0, 12345, 69682, 77940})
        ApplyPopupCode(code);
    SetPopupTabSelector({});
    ApplyPopupCode(PopupUninstall);
    EXPECT_EQ(selected, (QList<int> {0, 1, 2}));
}

TEST(CommandLine, ProgramOptions)
{
    const OVCommandLineOptions o
        = ParseCommandLineOptions({"orvane", "-popup", "77938", "--quit-after", "1500", "--add-task", "A b",
                                   "http://127.0.0.1:1/x", "--select-tab", "3", "--select-row", "2", "--open",
                                   "about", "--screenshot", "/tmp/x.png", "--add-task", "only-title"});
    EXPECT_FALSE(o.version);
    EXPECT_EQ(o.quitAfterMs, 1500);
    ASSERT_EQ(o.addTasks.size(), 1u); // the last one lacks its address
    EXPECT_EQ(o.addTasks[0].first, "A b");
    EXPECT_EQ(o.addTasks[0].second, "http://127.0.0.1:1/x");
    EXPECT_EQ(o.selectTab, 3);
    EXPECT_EQ(o.selectRow, 2);
    EXPECT_EQ(o.openDialog, "about");
    EXPECT_EQ(o.screenshot, "/tmp/x.png");

    struct Case
    {
        QStringList args;
        int broadcast;
        bool bad;
    };
    const Case cases[] = {
        {{"orvane", "--broadcast-language", "2052"}, 2052, false},
        {{"orvane", "--broadcast-language", "0"}, 0, false},
        {{"orvane", "--broadcast-language", "65536"}, -1, true},
        {{"orvane", "--broadcast-language", "zh"}, -1, true},
        {{"orvane", "--broadcast-language"}, -1, true},
    };
    for (const Case &c : cases) {
        const OVCommandLineOptions b = ParseCommandLineOptions(c.args);
        EXPECT_EQ(b.broadcastLanguage, c.broadcast) << qPrintable(c.args.join(' '));
        EXPECT_EQ(b.broadcastBad, c.bad) << qPrintable(c.args.join(' '));
    }
    EXPECT_TRUE(ParseCommandLineOptions({"orvane", "--version"}).version);
    EXPECT_EQ(ParseCommandLineOptions({"orvane", "--quit-after", "-5"}).quitAfterMs, -1);
}
