#include "procmon/FileProp.h"

#include "core/BrimMultiLangs.h"
#include "platform/DesktopIcons.h"
#include "platform/DpkgPackageIndex.h"
#include "procmon/OVProcDB.h"
#include "procmon/ProcessDescription.h"
#include "procmon/Processes.h"
#include "support/Files.h"
#include "support/PeTestImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const petest::StringList kTwelve = {
    {"Comments", "c1"},     {"CompanyName", "c2"},     {"FileDescription", "c3"}, {"FileVersion", "c4"},
    {"InternalName", "c5"}, {"LegalCopyright", "c6"},  {"LegalTrademarks", "c7"}, {"OriginalFilename", "c8"},
    {"ProductName", "c9"},  {"ProductVersion", "c10"}, {"PrivateBuild", "c11"},   {"SpecialBuild", "c12"},
};

// A package index over an empty database, so nothing is found by accident.
platform::DpkgPackageIndex &emptyIndex()
{
    static platform::DpkgPackageIndex index(QStringLiteral("/nonexistent/info"),
                                            QStringLiteral("/nonexistent/status"));
    return index;
}

} // namespace

TEST(FileProp, TwelveStringsOfTheFirstTranslation)
{
    const testsupport::ScratchDir dir;
    const QString tool = dir.file("tool.exe", petest::peImage(petest::versionResource("040904B0", kTwelve)));
    TFileProp props(&emptyIndex());
    ASSERT_TRUE(props.Open(tool));
    EXPECT_EQ(props.FileName(), tool);
    const TVersionInfo &v = props.VersionInfo();
    const QString got[] = {v.Comments,     v.CompanyName,    v.FileDescription, v.FileVersion,
                           v.InternalName, v.LegalCopyright, v.LegalTrademarks, v.OriginalFilename,
                           v.ProductName,  v.ProductVersion, v.PrivateBuild,    v.SpecialBuild};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(got[i], QStringLiteral("c%1").arg(i + 1)) << i;

    // Strings stored under another language than the first translation are not read.
    const QString other = dir.file(
        "other.exe",
        petest::peImage(petest::versionResource("080404B0", {{"FileDescription", "x"}}, 0x040904B0u)));
    ASSERT_TRUE(props.Open(other));
    EXPECT_TRUE(props.VersionInfo().FileDescription.isEmpty());
    EXPECT_TRUE(props.VersionInfo().Comments.isEmpty());

    // Opening the next file drops the first one's strings; a missing file fails.
    ASSERT_TRUE(props.Open(tool));
    const QString plain = dir.file("notes.txt", "plain text");
    ASSERT_TRUE(props.Open(plain));
    EXPECT_TRUE(props.VersionInfo().FileDescription.isEmpty());
    EXPECT_FALSE(props.Open(dir.path("missing.exe")));
    EXPECT_TRUE(props.FileName().isEmpty());
    EXPECT_FALSE(props.Open(QString()));
    props.Close();
    EXPECT_TRUE(props.VersionInfo().CompanyName.isEmpty());
}

TEST(FileProp, PackageFieldsForAFileOfAPackage)
{
    const testsupport::ScratchDir dir;
    const QString program = dir.file("prog", "#!/bin/sh\n");
    ASSERT_TRUE(dir.write("status",
                          "Package: prog\nStatus: install ok installed\nMaintainer: Ann <ann@example.org>\n"
                          "Version: 3.1-2\nDescription: does a thing\n more\n"));
    ASSERT_TRUE(dir.write("info/prog.list", QFile::encodeName(program) + "\n"));
    platform::DpkgPackageIndex index(dir.path("info"), dir.path("status"));
    TFileProp props(&index);
    ASSERT_TRUE(props.Open(program));
    const TVersionInfo &v = props.VersionInfo();
    EXPECT_EQ(v.FileDescription, "does a thing");
    EXPECT_EQ(v.CompanyName, "Ann <ann@example.org>");
    EXPECT_EQ(v.ProductName, "prog");
    EXPECT_EQ(v.FileVersion, "3.1-2");
    EXPECT_EQ(v.ProductVersion, "3.1-2");
}

TEST(FileProp, InstalledSystemBinary)
{
    if (!QFileInfo::exists(QStringLiteral("/var/lib/dpkg/info/coreutils.list")))
        GTEST_SKIP() << "no package database";
    TFileProp props;
    ASSERT_TRUE(props.Open(QStringLiteral("/bin/ls")));
    EXPECT_EQ(props.VersionInfo().ProductName, "coreutils");
    EXPECT_FALSE(props.VersionInfo().FileDescription.isEmpty());
    EXPECT_FALSE(props.VersionInfo().FileVersion.isEmpty());
}

