#include "installed/InstalledSource.h"
#include "installed/UninstManager.h"
#include "platform/PackageInstall.h"
#include "platform/Registry.h"
#include "support/Files.h"
#include "support/ScratchPackages.h"
#include "support/Wait.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

namespace {

using testsupport::ScratchDir;

QByteArray paragraph(const char *name, const char *version, const char *status, const char *extra = "")
{
    return QByteArray("Package: ") + name + "\nStatus: install ok " + status + "\nVersion: " + version
        + "\nArchitecture: amd64\nMaintainer: Pack Ager <pack@example.org>\nDescription: the " + name
        + " package\n" + extra + "\n";
}

const char *const kEditorMetainfo = R"(<?xml version="1.0" encoding="UTF-8"?>
<component type="desktop-application">
  <id>org.example.Editor</id>
  <name>Editor</name>
  <name xml:lang="zh_CN">编辑器</name>
  <summary>Edits text</summary>
  <summary xml:lang="zh_CN">编辑文本</summary>
  <developer_name>Example Makers</developer_name>
  <url type="homepage">https://editor.example.org/</url>
  <url type="help">https://editor.example.org/help</url>
  <launchable type="desktop-id">org.example.Editor.desktop</launchable>
</component>
)";

// A scratch machine: a package database, metainfo and applications folders
// in a user's and a system data folder, and an icon theme.
class PackageSource : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::coreApp();
        platform::setRegistryDirectory(dir.path(QStringLiteral("Registry")));
        const QString sys = dir.path(QStringLiteral("usr/share"));
        const QString home = dir.path(QStringLiteral("home/share"));
        ASSERT_TRUE(
            dir.write(QStringLiteral("usr/share/metainfo/org.example.Editor.metainfo.xml"), kEditorMetainfo));
        // A component of another kind is no application.
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/metainfo/libfoo.metainfo.xml"),
                              "<component type=\"addon\"><id>foo</id><name>Foo</name></component>"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/org.example.Editor.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Editor (menu)\nIcon=editor\n"
                              "Exec="
                                  + dir.path("opt/editor/bin/editor").toUtf8() + " %F\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("opt/editor/bin/editor"), "#!/bin/sh\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/suite-writer.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Suite Writer\nName[zh_CN]=套件文字\n"
                              "Name[zh]=套件\nComment=Writes\nIcon="
                                  + dir.path("pics/writer.svg").toUtf8() + "\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/suite/calc.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Suite Calc\nName[zh]=套件计算\n"
                              "Icon=suite-calc\n[Desktop Action New]\nName=Not the name\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/hidden.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Hidden One\nHidden=true\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/nodisplay.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Helper\nNoDisplay=true\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/link.desktop"),
                              "[Desktop Entry]\nType=Link\nName=A Link\nURL=https://example.org\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/unowned.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Nobody's\n"));
        // The user's entry of the same id hides the system's: menus show the user's.
        ASSERT_TRUE(dir.write(QStringLiteral("home/share/applications/tool.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Tool\nNoDisplay=true\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/tool.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Tool\n"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/icons/hicolor/16x16/apps/editor.png"), "small"));
        ASSERT_TRUE(dir.write(QStringLiteral("usr/share/icons/hicolor/48x48/apps/editor.png"), "png"));
        ASSERT_TRUE(
            dir.write(QStringLiteral("usr/share/icons/hicolor/scalable/apps/suite-calc.svg"), "<svg/>"));
        ASSERT_TRUE(dir.write(QStringLiteral("pics/writer.svg"), "<svg/>"));
        ASSERT_TRUE(QDir().mkpath(dir.path(QStringLiteral("usr/share/suite"))));

        status = paragraph("editor", "1.0-1", "installed")
            + paragraph("suite", "2:3.1", "installed", "Homepage: https://suite.example.org\n")
            + paragraph("libfoo", "0.9", "installed", "Homepage: https://foo.example.org\n")
            + paragraph("hidden-pkg", "1", "installed") + paragraph("tool", "1", "installed")
            + paragraph("removed", "1", "config-files");
        ASSERT_TRUE(dir.write(QStringLiteral("admin/status"), status));
        list("editor",
             {"usr/share/metainfo/org.example.Editor.metainfo.xml",
              "usr/share/applications/org.example.Editor.desktop"});
        list("suite",
             {"usr/share/applications/suite-writer.desktop", "usr/share/applications/suite/calc.desktop"});
        list("libfoo", {"usr/share/metainfo/libfoo.metainfo.xml", "usr/share/applications/link.desktop"});
        list("hidden-pkg",
             {"usr/share/applications/hidden.desktop", "usr/share/applications/nodisplay.desktop"});
        list("tool", {"usr/share/applications/tool.desktop"});
        list("removed", {"usr/share/applications/unowned.desktop"});
        // The editor's list is dated: its date is the package's install date.
        struct utimbuf when
        {
        };
        when.actime = when.modtime = QDateTime(QDate(2024, 5, 17), QTime(12, 0)).toSecsSinceEpoch();
        ::utime(QFile::encodeName(dir.path(QStringLiteral("admin/info/editor.list"))).constData(), &when);

        installed::PackageSourceOptions o;
        o.StatusFile = dir.path(QStringLiteral("admin/status"));
        o.DataFolders = {home, sys};
        o.Locale = [this] { return locale; };
        std::vector<std::unique_ptr<installed::InstalledSource>> sources;
        sources.push_back(installed::MakePackageSource(o));
        manager.SetSources(std::move(sources));
    }
    void TearDown() override { platform::setRegistryDirectory(QString()); }

    void list(const char *package, const QStringList &files)
    {
        QByteArray text = "/.\n";
        for (const QString &f : files)
            text += QFile::encodeName(dir.path(f)) + '\n';
        ASSERT_TRUE(dir.write(QStringLiteral("admin/info/%1.list").arg(QLatin1String(package)), text));
    }

    // One line per listed entry: what the list and the details show of it.
    QStringList rows()
    {
        manager.Rescan();
        QStringList out;
        for (TUninstItem *e : installed::ListedEntries(manager)) {
            const QString icon = manager.IconFiles().value(e->SmallIconIndex);
            out << QStringList {e->DisplayName,
                                e->Version,
                                e->Publisher,
                                e->SourceId,
                                e->SystemComponent ? QStringLiteral("system") : QStringLiteral("app"),
                                e->Siblings.join(u','),
                                icon.isEmpty() ? QString() : icon.mid(dir.path().size() + 1),
                                e->AboutLink,
                                e->HelpLink,
                                e->InstallLocation.mid(dir.path().size()),
                                e->Summary}
                       .join(u'|');
        }
        return out;
    }

    ScratchDir dir;
    QByteArray status;
    QString locale = QStringLiteral("en_US");
    TUninstManager manager;
};

} // namespace

