#include "core/BrimMultiLangs.h"
#include "core/OVDefaultTexts.h"
#include "procmon/Processes.h"
#include "procmon/RunningTabRules.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace procmon;

TEST(RunningRules, FiguresAndStatusLine)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(CpuText(5), "05");
    EXPECT_EQ(CpuText(0), "00");
    EXPECT_EQ(CpuText(100), "100");
    EXPECT_EQ(MemoryText(0), "  0");
    EXPECT_EQ(MemoryText(1536 * 1024), "1,536");
    EXPECT_EQ(MemoryText(quint64(5) << 40), "5,368,709,120"); // past 4 GiB the figure does not wrap

    TBrimMultiLangs langs;
    langs.SetOnMakeDefault(MultiLangsMakeDefault);
    SetOVMultiLangs(&langs);
    EXPECT_EQ(StatusLineText(42, true, 7, 63),
              "42 activated applications (does not include system applications), CPU usage: 7 %, memory "
              "usage: 63 %.");
    EXPECT_EQ(StatusLineText(3, false, -1, 0),
              "3 activated applications , CPU usage: -1 %, memory usage: 0 %.");
    EXPECT_EQ(OVGetText(HideSystemLinkKey(true)), "Show all applications");
    EXPECT_EQ(OVGetText(HideSystemLinkKey(false)), "Hide system applications");
    SetOVMultiLangs(nullptr);
}

TEST(RunningRules, PriorityTagsAndRowOrder)
{
    const quint32 classes[] = {0x100, 0x80, 0x8000, 0x20, 0x4000, 0x40};
    for (int tag = 1; tag <= 6; ++tag) {
        EXPECT_EQ(PriorityClassOfTag(tag), classes[tag - 1]);
        EXPECT_EQ(TagOfPriorityClass(classes[tag - 1]), tag);
    }
    EXPECT_EQ(PriorityClassOfTag(0), 0u);
    EXPECT_EQ(TagOfPriorityClass(0), 0);

    TProcesses procs;
    TProcessItem a(&procs), b(&procs);
    a.CPUUsage = 3;
    b.CPUUsage = 10;
    a.Memory.WorkingSetSize = 5000;
    b.Memory.WorkingSetSize = 4000;
    EXPECT_LT(CompareRows(ColCPU, "03", "10", &a, &b), 0);
    EXPECT_GT(CompareRows(ColMemory, "", "", &a, &b), 0);
    // A row whose process left the model compares equal on figures.
    EXPECT_EQ(CompareRows(ColCPU, "03", "10", &a, nullptr), 0);
    EXPECT_LT(CompareRows(ColName, "Apple", "banana", nullptr, nullptr), 0);
    EXPECT_EQ(CompareRows(ColPath, "/A", "/a", nullptr, nullptr), 0);
    EXPECT_EQ(OneLine(QStringLiteral("x\n)\ty")), QStringLiteral("x\uFFFD)\uFFFDy"));
}
