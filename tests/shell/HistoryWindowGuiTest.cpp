// The History window over a journal file: the rows, newest first, in the
// interface language, narrowed by kind.
#include "core/BrimMultiLangs.h"
#include "core/OVDefaultTexts.h"
#include "core/OVJournal.h"
#include "shell/FormOVHistory.h"
#include "support/Files.h"
#include "support/GuiApp.h"

#include <QComboBox>
#include <QLabel>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

using journal::Kind;
using journal::Result;

QStringList column(const QTreeWidget *list, int c)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(c);
    return texts;
}

} // namespace

TEST(HistoryWindow, ShowsEachOperationWithItsResultAndFiltersByKind)
{
    testsupport::guiApp();
    TBrimMultiLangs langs;
    langs.SetOnMakeDefault(MultiLangsMakeDefault);
    SetOVMultiLangs(&langs);
    testsupport::ScratchDir dir;
    const QDateTime at = QDateTime::currentDateTimeUtc().addDays(-1);
    // A previous run: an install it never saw end, a failed uninstall, a
    // download that worked; a torn record last.
    ASSERT_TRUE(dir.write(
        "OVJournal.log",
        journal::StartLine("d", at, Kind::Download, {"Tool", "", "http://127.0.0.1:9/t.sh", "/tmp/t.sh"})
            + journal::EndLine("d", at.addSecs(2), Result::Succeeded, {}, {})
            + journal::StartLine("i", at.addSecs(3), Kind::Install, {"Tool", "", "/tmp/t.sh", "/tmp/t.sh"})
            + journal::StartLine("u", at.addSecs(9), Kind::Uninstall, {"Old", "2.1", "registry", "rm -r x"})
            + journal::EndLine("u", at.addSecs(10), Result::Failed, 4, {}) + "J1\tS\tz\t1"));
    journal::SetFile(dir.path("OVJournal.log"));

    {
        TFormOVHistory form;
        EXPECT_EQ(column(form.lvHistory, 1), QStringList({"Uninstall", "Install", "Download"}));
        EXPECT_EQ(column(form.lvHistory, 2), QStringList({"Old 2.1", "Tool", "Tool"}));
        const QStringList results = column(form.lvHistory, 3);
        EXPECT_EQ(results.at(0), "Failed (exit status 4)");
        EXPECT_TRUE(results.at(1).startsWith("Interrupted")) << results.at(1).toStdString();
        EXPECT_EQ(results.at(2), "Succeeded");
        EXPECT_TRUE(form.lblEmpty->isHidden());

        form.SetFilter(Kind::Install);
        EXPECT_EQ(column(form.lvHistory, 1), QStringList({"Install"}));
        form.SetFilter(Kind::Terminate);
        EXPECT_EQ(form.lvHistory->topLevelItemCount(), 0);
        EXPECT_FALSE(form.lblEmpty->isHidden());
        form.SetFilter(std::nullopt);

        // This run's own operation still going on is running, not interrupted.
        const QString open = journal::Begin(Kind::Terminate, {"sleep", "", "/bin/sleep", "kill -KILL 9"});
        form.Reload();
        EXPECT_EQ(column(form.lvHistory, 3).front(), "Running");
        journal::End(open, Result::Succeeded);
    }
    journal::SetFile({});
    SetOVMultiLangs(nullptr);
}
