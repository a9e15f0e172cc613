#include "installed/UninstManager.h"

#include "installed/NameOrder.h"
#include "platform/AnsiCodePage.h"
#include "platform/MainThread.h"
#include "platform/Registry.h"
#include "support/Files.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

using namespace platform;

namespace {

QCoreApplication *app()
{
    return testsupport::coreApp();
}

bool pumpUntil(const std::function<bool()> &pred, int timeoutMs = 15000)
{
    app();
    return testsupport::waitUntil(pred, timeoutMs);
}

using testsupport::writeFile;

// One uninstall entry of a fixture hive: key name and value lines.
struct Entry
{
    const char *key;
    QByteArray values;
};

QByteArray hiveText(const QList<Entry> &entries)
{
    QByteArray out = "WINE REGISTRY Version 2\n";
    for (const Entry &e : entries)
        out += QByteArray("\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\") + e.key
            + "] 1\n" + e.values;
    return out;
}

class UninstManager : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        setRegistryDirectory(dir.path() + QStringLiteral("/Registry"));
    }
    void TearDown() override
    {
        setRegistryDirectory(QString());
        setAnsiCodePageOverride({});
    }
    void machine(const QList<Entry> &e)
    {
        ASSERT_TRUE(writeFile(dir.path() + QStringLiteral("/Registry/HKEY_LOCAL_MACHINE.reg"), hiveText(e)));
    }
    void user(const QList<Entry> &e)
    {
        ASSERT_TRUE(writeFile(dir.path() + QStringLiteral("/Registry/HKEY_CURRENT_USER.reg"), hiveText(e)));
    }
    QStringList names(const TUninstManager &m)
    {
        QStringList out;
        for (int i = 0; i < m.Count(); ++i)
            out << m.Item(i)->DisplayName;
        return out;
    }
    TUninstItem *find(const TUninstManager &m, const QString &name)
    {
        for (int i = 0; i < m.Count(); ++i)
            if (m.Item(i)->DisplayName == name)
                return m.Item(i);
        return nullptr;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(UninstManager, ScanTakesListedEntriesWithTheirValues)
{
    const QString icon = dir.path() + QStringLiteral("/app.png");
    ASSERT_TRUE(writeFile(icon, "png"));
    machine({
        {"Full",
         "\"DisplayName\"=\"Full App\"\n\"UninstallString\"=\"/opt/full/uninstall --all\"\n"
         "\"ModifyPath\"=\"/opt/full/modify\"\n\"DisplayVersion\"=\"1.2\"\n\"Publisher\"=\"Maker\"\n"
         "\"EstimatedSize\"=dword:00000800\n\"InstallDate\"=\"20100315\"\n"
         "\"InstallLocation\"=\"/opt/full\"\n\"HelpLink\"=\"http://h\"\n\"URLInfoAbout\"=\"http://a\"\n"
         "\"URLUpdateInfo\"=\"http://u\"\n\"Comments\"=\"c\"\n\"ReleaseType\"=\"Product\"\n"
         "\"DisplayIcon\"=\""
             + QFile::encodeName(icon) + "\"\n"},
        {"Hidden", "\"DisplayName\"=\"System Part\"\n\"SystemComponent\"=dword:00000001\n"},
        {"NoName", "\"UninstallString\"=\"/bin/true\"\n"},
        {"Empty", "\"DisplayName\"=\"\"\n\"UninstallString\"=\"/bin/true\"\n"},
        {"IconIndex",
         "\"DisplayName\"=\"Indexed Icon\"\n\"DisplayIcon\"=\"" + QFile::encodeName(icon)
             + ",0\"\n"
               "\"TSAware\"=dword:00000001\n\"InstallDate\"=\"2010/03/15\"\n"},
        {"NotAString", "\"DisplayName\"=\"Typed\"\n\"Publisher\"=dword:00000005\n\"EstimatedSize\"=\"12\"\n"},
    });
    TUninstManager m;
    m.Rescan();
    EXPECT_EQ(names(m),
              (QStringList {QString(), QStringLiteral("Full App"), QStringLiteral("Indexed Icon"),
                            QStringLiteral("Typed")}));

    const TUninstItem *full = find(m, QStringLiteral("Full App"));
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->KeyName, QStringLiteral("Full"));
    EXPECT_EQ(full->KeyPath, TUninstManager::UninstallRoots().at(0) + QStringLiteral("Full"));
    EXPECT_EQ(full->UninstallString, QStringLiteral("/opt/full/uninstall --all"));
    EXPECT_EQ(full->ModifyPath, QStringLiteral("/opt/full/modify"));
    EXPECT_EQ(full->Version, QStringLiteral("1.2"));
    EXPECT_EQ(full->Publisher, QStringLiteral("Maker"));
    EXPECT_EQ(full->EstimatedSize, 2048);
    EXPECT_EQ(QDate(1899, 12, 30).addDays(qint64(full->InstallDate)), QDate(2010, 3, 15));
    EXPECT_EQ(full->InstallLocation, QStringLiteral("/opt/full"));
    EXPECT_EQ(full->HelpLink, QStringLiteral("http://h"));
    EXPECT_EQ(full->AboutLink, QStringLiteral("http://a"));
    EXPECT_EQ(full->UpdateLink, QStringLiteral("http://u"));
    EXPECT_EQ(full->Comments, QStringLiteral("c"));
    EXPECT_EQ(full->ReleaseType, QStringLiteral("Product"));
    EXPECT_FALSE(full->TSAware);
    EXPECT_TRUE(full->HasUninstallCommand());
    EXPECT_NE(full->SmallIconIndex, m.DefaultIconIndex());
    EXPECT_EQ(m.IconFiles().value(full->LargeIconIndex), icon);

    const TUninstItem *indexed = find(m, QStringLiteral("Indexed Icon"));
    ASSERT_NE(indexed, nullptr);
    EXPECT_EQ(indexed->SmallIconIndex, m.DefaultIconIndex()) << "\"path,0\" names no file";
    EXPECT_EQ(indexed->IconFile, icon + QStringLiteral(",0"));
    EXPECT_TRUE(indexed->TSAware);
    EXPECT_EQ(indexed->InstallDate, 0);

    const TUninstItem *typed = find(m, QStringLiteral("Typed"));
    ASSERT_NE(typed, nullptr);
    EXPECT_TRUE(typed->Publisher.isEmpty());
    EXPECT_EQ(typed->EstimatedSize, 0);
    EXPECT_FALSE(typed->HasUninstallCommand());
    EXPECT_EQ(m.Item(-1), nullptr);
    EXPECT_EQ(m.Item(m.Count()), nullptr);
}

TEST_F(UninstManager, InstallDates)
{
    const struct
    {
        const char *text;
        QDate date;
    } cases[] = {{"20100315", QDate(2010, 3, 15)},
                 {" 20100315 ", QDate(2010, 3, 15)},
                 {"", QDate()},
                 {"2010/03/15", QDate()},
                 {"2010-3-15", QDate()},
                 {"20101315", QDate()},
                 {"2010031", QDate(2010, 3, 1)},
                 {"abcdefgh", QDate()},
                 {"201003", QDate()}};
    for (const auto &c : cases) {
        const double d = installed::ParseInstallDate(QLatin1String(c.text));
        if (c.date.isValid())
            EXPECT_EQ(QDate(1899, 12, 30).addDays(qint64(d)), c.date) << c.text;
        else
            EXPECT_EQ(d, 0) << c.text;
    }
}

TEST_F(UninstManager, UpdatesHangBelowTheirPrograms)
{
    machine({
        {"Product", "\"DisplayName\"=\"Office Suite\"\n\"UninstallString\"=\"/bin/true\"\n"},
        {"KB1", "\"DisplayName\"=\"Update 1\"\n\"ParentDisplayName\"=\"office suite\"\n"},
        {"KB2", "\"DisplayName\"=\"Fix for Update 1\"\n\"ParentDisplayName\"=\"Update 1\"\n"},
        {"Orphan1", "\"DisplayName\"=\"Orphan A\"\n\"ParentDisplayName\"=\"Missing Product\"\n"},
        {"Orphan2", "\"DisplayName\"=\"Orphan B\"\n\"ParentDisplayName\"=\"Missing Product\"\n"},
        // Two updates naming each other must not make a loop.
        {"LoopA", "\"DisplayName\"=\"Loop A\"\n\"ParentDisplayName\"=\"Loop B\"\n"},
        {"LoopB", "\"DisplayName\"=\"Loop B\"\n\"ParentDisplayName\"=\"Loop A\"\n"},
        {"Self", "\"DisplayName\"=\"Self\"\n\"ParentDisplayName\"=\"Self\"\n"},
    });
    TUninstManager m;
    m.Rescan();
    EXPECT_EQ(names(m),
              (QStringList {QStringLiteral("Loop A"), QStringLiteral("Missing Product"),
                            QStringLiteral("Office Suite"), QStringLiteral("Self")}));
    const TUninstItem *suite = find(m, QStringLiteral("Office Suite"));
    ASSERT_EQ(suite->ChildCount(), 1);
    const TUninstItem *update = suite->Child(0);
    EXPECT_EQ(update->DisplayName, QStringLiteral("Update 1"));
    EXPECT_TRUE(update->ParentName.isEmpty());
    ASSERT_EQ(update->ChildCount(), 1);
    EXPECT_EQ(update->Child(0)->DisplayName, QStringLiteral("Fix for Update 1"));
    EXPECT_EQ(suite->Child(1), nullptr);

    const TUninstItem *created = find(m, QStringLiteral("Missing Product"));
    ASSERT_EQ(created->ChildCount(), 2);
    EXPECT_EQ(created->Child(0)->DisplayName, QStringLiteral("Orphan A"));
    EXPECT_EQ(created->Child(1)->DisplayName, QStringLiteral("Orphan B"));
    EXPECT_FALSE(created->HasUninstallCommand());
    EXPECT_TRUE(created->KeyPath.isEmpty());

    // Loop B went below Loop A; Loop A then found a created parent named "Loop B".
    const TUninstItem *loop = find(m, QStringLiteral("Loop A"));
    ASSERT_NE(loop, nullptr);
    EXPECT_FALSE(loop->HasUninstallCommand());
    ASSERT_EQ(loop->ChildCount(), 1);
    EXPECT_EQ(loop->Child(0)->DisplayName, QStringLiteral("Loop B"));
    const TUninstItem *self = find(m, QStringLiteral("Self"));
    ASSERT_EQ(self->ChildCount(), 1) << "a created parent holds the self-named update";
}

TEST_F(UninstManager, AnEmptyMachineListDoesNotHideUserEntries)
{
    user({{"Mine", "\"DisplayName\"=\"Per-user App\"\n"}});
    TUninstManager m;
    m.Rescan();
    EXPECT_EQ(names(m), QStringList {QStringLiteral("Per-user App")});
    machine({{"Shared", "\"DisplayName\"=\"Shared App\"\n"}});
    m.Rescan();
    EXPECT_EQ(names(m), (QStringList {QStringLiteral("Per-user App"), QStringLiteral("Shared App")}));
}

TEST_F(UninstManager, NameOrder)
{
    setAnsiCodePageOverride("GBK");
    // Transliteration pieces.
    EXPECT_EQ(installed::TransliterateName(QStringLiteral("\u4e2d\u56fd\u8f6f")),
              QByteArray(" zhong guo ruan"));
    EXPECT_EQ(installed::TransliterateName(QStringLiteral("\uff21\uff11\uff08x")), QByteArray(" A 1 ( x"));
    EXPECT_EQ(installed::TransliterateName(QStringLiteral("\u2460\u03b1\u0391")), QByteArray(" 1 a A"));

    const QStringList sorted = {QString(),
                                QStringLiteral("  "),
                                QStringLiteral("apple"),
                                QStringLiteral("Banana"),
                                QStringLiteral("zebra"),
                                QStringLiteral("\u963f\u91cc"), // a li
                                QStringLiteral("\u5317\u4eac"), // bei jing
                                QStringLiteral("\u4e2d\u56fd")}; // zhong guo
    for (int i = 0; i < sorted.size(); ++i)
        for (int j = 0; j < sorted.size(); ++j) {
            const int c = installed::CompareProgramNames(sorted.at(i), sorted.at(j));
            const bool bothEmpty = sorted.at(i).trimmed().isEmpty() && sorted.at(j).trimmed().isEmpty();
            if (i == j || bothEmpty)
                EXPECT_EQ(c, 0) << i << " " << j;
            else
                EXPECT_EQ(c < 0, i < j) << sorted.at(i).toStdString() << " vs " << sorted.at(j).toStdString();
        }

    QList<Entry> entries;
    const QList<QByteArray> shuffled
        = {"\\x4e2d\\x56fd", "zebra", "\\x5317\\x4eac", "apple", "Banana", "\\x963f\\x91cc"};
    static QList<QByteArray> keys;
    keys.clear();
    for (int i = 0; i < shuffled.size(); ++i)
        keys << "K" + QByteArray::number(i);
    for (int i = 0; i < shuffled.size(); ++i)
        entries.append({keys.at(i).constData(), "\"DisplayName\"=\"" + shuffled.at(i) + "\"\n"});
    machine(entries);
    TUninstManager m;
    m.Rescan();
    EXPECT_EQ(names(m), sorted.mid(2));

    // Without a double-byte code page every name compares as text.
    setAnsiCodePageOverride("WINDOWS-1252");
    EXPECT_LT(installed::CompareProgramNames(QStringLiteral("\u4e2d"), QStringLiteral("\u963f")), 0);
    EXPECT_LT(installed::CompareProgramNames(QStringLiteral("zebra"), QStringLiteral("\u4e2d")), 0);
}

TEST_F(UninstManager, RemoveFromListDeletesTheKeyAndRescans)
{
    user({{"Dead", "\"DisplayName\"=\"Dead Entry\"\n"},
          {"Nested", "\"DisplayName\"=\"Nested\"\n\"UninstallString\"=\"/bin/true\"\n"}});
    ASSERT_TRUE(RegCreateKey(TUninstManager::UninstallRoots().at(1) + QStringLiteral("Dead\\Sub")).ok);
    TUninstManager m;
    m.Rescan();
    ASSERT_EQ(m.Count(), 2);
    TUninstItem *dead = find(m, QStringLiteral("Dead Entry"));
    ASSERT_NE(dead, nullptr);
    dead->RemoveFromList();
    EXPECT_EQ(names(m), QStringList {QStringLiteral("Nested")});
    EXPECT_FALSE(RegKeyExists(TUninstManager::UninstallRoots().at(1) + QStringLiteral("Dead")));
}

TEST_F(UninstManager, UninstallWaitsForTheWholeProcessTree)
{
    const QString marker = dir.path() + QStringLiteral("/grandchild-done");
    const QString envFile = dir.path() + QStringLiteral("/env");
    const QString script = dir.path() + QStringLiteral("/un install.sh");
    // The uninstaller starts a grandchild that outlives it, then ends at once.
    ASSERT_TRUE(writeFile(script,
                          "#!/bin/sh\n"
                          "printf '%s' \"$ORVANE_REG\" > \"$2\"\n"
                          "(sleep 0.7; touch \"$1\") >/dev/null 2>&1 &\n"
                          "exit 0\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray command = "'" + QFile::encodeName(script) + "' '" + QFile::encodeName(marker) + "' '"
        + QFile::encodeName(envFile) + "'";
    user({{"Real", "\"DisplayName\"=\"Real App\"\n\"UninstallString\"=\"" + command + "\"\n"},
          {"Broken",
           "\"DisplayName\"=\"Broken App\"\n\"UninstallString\"=\"/nonexistent/uninstall; touch '"
               + QFile::encodeName(dir.path()) + "/injected'\"\n"}});
    TUninstManager m;
    m.Rescan();
    QStringList completed;
    bool markerAtCompletion = false;
    m.OnUninstCompleted = [&](TUninstManager *sender, const QString &name) {
        EXPECT_EQ(sender, &m);
        EXPECT_TRUE(platform::isMainThread());
        completed << name;
        if (name == QStringLiteral("Real App"))
            markerAtCompletion = QFileInfo::exists(marker);
        sender->Rescan();
    };
    find(m, QStringLiteral("Real App"))->StartUninstall();
    find(m, QStringLiteral("Broken App"))->StartUninstall();
    EXPECT_EQ(m.RunningUninstalls(), 2);
    ASSERT_TRUE(pumpUntil([&] { return completed.size() == 2; }));
    EXPECT_TRUE(markerAtCompletion) << "completion came before the grandchild ended";
    EXPECT_TRUE(completed.contains(QStringLiteral("Broken App")))
        << "a program that cannot start still completes";
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QStringLiteral("/injected"))) << "no shell ran the command";
    EXPECT_EQ(m.RunningUninstalls(), 0);
    QFile env(envFile);
    ASSERT_TRUE(env.open(QIODevice::ReadOnly));
    EXPECT_TRUE(env.readAll().endsWith("orvane-reg"));
}

// The threads of this process, by id.
QSet<QString> threadIds()
{
    const QStringList ids
        = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(ids.begin(), ids.end());
}

TEST_F(UninstManager, AManagerDestroyedDuringAnUninstallHearsNothing)
{
    const QString marker = dir.path() + QStringLiteral("/uninstalled");
    const QString script = dir.path() + QStringLiteral("/slow-uninstall.sh");
    ASSERT_TRUE(writeFile(script, "#!/bin/sh\nsleep 0.3\ntouch \"$1\"\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray command = "'" + QFile::encodeName(script) + "' '" + QFile::encodeName(marker) + "'";
    user({{"Slow", "\"DisplayName\"=\"Slow\"\n\"UninstallString\"=\"" + command + "\"\n"}});
    bool called = false;
    const QSet<QString> before = threadIds();
    {
        TUninstManager m;
        m.Rescan();
        m.OnUninstCompleted = [&](TUninstManager *, const QString &) { called = true; };
        m.Item(0)->StartUninstall();
    }
    // The uninstaller has done its work and every thread the uninstall started
    // (its worker, a reaper) has ended: a report, had one been sent, was
    // posted before its worker ended, and the event loop ran meanwhile.
    ASSERT_TRUE(pumpUntil([&] { return QFileInfo::exists(marker) && before.contains(threadIds()); }))
        << "the uninstaller or its worker did not end";
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}
