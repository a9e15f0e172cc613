#include "core/BrimSystem.h"
#include "core/OVFuncs.h"
#include "platform/AppPath.h"
#include "support/RecordingLauncher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

void touch(const QString &path, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

class ShellFunctions : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &rel) const { return dir.path() + u'/' + rel; }

    QTemporaryDir dir;
    RecordingLauncher launcher;
};

} // namespace

TEST_F(ShellFunctions, FoldersAndFilesGoToTheFileManager)
{
    touch(path("sub/file.txt"));
    EXPECT_TRUE(OpenFolder(path("sub"), {}));
    EXPECT_TRUE(OpenFolder(path("sub/"), "file.txt"));
    EXPECT_TRUE(OpenFolder(path("sub"), "missing.txt"));
    EXPECT_TRUE(SelectInExplorer(path("sub/file.txt")));
    EXPECT_TRUE(ShowFileProperties(path("sub/file.txt")));
    EXPECT_EQ(
        launcher.calls,
        (QStringList {"folder|" + path("sub/"), "item|" + path("sub/file.txt"), "folder|" + path("sub/"),
                      "item|" + path("sub/file.txt"), "properties|" + path("sub/file.txt")}));

    // Nothing is started for what does not exist.
    launcher.calls.clear();
    EXPECT_FALSE(OpenFolder(path("nope"), {}));
    EXPECT_FALSE(OpenFolder({}, {}));
    EXPECT_FALSE(SelectInExplorer(path("sub/missing.txt")));
    EXPECT_FALSE(SelectInExplorer(path("sub")));
    EXPECT_FALSE(ShowFileProperties(path("nope")));
    EXPECT_TRUE(launcher.calls.isEmpty());

    launcher.succeed = false;
    EXPECT_FALSE(OpenFolder(path("sub"), {}));
}

TEST_F(ShellFunctions, OpeningAndStartingPrograms)
{
    touch(path("tool"), true);
    touch(path("doc.txt"));
    EXPECT_FALSE(ShellOpen("   "));
    EXPECT_TRUE(ShellOpen(" http://127.0.0.1:8770/help.html "));
    EXPECT_TRUE(ShellOpen(path("doc.txt")));
    EXPECT_TRUE(ShellOpen(path("tool")));
    EXPECT_TRUE(ShellExecuteOpen(path("tool"), "-popup 5 \"two words\"", SW_SHOWNORMAL));
    EXPECT_TRUE(ShellExecuteOpen(path("doc.txt"), "-x", SW_SHOWNORMAL));
    EXPECT_FALSE(OpenHelpFile(" "));
    EXPECT_TRUE(OpenHelpFile(path("Langs/1033/Help.chm")));
    RunCommandLine(QString("'%1' --flag \"a b\" c\\ d").arg(path("tool")));
    RunCommandLine(QString());
    EXPECT_EQ(launcher.calls,
              (QStringList {"open|http://127.0.0.1:8770/help.html", "open|" + path("doc.txt"),
                            "start|" + path("tool"), "start|" + path("tool") + "|-popup|5|two words",
                            "open|" + path("doc.txt"), "open|" + path("Langs/1033/Help.chm"),
                            "start|" + path("tool") + "|--flag|a b|c d"}));
}

TEST_F(ShellFunctions, TessalyIsStartedFromTheApplicationFolder)
{
    platform::setApplicationDirectoryOverride(dir.path());
    EXPECT_EQ(LaunchTessalyPopup(kTessalyNetworkDiagnosis), kTessalyMissing);
    EXPECT_TRUE(launcher.calls.isEmpty());
    touch(path("Tessaly"), false); // not executable: never opened as a document without its arguments
    EXPECT_EQ(LaunchTessalyPopup(kTessalyNetworkDiagnosis), kTessalyStartFailed);
    EXPECT_TRUE(launcher.calls.isEmpty());
    QFile::remove(path("Tessaly"));
    touch(path("Tessaly"), true);
    EXPECT_EQ(LaunchTessalyPopup(kTessalyNetworkDiagnosis), 0u);
    EXPECT_EQ(launcher.calls, QStringList {"start|" + path("Tessaly") + "|-popup|69682"});
    launcher.succeed = false;
    EXPECT_EQ(LaunchTessalyPopup(77938), kTessalyStartFailed);
    platform::setApplicationDirectoryOverride({});
}

