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
