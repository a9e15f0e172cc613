// Ending a process is written to the journal with the process it ended.
#include "core/OVJournal.h"
#include "procmon/ProcessTestSupport.h"
#include "procmon/Processes.h"
#include "support/Files.h"

#include <gtest/gtest.h>

TEST(TerminateJournal, RecordsTheProcessAndWhetherItEnded)
{
    testsupport::ScratchDir dir;
    journal::SetFile(dir.path("journal.log"));
    const pid_t pid = proctest::spawn({"/bin/sleep", "300"});
    ASSERT_GT(pid, 0);
    TProcesses procs;
    ASSERT_TRUE(procs.Refresh());
    const TProcessItem *item = procs.ItemByID(quint32(pid));
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->Terminate());
    waitpid(pid, nullptr, 0);
    // The process is gone now: a second attempt through its handle fails, and says so.
    EXPECT_FALSE(item->TerminateTree());

    const std::vector<journal::Entry> entries = journal::Parse(dir.read("journal.log"));
    ASSERT_EQ(entries.size(), 2u);
    for (const journal::Entry &e : entries) {
        EXPECT_EQ(e.OperationKind, journal::Kind::Terminate);
        EXPECT_EQ(e.What.Name, "sleep");
        EXPECT_EQ(e.What.Source, "/usr/bin/sleep");
        EXPECT_TRUE(e.What.Command.contains(QString::number(pid))) << e.What.Command.toStdString();
    }
    EXPECT_EQ(entries.back().Outcome, journal::Result::Succeeded);
    EXPECT_EQ(entries.front().Outcome, journal::Result::Failed);
    journal::SetFile({});
}