TEST(ProcessDescription, KnowledgeBaseOnlyUnderSimplifiedChinese)
{
    const testsupport::ScratchDir dir;
    const QString tool = dir.file("tool.exe", petest::peImage());
    TFileProp props(&emptyIndex());
    procmon::OVProcDB knowledge(dir.path("missing.db"));

    // No language component: the file's own description, and the knowledge base is not opened.
    SetOVMultiLangs(nullptr);
    EXPECT_EQ(OVProcessDescription("tool.exe", tool, props, &knowledge), "Test tool");
    EXPECT_EQ(OVProcessDescription("tool.exe", dir.path("gone"), props, &knowledge), "");

    TBrimMultiLangs langs;
    langs.SetDefaultText("String.ProcessDesc.Unknown", "(Unknown)");
    const QString english = dir.file("en.ini", "[HEAD]\nLCID=1033\nSelected=1\n");
    langs.LoadLanguageList({english});
    SetOVMultiLangs(&langs);
    EXPECT_EQ(OVProcessDescription("tool.exe", tool, props, &knowledge), "Test tool");
    EXPECT_EQ(knowledge.OpenCount(), 0);

    // Simplified Chinese asks the knowledge base; a missing one knows nothing, also of odd
    // names, and the file's own description stands in before the unknown mark.
    const QString chinese = dir.file("zh.ini", "[HEAD]\nLCID= 2052\nSelected=1\n");
    langs.LoadLanguageList({chinese});
    ASSERT_TRUE(langs.CurrentLanguage().has_value());
    EXPECT_EQ(OVProcessDescription("tool.exe", tool, props, &knowledge), "Test tool");
    EXPECT_EQ(OVProcessDescription(QStringLiteral("x\n) R (") + QChar(0xFFFD), QString(), props, &knowledge),
              "(Unknown)");
    EXPECT_GT(knowledge.OpenCount(), 0);
    SetOVMultiLangs(nullptr);
}

TEST(ProcessDescription, WhatRunsIsDescribedInBothLanguages)
{
    const testsupport::ScratchDir dir;
    QDir().mkpath(dir.path("info"));
    QDir().mkpath(dir.path("apps"));
    QDir().mkpath(dir.path("bin"));
    const QString script = dir.file("bin/nightly-report", "#!/bin/sh\n");
    const QString portable = dir.file("bin/portable-tool", "not a packaged file");
    ASSERT_TRUE(dir.write("status",
                          "Package: reporter\nStatus: install ok installed\nArchitecture: all\n"
                          "Version: 1\nDescription: makes nightly reports\n\n"));
    ASSERT_TRUE(dir.write("info/reporter.list", QFile::encodeName(script) + "\n"));
    platform::DpkgPackageIndex packages(dir.path("info"), dir.path("status"));
    ASSERT_TRUE(
        dir.write("apps/portable.desktop",
                  "[Desktop Entry]\nType=Application\nName=Portable\nExec=" + QFile::encodeName(portable)
                      + " %f\nComment=Portable tool\nComment[zh_CN]=便携工具\n"));
    ASSERT_TRUE(
        dir.write("apps/org.example.Paint.desktop",
                  "[Desktop Entry]\nType=Application\nName=Paint\nExec=flatpak run org.example.Paint\n"
                  "GenericName=Painting program\n"));
    // An entry that starts a shell says nothing about every other shell.
    ASSERT_TRUE(dir.write("apps/shell.desktop",
                          "[Desktop Entry]\nType=Application\nName=Shell thing\n"
                          "Exec=sh -c 'echo hi'\nComment=Not every shell\n"));
    platform::setDesktopEntryFolders({dir.path("apps")});

    TFileProp props(&packages);
    procmon::OVProcDB knowledge(dir.path("missing.db"));
    TBrimMultiLangs langs;
    langs.SetDefaultText("String.ProcessDesc.Unknown", "(Unknown)");
    langs.SetDefaultText("FormOVMain.Caption", "Orvane");
    SetOVMultiLangs(&langs);
    TProcesses procs;

    struct Case
    {
        const char *what;
        QString path, interpreter, flatpak, application;
        bool own;
        QString english, chinese;
    };
    const QString dash = QFileInfo(QStringLiteral("/bin/sh")).canonicalFilePath();
    const Case cases[] = {
        {"a script, by its package", script, dash, "", "", false, "makes nightly reports",
         "makes nightly reports"},
        {"a program outside the packages, by its desktop entry", portable, "", "", "", false, "Portable tool",
         "便携工具"},
        {"a sandbox, by its application id", "/app/bin/paint", "", "org.example.Paint", "", false,
         "Painting program", "Painting program"},
        {"the application's own description first", portable, "", "", "Edits things", false, "Edits things",
         "Edits things"},
        {"this program's own process", "/usr/lib/helper", "", "", "", true, "Orvane", "Orvane"},
        {"a shell is not the shell entry's", dash, "", "", "", false, "", "(Unknown)"},
    };
    for (const char *lcid : {"1033", "2052"}) {
        const QString file = dir.file(QStringLiteral("lang%1.ini").arg(lcid),
                                      QByteArray("[HEAD]\nLCID=") + lcid + "\nSelected=1\n");
        langs.LoadLanguageList({file});
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(lcid) + ": " + c.what);
            TProcessItem item(&procs);
            item.ProcessID = c.own ? procs.Viewer().ProcessID : 4321;
            item.Name = QFileInfo(c.path).fileName();
            item.ImagePath = c.path;
            item.InterpreterPath = c.interpreter;
            item.FlatpakId = c.flatpak;
            EXPECT_EQ(OVProcessDescription(item, props, &knowledge, c.application),
                      QLatin1String(lcid) == QLatin1String("2052") ? c.chinese : c.english);
        }
    }
    SetOVMultiLangs(nullptr);
    platform::setDesktopEntryFolders({});
}
