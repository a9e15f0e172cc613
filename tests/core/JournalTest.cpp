// The journal file: what is written before and after an operation, what a
// crash leaves, and what reading makes of a damaged file.
#include "core/OVJournal.h"
#include "support/Files.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using journal::Entry;
using journal::Kind;
using journal::Result;

class Journal : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        journal::SetFile(file());
    }
    void TearDown() override { journal::SetFile({}); }
    QString file() const { return dir.path("Config/OVJournal.log"); }
    QByteArray bytes() const { return testsupport::readFile(file()); }

    testsupport::ScratchDir dir;
};

const QDateTime kAt = QDateTime::fromMSecsSinceEpoch(1700000000000LL, Qt::UTC);

} // namespace

// Every kind is written before it acts and again when it ends, with texts
// that carry the separators themselves; the reading gives them back newest
// first, and one still open is running here and interrupted for a later start.
TEST_F(Journal, RecordsEachKindBeforeAndAfterAndReadsThemBackNewestFirst)
{
    const journal::Subject odd {QStringLiteral("Tab\tand\nline \\ 工具"), "1.0", "http://127.0.0.1:9/a b",
                                "/bin/sh -c 'echo \"x\"'"};
    const QString download = journal::Begin(Kind::Download, odd);
    EXPECT_TRUE(bytes().endsWith('\n'));
    EXPECT_EQ(bytes().count('\n'), 1) << "the start is on disk before the operation acts";
    journal::End(download, Result::Succeeded);
    const QString install = journal::Begin(Kind::Install, {"Tool", "", "/tmp/setup.sh", "/tmp/setup.sh"});
    journal::End(install, Result::Failed, 3, QStringLiteral("exit status 3"));
    journal::End(install, Result::Succeeded); // a second end changes nothing
    journal::Record(Kind::Uninstall, {"Tool", "2", "registry", "uninstall.sh"}, true);
    journal::Record(Kind::Terminate, {"sleep", "", "pid 42", "SIGKILL"}, false, "not permitted");
    journal::Record(Kind::RemoveEntry, {"Dead", "", "registry", "HKCU\\X"}, true);
    journal::Record(Kind::CleanLeftovers, {"Tool", "", "", "~/.config/tool"}, true);
    const QString open = journal::Begin(Kind::Install, {"Open", "", "", ""});

    const std::vector<Entry> entries = journal::Read();
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries.front().Id, open);
    EXPECT_EQ(entries.front().Outcome, Result::Running);
    EXPECT_EQ(entries.back().Id, download);
    EXPECT_EQ(entries.back().What.Name, odd.Name);
    EXPECT_EQ(entries.back().What.Source, odd.Source);
    EXPECT_EQ(entries.back().What.Command, odd.Command);
    EXPECT_EQ(entries.back().Outcome, Result::Succeeded);
    EXPECT_FALSE(entries.back().ExitStatus.has_value());
    const Entry &failed = entries[entries.size() - 2];
    EXPECT_EQ(failed.OperationKind, Kind::Install);
    EXPECT_EQ(failed.Outcome, Result::Failed);
    EXPECT_EQ(failed.ExitStatus, 3);
    EXPECT_EQ(failed.Error, "exit status 3");
    EXPECT_TRUE(failed.Ended.isValid());
    EXPECT_GE(failed.Ended, failed.Started);
    QSet<Kind> kinds;
    for (const Entry &e : entries)
        kinds.insert(e.OperationKind);
    EXPECT_EQ(kinds.size(), 6);

    // The next start has none of this run's ids open.
    const std::vector<Entry> later = journal::Parse(bytes());
    EXPECT_EQ(later.front().Outcome, Result::Interrupted);
    journal::End(open, Result::Stopped);
    EXPECT_EQ(journal::Read().front().Outcome, Result::Stopped);
    // Only the user may read what the program did.
    EXPECT_EQ(QFileInfo(file()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
}

// A crash can cut the last record; anything else in the file may be damaged
// or hostile. Each case is the good records plus one bad line: only the good
// ones are read.
TEST_F(Journal, SkipsTornAndDamagedRecords)
{
    const QByteArray good = journal::StartLine("a1", kAt, Kind::Install, {"Tool", "1", "src", "cmd"})
        + journal::EndLine("a1", kAt.addSecs(5), Result::Succeeded, 0, {});
    const QByteArray open = journal::StartLine("b2", kAt.addSecs(9), Kind::Download, {"Next", "", "", ""});
    const QByteArray torn = open.left(open.size() - 1);
    struct Case
    {
        const char *what;
        QByteArray bad;
        size_t entries;
    } cases[] = {
        {"a start cut by the crash", torn.left(torn.size() / 2), 1},
        {"a start without its line break", torn, 1},
        {"an end cut by the crash", open + journal::EndLine("b2", kAt, Result::Failed, 1, "x").chopped(3), 2},
        {"garbage", QByteArray("\x00\xff\xfe garbage\n", 12), 1},
        {"another format", "J2\tS\tc3\t1\tinstall\ta\tb\tc\td\n", 1},
        {"a missing field", "J1\tS\tc3\t1\tinstall\ta\tb\tc\n", 1},
        {"an extra field", "J1\tS\tc3\t1\tinstall\ta\tb\tc\td\te\n", 1},
        {"an unknown kind", "J1\tS\tc3\t1\tformat-disk\ta\tb\tc\td\n", 1},
        {"a time that is none", "J1\tS\tc3\t-5\tinstall\ta\tb\tc\td\n", 1},
        {"a time past the year 9999", "J1\tS\tc3\t999999999999999999\tinstall\ta\tb\tc\td\n", 1},
        {"a broken escape", "J1\tS\tc3\t1\tinstall\ta\\\tb\tc\td\n", 1},
        {"an unknown escape", "J1\tS\tc3\t1\tinstall\ta\\x\tb\tc\td\n", 1},
        {"an end of nothing", journal::EndLine("zz", kAt, Result::Failed, 1, {}), 1},
        {"an end saying running", "J1\tE\ta1\t1\trunning\t\t\n", 1},
        {"an exit status that is no number", "J1\tE\ta1\t1\tfailed\tx\t\n", 1},
        {"a second start of one id", journal::StartLine("a1", kAt, Kind::Terminate, {"Other", "", "", ""}),
         1},
        {"an empty line", "\n", 1},
    };
    for (const Case &c : cases) {
        const std::vector<Entry> entries = journal::Parse(good + c.bad);
        ASSERT_EQ(entries.size(), c.entries) << c.what;
        const Entry &tool = entries.back();
        EXPECT_EQ(tool.What.Name, "Tool") << c.what;
        EXPECT_EQ(tool.OperationKind, Kind::Install) << c.what;
        EXPECT_EQ(tool.Outcome, Result::Succeeded) << c.what;
        EXPECT_EQ(tool.ExitStatus, 0) << c.what;
        if (c.entries == 2) {
            EXPECT_EQ(entries.front().Outcome, Result::Interrupted) << c.what;
        }
    }

    // A torn record on disk does not keep later records from being read.
    ASSERT_TRUE(dir.write("Config/OVJournal.log", good + torn.left(20)));
    journal::End(journal::Begin(Kind::Uninstall, {"After", "", "", ""}), Result::Succeeded);
    const std::vector<Entry> entries = journal::Read();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.front().What.Name, "After");
    EXPECT_EQ(entries.front().Outcome, Result::Succeeded);
}

// A file that grew past its limit keeps its newest whole records.
TEST_F(Journal, TrimKeepsTheNewestWholeRecords)
{
    QByteArray all;
    for (int i = 0; i < 400; ++i)
        all += journal::StartLine(QString::number(i), kAt.addSecs(i), Kind::Download, {"Tool", "", "", ""})
            + journal::EndLine(QString::number(i), kAt.addSecs(i), Result::Succeeded, {}, {});
    ASSERT_TRUE(dir.write("Config/OVJournal.log", all));
    journal::Trim(all.size() + 1);
    EXPECT_EQ(bytes(), all) << "under the limit nothing changes";
    journal::Trim(all.size() / 4);
    const QByteArray kept = bytes();
    EXPECT_LE(kept.size(), all.size() / 8);
    EXPECT_TRUE(all.endsWith(kept));
    const std::vector<Entry> entries = journal::Parse(kept);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front().Id, "399");
    EXPECT_EQ(entries.front().Outcome, Result::Succeeded);
}
