#include "platform/DpkgPackageIndex.h"

#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using testsupport::writeFile;

const QByteArray kStatus = "Package: tool\n"
                           "Status: install ok installed\n"
                           "Maintainer: Ann Maker <ann@example.org>\n"
                           "Architecture: amd64\n"
                           "Version: 1.2-3\n"
                           "Description: a small tool\n"
                           " Longer text that is not the summary.\n"
                           " .\n"
                           "\n"
                           "Package: libthing\n"
                           "Status: install ok installed\n"
                           "Multi-Arch: same\n"
                           "Architecture: amd64\n"
                           "Version: 2.0\n"
                           "Description: the thing library\n"
                           "\n"
                           "Package: gone\n"
                           "Status: deinstall ok config-files\n"
                           "Version: 0.1\n"
                           "Description: removed, its settings kept\n";

} // namespace

TEST(DpkgPackageIndex, FindsTheOwnerOfAFileFromFixtureLists)
{
    QTemporaryDir dir;
    const QString info = dir.filePath(QStringLiteral("info"));
    QDir().mkpath(info);
    ASSERT_TRUE(writeFile(dir.filePath(QStringLiteral("status")), kStatus));
    ASSERT_TRUE(writeFile(info + QStringLiteral("/tool.list"),
                          "/.\n/usr\n/usr/bin\n/usr/bin/tool\n/usr/share/doc/tool/README\n"));
    ASSERT_TRUE(
        writeFile(info + QStringLiteral("/libthing:amd64.list"), "/.\n/usr\n/usr/lib/libthing.so.2\n"));
    ASSERT_TRUE(writeFile(info + QStringLiteral("/gone.list"), "/usr/bin/gone\n"));
    ASSERT_TRUE(writeFile(info + QStringLiteral("/tool.md5sums"), "0123 usr/bin/other\n"));

    platform::DpkgPackageIndex index(info, dir.filePath(QStringLiteral("status")));
    index.startBuild();
    ASSERT_TRUE(index.waitUntilBuilt());
    const auto tool = index.packageOfFile(QStringLiteral("/usr/bin/tool"));
    ASSERT_TRUE(tool.has_value());
    EXPECT_EQ(tool->name, "tool");
    EXPECT_EQ(tool->version, "1.2-3");
    EXPECT_EQ(tool->summary, "a small tool");
    EXPECT_EQ(tool->maintainer, "Ann Maker <ann@example.org>");
    const auto lib = index.packageOfFile(QStringLiteral("/usr/lib/libthing.so.2"));
    ASSERT_TRUE(lib.has_value());
    EXPECT_EQ(lib->name, "libthing");
    // A package without files, a file of no package, a blank path.
    EXPECT_FALSE(index.packageOfFile(QStringLiteral("/usr/bin/gone")).has_value());
    EXPECT_FALSE(index.packageOfFile(QStringLiteral("/usr/bin/other")).has_value());
    EXPECT_FALSE(index.packageOfFile(QString()).has_value());
    EXPECT_TRUE(index.package(QStringLiteral("libthing:amd64")).has_value());
}

TEST(DpkgPackageIndex, MissingDatabaseGivesNothing)
{
    platform::DpkgPackageIndex index(QStringLiteral("/nonexistent/info"),
                                     QStringLiteral("/nonexistent/status"));
    EXPECT_FALSE(index.packageOfFile(QStringLiteral("/usr/bin/ls")).has_value());
}

TEST(DpkgPackageIndex, SystemBinaryUnderEitherSpelling)
{
    if (!QFileInfo::exists(QStringLiteral("/var/lib/dpkg/info/coreutils.list")))
        GTEST_SKIP() << "no package database";
    platform::DpkgPackageIndex index;
    // The list says /bin/ls; a running ls reports the resolved /usr/bin/ls where /bin is a link.
    for (const QString &path :
         {QStringLiteral("/bin/ls"), QFileInfo(QStringLiteral("/bin/ls")).canonicalFilePath()}) {
        const auto owner = index.packageOfFile(path);
        ASSERT_TRUE(owner.has_value()) << path.toStdString();
        EXPECT_EQ(owner->name, "coreutils");
        EXPECT_FALSE(owner->summary.isEmpty());
    }
}
