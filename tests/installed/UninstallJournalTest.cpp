// Uninstalls and dead-entry removals in the journal: begun before the
// command runs, ended with the uninstaller's own exit status.
#include "core/OVJournal.h"
#include "installed/UninstManager.h"
#include "platform/Registry.h"
#include "support/Files.h"
#include "support/Wait.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

using journal::Kind;
using journal::Result;

QByteArray entry(const char *key, const QByteArray &values)
{
    return QByteArray("\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\") + key
        + "] 1\n" + values;
}

} // namespace

TEST(UninstallJournal, EachRunAndRemovalIsRecordedWithItsOutcome)
{
    testsupport::coreApp();
    testsupport::ScratchDir dir;
    platform::setRegistryDirectory(dir.path("Registry"));
    journal::SetFile(dir.path("journal.log"));
    const QString script = dir.file("uninstall.sh", "#!/bin/sh\nexit \"$1\"\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray quoted = "'" + QFile::encodeName(script) + "'";
    ASSERT_TRUE(
        dir.write("Registry/HKEY_CURRENT_USER.reg",
                  "WINE REGISTRY Version 2\n"
                      + entry("Good",
                              "\"DisplayName\"=\"Good\"\n\"DisplayVersion\"=\"1.2\"\n"
                              "\"UninstallString\"=\""
                                  + quoted + " 0\"\n")
                      + entry("Bad", "\"DisplayName\"=\"Bad\"\n\"UninstallString\"=\"" + quoted + " 3\"\n")
                      + entry("Gone", "\"DisplayName\"=\"Gone\"\n\"UninstallString\"=\"/nonexistent/x\"\n")
                      + entry("Dead", "\"DisplayName\"=\"Dead\"\n")));
    TUninstManager m;
    m.Rescan();
    int completed = 0;
    m.OnUninstCompleted = [&](TUninstManager *, const QString &) { ++completed; };
    for (int i = 0; i < m.Count(); ++i)
        if (m.Item(i)->HasUninstallCommand())
            m.Item(i)->StartUninstall();
    // Every start is on disk before any uninstaller could have ended.
    EXPECT_EQ(journal::Parse(dir.read("journal.log")).size(), 3u);
    ASSERT_TRUE(testsupport::waitUntil([&] { return completed == 3; }, 15000));
    for (int i = 0; i < m.Count(); ++i)
        if (m.Item(i)->DisplayName == "Dead")
            m.Item(i)->RemoveFromList(); // rescans: no entry may be used afterwards

    struct Expected
    {
        Kind kind;
        Result result;
        std::optional<int> status;
    };
    const QHash<QString, Expected> expected {
        {"Good", {Kind::Uninstall, Result::Succeeded, 0}},
        {"Bad", {Kind::Uninstall, Result::Failed, 3}},
        {"Gone", {Kind::Uninstall, Result::Failed, std::nullopt}},
        {"Dead", {Kind::RemoveEntry, Result::Succeeded, std::nullopt}},
    };
    const std::vector<journal::Entry> entries = journal::Parse(dir.read("journal.log"));
    ASSERT_EQ(entries.size(), 4u);
    for (const journal::Entry &e : entries) {
        const std::string name = e.What.Name.toStdString();
        ASSERT_TRUE(expected.contains(e.What.Name)) << name;
        const Expected &x = expected[e.What.Name];
        EXPECT_EQ(e.OperationKind, x.kind) << name;
        EXPECT_EQ(e.Outcome, x.result) << name;
        EXPECT_EQ(e.ExitStatus, x.status) << name;
        EXPECT_EQ(e.What.Source, "registry") << name;
    }
    for (const journal::Entry &e : entries)
        if (e.What.Name == "Good") {
            EXPECT_EQ(e.What.Version, "1.2");
            EXPECT_TRUE(e.What.Command.startsWith(quoted)) << e.What.Command.toStdString();
        }
    journal::SetFile({});
    platform::setRegistryDirectory({});
}