TEST_F(PackageSource, ApplicationsByLanguageAndSystemPackagesOnRequest)
{
    const QString suite = dir.path(QStringLiteral("usr/share/suite")).mid(dir.path().size());
    struct Case
    {
        const char *locale;
        bool system;
        QStringList rows;
    };
    const Case cases[] = {
        {"en_US",
         false,
         // The editor lives in its program's folder, the suite in its data folder.
         {"Editor|1.0-1|Example Makers|editor|app||usr/share/icons/hicolor/48x48/apps/editor.png|"
          "https://editor.example.org/|https://editor.example.org/help|/opt/editor/bin|Edits text",
          "Suite Calc|2:3.1|Pack Ager|suite|app|Suite "
          "Writer|usr/share/icons/hicolor/scalable/apps/suite-calc.svg|"
          "https://suite.example.org||{suite}|",
          "Suite Writer|2:3.1|Pack Ager|suite|app|Suite "
          "Calc|pics/writer.svg|https://suite.example.org||{suite}|"
          "Writes"}},
        // Name[zh_CN] first, then Name[zh], then the untranslated name.
        {"zh_CN", false, {"套件计算", "编辑器", "套件文字"}},
        {"en_US",
         true,
         {"Editor", "hidden-pkg|1|Pack Ager|hidden-pkg|system||||||the hidden-pkg package",
          "libfoo|0.9|Pack Ager|libfoo|system|||https://foo.example.org|||the libfoo package", "Suite Calc",
          "Suite Writer", "tool|1|Pack Ager|tool|system||||||the tool package"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.locale + std::string(c.system ? " with system packages" : ""));
        locale = QLatin1String(c.locale);
        manager.SetShowSystemComponents(c.system);
        // The name order is the manager's (it depends on the code page): compared as sets here.
        QStringList got = rows();
        QStringList want = c.rows;
        got.sort();
        want.sort();
        for (QString &w : want)
            w.replace(QStringLiteral("{suite}"), suite);
        // Rows given by name only are compared by name.
        for (QString &g : got)
            if (!want.contains(g))
                g = g.section(u'|', 0, 0);
        got.sort();
        EXPECT_EQ(got.join(u'\n').toStdString(), want.join(u'\n').toStdString());
    }
    manager.SetShowSystemComponents(false);
    manager.Rescan();
    const TUninstItem *editor = manager.Item(0);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->Source, installed::EntrySource::Package);
    EXPECT_EQ(editor->UninstallString, QStringLiteral("apt-get remove editor"));
    EXPECT_EQ(QDate(1899, 12, 30).addDays(qint64(editor->InstallDate)), QDate(2024, 5, 17));
    // The command is there to read: starting the uninstall of a package entry runs nothing.
    manager.Item(0)->StartUninstall();
    EXPECT_EQ(manager.RunningUninstalls(), 0);
}

