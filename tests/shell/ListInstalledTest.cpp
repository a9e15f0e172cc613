// orvane --list-installed, run as a script runs it: no display, output read from its pipe.
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ListInstalled : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        exe = dir.filePath("orvane");
        ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_EXE), exe));
        // The program's own registry: one application, one update of it, one system part.
        ASSERT_TRUE(testsupport::writeFile(
            dir.filePath("Registry/HKEY_CURRENT_USER.reg"),
            "WINE REGISTRY Version 2\n"
            "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Ed] 1\n"
            "\"DisplayName\"=\"Editor \xc3\xa9\"\n\"DisplayVersion\"=\"1.2\"\n\"Publisher\"=\"Maker\"\n"
            "\"UninstallString\"=\"/opt/editor/uninstall --all\"\n"
            "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\EdFix] 1\n"
            "\"DisplayName\"=\"Editor Fix\"\n\"ParentDisplayName\"=\"Editor \xc3\xa9\"\n"
            "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Part] 1\n"
            "\"DisplayName\"=\"Part\"\n\"SystemComponent\"=dword:00000001\n"));
        env = QProcessEnvironment::systemEnvironment();
        // No display at all: a window or the web engine could not start.
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert("HOME", dir.filePath("home"));
        env.insert("XDG_DATA_HOME", dir.filePath("home/.local/share"));
        // No application folders: every package is then a part of the system.
        env.insert("XDG_DATA_DIRS", dir.filePath("none"));
    }

    QStringList run(const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(exe, args);
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
        return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    // The installed packages as the package manager lists them.
    static QSet<QString> dpkgPackages()
    {
        QProcess p;
        p.start(QStringLiteral("dpkg-query"),
                {QStringLiteral("-W"), QStringLiteral("-f=${db:Status-Status} ${binary:Package}\\n")});
        EXPECT_TRUE(p.waitForFinished(60000));
        QSet<QString> names;
        for (const QString &line :
             QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
            if (!line.startsWith(QLatin1String("config-files"))
                && !line.startsWith(QLatin1String("not-installed")))
                names.insert(line.section(u' ', 1));
        return names;
    }

    QTemporaryDir dir;
    QString exe;
    QProcessEnvironment env;
};

} // namespace

TEST_F(ListInstalled, DefaultListAndSystemPackagesWithAll)
{
    const QString editor
        = QString::fromUtf8("Editor \xc3\xa9\t1.2\tMaker\tregistry\t/opt/editor/uninstall --all");
    EXPECT_EQ(run({"--list-installed"}), QStringList {editor});

    const QStringList all = run({"--list-installed", "--all"});
    QSet<QString> packages;
    bool part = false, ed = false;
    for (const QString &line : all) {
        const QStringList f = line.split(u'\t');
        ASSERT_EQ(f.size(), 5) << line.toStdString();
        if (f[3] == u"package") {
            // Named as the package, removed under its qualified name ("libc6:amd64").
            const QString package = f[4].section(u' ', 2);
            EXPECT_EQ(f[4], QStringLiteral("apt-get remove ") + package) << line.toStdString();
            EXPECT_EQ(f[0], package.section(u':', 0, 0)) << line.toStdString();
            packages.insert(package);
        } else {
            EXPECT_EQ(f[3], QStringLiteral("registry"));
            part = part || f[0] == u"Part";
            ed = ed || line == editor;
        }
    }
    EXPECT_TRUE(part && ed);
    const QSet<QString> want = dpkgPackages();
    EXPECT_EQ(packages.size(), want.size());
    for (const QString &p : want)
        EXPECT_TRUE(packages.contains(p)) << p.toStdString();

    // With the machine's application folders, the default list names applications only, each of them also
    // in the full list.
    env.insert("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    const QStringList apps = run({"--list-installed"});
    const QStringList everything = run({"--list-installed", "--all"});
    EXPECT_LT(apps.size(), everything.size());
    for (const QString &line : apps)
        EXPECT_TRUE(everything.contains(line)) << line.toStdString();
}