TEST_F(ShellFunctions, SearchUrlsCarryTheTextButStayValid)
{
    struct Case
    {
        QString text;
        QString tmpl;
        QString url;
    } cases[] = {
        {"notepad.exe", "http://127.0.0.1:8770/find?q=%s", "http://127.0.0.1:8770/find?q=notepad.exe"},
        // The text goes in as typed: '&' and '+' keep their meaning in the query.
        {"a&b+c", "http://h/?q=%s&x=1", "http://h/?q=a&b+c&x=1"},
        // Blanks, quotes, angle brackets, controls and non-ASCII are escaped.
        {"my app \"x\" <y>\n", "http://h/?q=%s", "http://h/?q=my%20app%20%22x%22%20%3Cy%3E%0A"},
        {QString::fromUtf8("進程 é"), "http://h/?q=%s", "http://h/?q=%E9%80%B2%E7%A8%8B%20%C3%A9"},
        // A '%' that starts an escape stays; a stray one is escaped itself.
        {"100%25 %zz", "http://h/?q=%s", "http://h/?q=100%25%20%25zz"},
        {"x", "   ", "https://www.bing.com/search?&q=x"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MakeSearchUrl(c.text, c.tmpl), c.url) << c.text.toStdString();

    SearchOnline("   ", "http://h/?q=%s");
    EXPECT_TRUE(launcher.calls.isEmpty());
    SearchOnline("svchost.exe");
    EXPECT_EQ(launcher.calls, QStringList {"open|https://www.bing.com/search?&q=svchost.exe"});
}

TEST_F(ShellFunctions, ClearDirectoryEmptiesOrFails)
{
    touch(path("d/a.txt"));
    touch(path("d/deep/b.txt"));
    EXPECT_TRUE(ClearDirectory(path("d/")));
    EXPECT_TRUE(QFileInfo(path("d")).isDir());
    EXPECT_TRUE(QDir(path("d")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));

    EXPECT_FALSE(ClearDirectory(path("missing")));
    EXPECT_FALSE(QFileInfo::exists(path("missing")));
    EXPECT_FALSE(ClearDirectory({}));
    EXPECT_FALSE(ClearDirectory("/"));
    touch(path("plain"));
    EXPECT_FALSE(ClearDirectory(path("plain")));

    // A link to a folder is replaced by an empty folder; what it pointed at stays.
    touch(path("target/keep.txt"));
    ASSERT_TRUE(QFile::link(path("target"), path("link")));
    EXPECT_TRUE(ClearDirectory(path("link")));
    EXPECT_TRUE(QFileInfo::exists(path("target/keep.txt")));
    EXPECT_TRUE(QFileInfo(path("link")).isDir());
    EXPECT_FALSE(QFileInfo(path("link")).isSymLink());
}

TEST_F(ShellFunctions, FindFileExExpandsVariablesAndSearchesPath)
{
    touch(path("bin/prog"), true);
    touch(path("data/my file.txt"));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("OV_TEST_DIR", dir.path().toUtf8());
    qputenv("PATH", "/nonexistent:" + dir.path().toUtf8() + "/bin");
    struct Case
    {
        QString name;
        bool found;
    } cases[] = {
        {path("bin/prog"), true},
        {"$OV_TEST_DIR/bin/prog", true},
        {"${OV_TEST_DIR}/bin/prog", true},
        {"%OV_TEST_DIR%/bin/prog", true},
        {"%OV_TEST_DIR%/data/my file.txt", true},
        {"prog", true}, // found in PATH
        {"prog --install /S", false}, // cut texts are tried as they are, not along PATH
        {path("bin/prog") + " --install /S", true}, // a program followed by its arguments
        {"$OV_NOT_SET/bin/prog", false},
        {"%OV_NOT_SET%", false},
        {"missing", false},
        {"", false},
        {path("bin"), false}, // a folder is no file
    };
    for (const Case &c : cases)
        EXPECT_EQ(FindFileEx(c.name), c.found) << c.name.toStdString();

    // Without PATH entries the cutting at blanks does not run.
    qputenv("PATH", "");
    EXPECT_FALSE(FindFileEx(path("bin/prog") + " --install"));
    qputenv("PATH", oldPath);
    qunsetenv("OV_TEST_DIR");
}

TEST(ShellCompare, TextAndFloatOrders)
{
    EXPECT_LT(CompareTextOrder("abc", "ABD", true), 0);
    EXPECT_GT(CompareTextOrder("abc", "ABD", false), 0);
    EXPECT_EQ(CompareTextOrder("Setup.EXE", "setup.exe", true), 0);
    EXPECT_LT(CompareTextOrder("ab", "abc", true), 0);
    // Only ASCII letters fold; other letters compare by code.
    EXPECT_NE(CompareTextOrder(QString::fromUtf8("é"), QString::fromUtf8("É"), true), 0);
    // '_' lies between upper and lower case letters: folding makes it sort after letters.
    EXPECT_GT(CompareTextOrder("_", "a", true), 0);

    EXPECT_EQ(CompareFloatOrder(true, 2.0, 1.0), 1);
    EXPECT_EQ(CompareFloatOrder(false, 2.0, 1.0), -1);
    EXPECT_EQ(CompareFloatOrder(true, 1.5, 1.5), 0);
    EXPECT_EQ(CompareFloatOrder(false, 1.5, 1.5), 0);
    // NaN keeps a consistent order, so sorting with it is safe.
    std::vector<double> v {3, NAN, 1, NAN, 2};
    std::sort(v.begin(), v.end(), [](double a, double b) { return CompareFloatOrder(true, a, b) < 0; });
    EXPECT_TRUE(std::isnan(v[0]) && std::isnan(v[1]));
    EXPECT_EQ(v[2], 1);
    EXPECT_EQ(v[4], 3);
}

TEST(ShellSystem, VersionAndPrivilegeAnswers)
{
    EXPECT_EQ(GetFileVersionText("/nonexistent/file"), "");
    EXPECT_EQ(GetFileVersionText(""), ""); // test programs carry no version note
    EXPECT_EQ(EnablePrivilege("SeNoSuchPrivilege"), 1313u);
    const quint32 debug = EnablePrivilege("SeDebugPrivilege");
    EXPECT_TRUE(debug == 0 || debug == 1300) << debug;
    EXPECT_TRUE(GetAppPath().endsWith('/'));
}

TEST(ShellSystem, CommandLinesSplitLikeAShellWithoutOne)
{
    struct Case
    {
        QString line;
        QStringList words;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a  b\tc", {"a", "b", "c"}},
        {"\"/opt/My App/uninst\" /S", {"/opt/My App/uninst", "/S"}},
        {"'it''s' x", {"its", "x"}},
        {"a\\ b \"q\\\"uote\" '$HOME'", {"a b", "q\"uote", "$HOME"}},
        {"\"\"", {""}},
        {"unterminated \"quote here", {"unterminated", "quote here"}},
        {"trailing\\", {"trailing\\"}},
        {"x;rm -rf /", {"x;rm", "-rf", "/"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line.toStdString();
}
