#include "procmon/FileProp.h"

#include "core/BrimMultiLangs.h"
#include "platform/DpkgPackageIndex.h"
#include "procmon/OVProcDB.h"
#include "procmon/ProcessDescription.h"
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