TEST_F(PackageSource, ARescanSeesChangedFoldersAndPackages)
{
    EXPECT_EQ(rows().size(), 3);
    // A new application of an installed package: its folder changed, the package's list names it.
    list("libfoo", {"usr/share/applications/foo.desktop"});
    ASSERT_TRUE(dir.write(QStringLiteral("usr/share/applications/foo.desktop"),
                          "[Desktop Entry]\nType=Application\nName=Foo Viewer\n"));
    ASSERT_TRUE(dir.write(QStringLiteral("admin/status"), status + paragraph("newpkg", "5", "installed")));
    EXPECT_TRUE(rows().join(u'\n').contains(QStringLiteral("Foo Viewer|0.9|Pack Ager|libfoo|app")));
    // A removed package leaves with its applications.
    QByteArray without = status;
    without.replace(paragraph("suite", "2:3.1", "installed", "Homepage: https://suite.example.org\n"), "");
    ASSERT_TRUE(dir.write(QStringLiteral("admin/status"), without));
    EXPECT_FALSE(rows().join(u'\n').contains(QStringLiteral("Suite")));
}

// The list follows the package database itself: a package the package
// manager has just installed is there at the next scan.
TEST(PackageSourceOnAptDatabase, APackageInstalledThroughAptIsListedAtTheNextScan)
{
    testsupport::coreApp();
    testsupport::ScratchPackages db;
    ASSERT_TRUE(db.isValid()) << "apt does not read the scratch configuration";
    ScratchDir dir;
    platform::setRegistryDirectory(dir.path(QStringLiteral("Registry")));
    installed::PackageSourceOptions o;
    o.StatusFile = db.statusFile();
    o.DataFolders = {dir.path(QStringLiteral("share"))};
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    sources.push_back(installed::MakePackageSource(o));
    TUninstManager manager;
    manager.SetSources(std::move(sources));
    manager.SetShowSystemComponents(true);
    auto listed = [&manager] {
        manager.Rescan();
        QStringList ids;
        for (TUninstItem *e : installed::ListedEntries(manager))
            ids << e->SourceId;
        return ids;
    };
    EXPECT_TRUE(listed().isEmpty());

    platform::AptOptions apt;
    apt.AdminDir = db.adminDir();
    apt.Environment = db.aptEnvironment();
    apt.UsePkexec = 0;
    const auto installer = platform::makeAptPackageInstall(apt);
    const platform::PackageInstallResult r
        = installer->install(installer->command(db.build(QStringLiteral("orvt-new"))), nullptr);
    ASSERT_TRUE(r.ok()) << r.Reason.toStdString();
    EXPECT_EQ(listed(), QStringList {QStringLiteral("orvt-new")});
    platform::setRegistryDirectory(QString());
}
