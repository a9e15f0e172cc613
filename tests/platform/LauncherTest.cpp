#include "platform/Launcher.h"

#include "support/Files.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

// The system launcher with a stand-in "xdg-open" first on PATH and no
// session bus, so the file-manager calls fall back to opening the folder.
class SystemLauncher : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        log = dir.filePath("opened");
        const QString fake = dir.filePath("xdg-open");
        QFile f(fake);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n")
                    .arg(log)
                    .toUtf8());
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.path()) + ':' + oldPath);
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void TearDown() override { qputenv("PATH", oldPath); }

    QStringList opened(int expectedLines)
    {
        QStringList lines;
        testsupport::waitUntil(
            [&] {
                lines = QString::fromUtf8(testsupport::readFile(log)).split(u'\n', Qt::SkipEmptyParts);
                return lines.size() >= expectedLines;
            },
            5000);
        return lines;
    }

    QTemporaryDir dir;
    QString log;
    QByteArray oldPath;
};

TEST_F(SystemLauncher, OpensThroughTheDesktopOpenerWithoutAShell)
{
    int argc = 1;
    char arg0[] = "test";
    char *argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    platform::ILauncher &l = platform::launcher();
    EXPECT_TRUE(l.openWithDesktop("https://example.invalid/a b;$(x)"));
    EXPECT_TRUE(l.openWithDesktop("-rf"));
    EXPECT_TRUE(l.showItem(dir.filePath("sub/file.txt")));
    EXPECT_TRUE(l.showFolder(dir.path()));
    EXPECT_FALSE(l.openWithDesktop({}));
    const QStringList lines = opened(4);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.contains("https://example.invalid/a b;$(x)"));
    EXPECT_TRUE(lines.contains("./-rf")) << "an option-like target must not reach the opener as an option";
    EXPECT_TRUE(lines.contains(dir.filePath("sub")));
    EXPECT_TRUE(lines.contains(dir.path()));
    EXPECT_FALSE(l.startProgram({"/nonexistent/program"}));
}

TEST_F(SystemLauncher, FailsWhenTheOpenerFindsNoProgram)
{
    // The stand-in reports failure for targets named "unopenable" (as the
    // real opener does when no program handles a type) and success otherwise.
    QFile f(dir.filePath("xdg-open"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("#!/bin/sh\ncase \"$1\" in *unopenable*) exit 3;; esac\nexit 0\n");
    f.close();
    platform::ILauncher &l = platform::launcher();
    EXPECT_FALSE(l.openWithDesktop(dir.filePath("unopenable.xyz")));
    EXPECT_TRUE(l.openWithDesktop(dir.filePath("fine.txt")));
}
