#include "platform/Launcher.h"

#include "support/Files.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDir>
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

// Whether the desktop can show a type, with desktop entries and PATH in a
// scratch folder: user entries in home/applications, system ones in sys/applications.
class DesktopHandlers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (const char *name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "PATH"})
            saved.emplace_back(name, qgetenv(name));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("home")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(dir.filePath("sys")));
        qputenv("PATH", QFile::encodeName(dir.filePath("bin")));
    }
    void TearDown() override
    {
        for (const auto &[name, value] : saved)
            qputenv(name, value);
    }

    void entry(const QString &relativePath, const QByteArray &text)
    {
        ASSERT_TRUE(testsupport::writeFile(dir.filePath(relativePath), text)) << relativePath.toStdString();
    }
    void program(const QString &name)
    {
        const QString path = dir.filePath("bin/" + name);
        ASSERT_TRUE(testsupport::writeFile(path, "#!/bin/sh\n"));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }

    QTemporaryDir dir;
    std::vector<std::pair<const char *, QByteArray>> saved;
};

TEST_F(DesktopHandlers, AnEntryForTheTypeOrAKnownProgramCounts)
{
    const QByteArray viewer = "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n";
    const QByteArray chm = "application/vnd.ms-htmlhelp";
    const char *sys = "sys/applications/viewer.desktop";
    struct Case
    {
        const char *what;
        std::vector<std::pair<const char *, QByteArray>> entries;
        const char *program; // put on PATH when set
        bool expected;
    };
    const Case cases[] = {
        {"nothing installed", {}, nullptr, false},
        {"a system entry declaring the type",
         {{sys, viewer + "MimeType=text/plain;" + chm + ";\n"}},
         nullptr,
         true},
        {"a user entry in a subfolder",
         {{"home/applications/kde/viewer.desktop", viewer + "MimeType=" + chm + "\n"}},
         nullptr,
         true},
        {"an entry declaring an alias of the type",
         {{sys, viewer + "MimeType=application/x-chm;\n"}},
         nullptr,
         true},
        {"an entry declaring other types only",
         {{sys, viewer + "MimeType=text/plain;text/html;\n"}},
         nullptr,
         false},
        {"the type in another group than the main one",
         {{sys, viewer + "[Desktop Action x]\nMimeType=" + chm + ";\n"}},
         nullptr,
         false},
        {"a hidden entry", {{sys, viewer + "Hidden=true\nMimeType=" + chm + ";\n"}}, nullptr, false},
        {"an entry whose TryExec program is missing",
         {{sys, viewer + "TryExec=viewer\nMimeType=" + chm + ";\n"}},
         nullptr,
         false},
        {"an entry whose TryExec program is there",
         {{sys, viewer + "TryExec=viewer\nMimeType=" + chm + ";\n"}},
         "viewer",
         true},
        {"a system entry the user's entry of the same name hides",
         {{sys, viewer + "MimeType=" + chm + ";\n"},
          {"home/applications/viewer.desktop", "[Desktop Entry]\nHidden=true\n"}},
         nullptr,
         false},
        {"a known viewer on PATH", {}, "kchmviewer", true},
    };
    // The type database knows the alias (it is read once per process, so it stays for every case).
    entry("sys/mime/packages/chm.xml",
          "<?xml version=\"1.0\"?>\n<mime-info "
          "xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
          "<mime-type type=\"application/vnd.ms-htmlhelp\"><alias type=\"application/x-chm\"/>"
          "<glob pattern=\"*.chm\"/></mime-type>\n</mime-info>\n");
    for (const Case &c : cases) {
        for (const char *folder : {"home", "sys/applications", "bin"})
            QDir(dir.filePath(folder)).removeRecursively();
        for (const auto &[path, text] : c.entries)
            entry(path, text);
        if (c.program)
            program(c.program);
        EXPECT_EQ(platform::launcher().canOpenType(QString::fromLatin1(chm), {"xchm", "kchmviewer"}),
                  c.expected)
            << c.what;
    }
}
