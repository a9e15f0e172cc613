// The leftover scan over real folders in a scratch home: what facts tie to
// an application is found, near-miss names are not, shared folders are not
// preselected, and what is accepted lands in the Trash with its .trashinfo.
#include "installed/LeftoverScan.h"

#include "core/OVJournal.h"
#include "installed/UninstManager.h"
#include "support/Files.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

using installed::Leftover;
using Kind = installed::Leftover::Kind;

class LeftoverScan : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::coreApp();
        ASSERT_TRUE(dir.isValid());
        places.Home = dir.path("home");
        places.ConfigHome = places.Home + "/.config";
        places.DataHome = places.Home + "/.local/share";
        places.CacheHome = places.Home + "/.cache";
        places.StateHome = places.Home + "/.local/state";
        places.DpkgStatusFile = dir.path("status");
        location = places.DataHome + "/orvane-demo/atlas";
        ASSERT_TRUE(dir.write("status",
                              "Package: zed\nStatus: deinstall ok config-files\nVersion: 1.0\n\n"
                              "Package: zedx\nStatus: install ok installed\nVersion: 2\n"));
    }
    void make(const QString &path, const QByteArray &content = "x")
    {
        ASSERT_TRUE(testsupport::writeFile(path, content)) << path.toStdString();
    }
    void makeProgram(const QString &path)
    {
        make(path, "#!/bin/sh\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // The registered application Atlas: its folder with its program and
    // uninstaller, its menu entry, and what it wrote in the user's folders.
    void installAtlas()
    {
        makeProgram(location + "/atlas");
        makeProgram(location + "/uninstall.sh");
        make(places.DataHome + "/applications/orvane-demo-atlas.desktop",
             "[Desktop Entry]\nType=Application\nName=Atlas\nExec=\"" + location.toUtf8() + "/atlas\" %U\n");
        make(places.ConfigHome + "/atlas/settings.ini", QByteArray(1000, 'a'));
        make(places.CacheHome + "/atlas/cache.bin", QByteArray(3000, 'c'));
        make(places.StateHome + "/orvane-demo-atlas/state");
        make(places.ConfigHome + "/autostart/atlas-tray.desktop",
             "[Desktop Entry]\nName=Atlas tray\nExec=env LANG=C " + location.toUtf8() + "/atlas --tray\n");
        make(places.ConfigHome + "/systemd/user/sync.service",
             "[Unit]\nDescription=Atlas sync\n[Service]\nExecStart=-" + location.toUtf8()
                 + "/atlas --sync\n");
        // Near misses: names that only look alike, a launcher of a program
        // still there, one of another program that is gone, the uninstaller's name.
        make(places.ConfigHome + "/atlasx/a");
        make(places.ConfigHome + "/atlas-notes/a");
        make(places.DataHome + "/Atlas/a");
        make(places.ConfigHome + "/autostart/other.desktop", "[Desktop Entry]\nExec=/bin/sh -c true\n");
        make(places.ConfigHome + "/autostart/ghost.desktop",
             "[Desktop Entry]\nName=Ghost\nExec=/nonexistent/ghost\n");
        make(places.ConfigHome + "/uninstall.sh/a");
    }
    installed::LeftoverFacts atlasFacts()
    {
        TUninstItem e(nullptr);
        e.DisplayName = "Atlas";
        e.Version = "1.3";
        e.Source = installed::EntrySource::Registry;
        e.KeyName = "atlas";
        e.InstallLocation = location;
        e.IconFile = location + "/atlas.png";
        return installed::FactsOf(e, places);
    }
    // What the uninstaller removes.
    void uninstallAtlas()
    {
        QDir(location).removeRecursively();
        QFile::remove(places.DataHome + "/applications/orvane-demo-atlas.desktop");
    }
    static QMap<QString, Leftover> byPath(const std::vector<Leftover> &items)
    {
        QMap<QString, Leftover> map;
        for (const Leftover &l : items)
            map.insert(l.Path, l);
        return map;
    }

    testsupport::ScratchDir dir;
    installed::LeftoverPlaces places;
    QString location;
};

} // namespace

// Each kind of fact finds its item and only its item, with its size.
TEST_F(LeftoverScan, FindsWhatFactsTieToTheApplicationAndNothingThatOnlyLooksAlike)
{
    installAtlas();
    const installed::LeftoverFacts atlas = atlasFacts();
    EXPECT_TRUE(atlas.Names.contains("atlas"));
    EXPECT_TRUE(atlas.Names.contains("orvane-demo-atlas"));
    EXPECT_FALSE(atlas.Names.contains("uninstall.sh"));
    uninstallAtlas();

    installed::LeftoverFacts flatpak;
    flatpak.Program = "Viewer";
    flatpak.Source = installed::EntrySource::Flatpak;
    flatpak.FlatpakId = "org.example.Viewer";
    flatpak.Names << "org.example.Viewer";
    make(places.Home + "/.var/app/org.example.Viewer/config/x", QByteArray(10, 'v'));
    make(places.Home + "/.var/app/org.example.ViewerPlus/x");
    make(places.ConfigHome + "/org.example.Viewer/x");

    installed::LeftoverFacts wine;
    wine.Program = "Cobalt";
    wine.Source = installed::EntrySource::Wine;
    wine.InstallLocation = places.Home + "/.wine/drive_c/Program Files/Cobalt";
    make(wine.InstallLocation + "/cobalt.exe", QByteArray(500, 'w'));
    make(places.DataHome + "/applications/wine/Programs/Cobalt/Cobalt.desktop",
         "[Desktop Entry]\nName=Cobalt\nExec=env WINEPREFIX=\"/x\" wine C:\\\\x.lnk\nPath="
             + wine.InstallLocation.toUtf8() + "\n");
    make(places.DataHome + "/applications/wine/Programs/Other/Other.desktop",
         "[Desktop Entry]\nName=Other\nPath=" + wine.InstallLocation.toUtf8() + "Plus\n");

    installed::LeftoverFacts package;
    package.Program = "zed";
    package.Source = installed::EntrySource::Package;
    package.Package = "zed";
    package.Names << "zed";
    make(places.ConfigHome + "/zed/x");
    installed::LeftoverFacts installedPackage = package;
    installedPackage.Package = "zedx";
    installedPackage.Names = QStringList {"zedx"};

    const QString cfg = places.ConfigHome;
    const struct Case
    {
        const char *what;
        installed::LeftoverFacts facts;
        QMap<QString, std::pair<Kind, qint64>> expected; // path -> kind, size (-1: not checked)
    } cases[] = {
        {"registered program",
         atlas,
         {{cfg + "/atlas", {Kind::ConfigFolder, 1000}},
          {places.CacheHome + "/atlas", {Kind::CacheFolder, 3000}},
          {places.StateHome + "/orvane-demo-atlas", {Kind::StateFolder, 1}},
          {cfg + "/autostart/atlas-tray.desktop", {Kind::Autostart, -1}},
          {cfg + "/systemd/user/sync.service", {Kind::SystemdUnit, -1}}}},
        {"flatpak",
         flatpak,
         {{places.Home + "/.var/app/org.example.Viewer", {Kind::FlatpakData, 10}},
          {cfg + "/org.example.Viewer", {Kind::ConfigFolder, 1}}}},
        {"wine program",
         wine,
         {{wine.InstallLocation, {Kind::WineLocation, 500}},
          {places.DataHome + "/applications/wine/Programs/Cobalt/Cobalt.desktop", {Kind::WineMenu, -1}}}},
        {"removed package",
         package,
         {{"zed", {Kind::PackageConfig, -1}}, {cfg + "/zed", {Kind::ConfigFolder, 1}}}},
        {"installed package", installedPackage, {}},
    };
    for (const Case &c : cases) {
        const QMap<QString, Leftover> found = byPath(installed::ScanLeftovers(c.facts, places));
        EXPECT_EQ(found.keys(), c.expected.keys()) << c.what;
        for (auto it = c.expected.begin(); it != c.expected.end(); ++it) {
            const Leftover l = found.value(it.key());
            EXPECT_EQ(l.What, it->first) << c.what << " " << it.key().toStdString();
            if (it->second >= 0) {
                EXPECT_EQ(l.Size, it->second) << c.what << " " << it.key().toStdString();
            }
            EXPECT_EQ(l.Program, c.facts.Program);
        }
    }
    // A removed package's configuration is purged by the package path only:
    // without one it is listed, never preselected.
    EXPECT_FALSE(byPath(installed::ScanLeftovers(package, places)).value("zed").Preselected);

    // Names that would reach out of the user's folders, or name shared ones, find nothing.
    installed::LeftoverFacts hostile;
    hostile.Program = "Hostile";
    hostile.Names = QStringList {"..", ".", "", "a/../..", "autostart", "systemd", "applications"};
    hostile.FlatpakId = "../../.config";
    EXPECT_TRUE(installed::ScanLeftovers(hostile, places).empty());
}

// A leftover that is a link is moved as the link: what it points at, even
// outside the home, is neither counted nor touched.
TEST_F(LeftoverScan, ALinkIsTrashedAsALinkAndItsTargetStays)
{
    installAtlas();
    const installed::LeftoverFacts atlas = atlasFacts();
    uninstallAtlas();
    make(dir.path("outside/precious"), QByteArray(4000, 'p'));
    ASSERT_TRUE(QDir(places.CacheHome + "/atlas").removeRecursively());
    ASSERT_TRUE(QFile::link(dir.path("outside"), places.CacheHome + "/atlas"));
    const QMap<QString, Leftover> found = byPath(installed::ScanLeftovers(atlas, places));
    ASSERT_TRUE(found.contains(places.CacheHome + "/atlas"));
    EXPECT_EQ(found.value(places.CacheHome + "/atlas").Size, 0);

    const QByteArray oldHome = qgetenv("HOME"), oldData = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", places.Home.toUtf8());
    qputenv("XDG_DATA_HOME", places.DataHome.toUtf8());
    EXPECT_TRUE(installed::TrashLeftovers({found.value(places.CacheHome + "/atlas")}).isEmpty());
    qputenv("HOME", oldHome);
    qputenv("XDG_DATA_HOME", oldData);
    EXPECT_FALSE(QFileInfo(places.CacheHome + "/atlas").isSymLink());
    EXPECT_EQ(testsupport::readFile(dir.path("outside/precious")), QByteArray(4000, 'p'));
}

// A folder another installed application claims stays unchecked and says why.
TEST_F(LeftoverScan, AFolderAnotherApplicationClaimsIsNotPreselected)
{
    installAtlas();
    const installed::LeftoverFacts atlas = atlasFacts();
    uninstallAtlas();
    const std::vector<installed::Claim> others {{"Atlas Pro", {"atlas"}, places.Home + "/opt/atlas-pro"}};
    const QMap<QString, Leftover> found = byPath(installed::ScanLeftovers(atlas, places, others));
    const Leftover shared = found.value(places.ConfigHome + "/atlas");
    EXPECT_FALSE(shared.Preselected);
    EXPECT_EQ(shared.SharedWith, "Atlas Pro");
    EXPECT_TRUE(found.value(places.StateHome + "/orvane-demo-atlas").Preselected);
}

// Programs removed elsewhere: a removed package, Flatpak data of an
// application no longer installed, a launcher of a program that is gone.
TEST_F(LeftoverScan, ListsProgramsRemovedElsewhere)
{
    installAtlas();
    make(places.Home + "/.var/app/org.gone.App/x");
    make(places.Home + "/.var/app/org.kept.App/x");
    const std::vector<installed::Claim> installedApps {{"Kept", {"org.kept.App"}, {}}};
    QStringList found;
    for (const installed::LeftoverFacts &f : installed::RemovedPrograms(places, installedApps))
        for (const Leftover &l : installed::ScanLeftovers(f, places, installedApps))
            found << l.Path;
    found.sort();
    EXPECT_EQ(found,
              QStringList({places.ConfigHome + "/autostart/ghost.desktop",
                           places.Home + "/.var/app/org.gone.App", "zed"}));
}

// Accepted items go to the user's Trash with a .trashinfo naming where they
// were; nothing is deleted outright, and the journal records the clean-up.
TEST_F(LeftoverScan, AcceptedItemsLandInTheTrashWithTheirTrashInfo)
{
    installAtlas();
    const installed::LeftoverFacts atlas = atlasFacts();
    uninstallAtlas();
    const QByteArray oldHome = qgetenv("HOME"), oldData = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", places.Home.toUtf8());
    qputenv("XDG_DATA_HOME", places.DataHome.toUtf8());
    journal::SetFile(dir.path("journal.log"));

    const std::vector<Leftover> items = installed::ScanLeftovers(atlas, places);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(installed::TrashLeftovers(items).isEmpty());
    // Where each trashed item came from, by its name in the Trash (two "atlas" folders get two names).
    QMap<QString, QString> trashedFrom;
    const QString trash = places.DataHome + "/Trash";
    for (const QString &infoName : QDir(trash + "/info").entryList({"*.trashinfo"}, QDir::Files)) {
        const QByteArray info = testsupport::readFile(trash + "/info/" + infoName);
        EXPECT_TRUE(info.startsWith("[Trash Info]\n")) << info.constData();
        EXPECT_TRUE(info.contains("\nDeletionDate=")) << info.constData();
        for (const QByteArray &line : info.split('\n'))
            if (line.startsWith("Path="))
                trashedFrom.insert(QUrl::fromPercentEncoding(line.mid(5)), infoName.chopped(10));
    }
    EXPECT_EQ(trashedFrom.size(), 5);
    for (const Leftover &l : items) {
        const std::string what = l.Path.toStdString();
        EXPECT_FALSE(QFileInfo::exists(l.Path)) << what;
        ASSERT_TRUE(trashedFrom.contains(l.Path)) << what;
        EXPECT_TRUE(QFileInfo::exists(trash + "/files/" + trashedFrom.value(l.Path))) << what;
    }
    EXPECT_EQ(testsupport::readFile(trash + "/files/" + trashedFrom.value(places.ConfigHome + "/atlas")
                                    + "/settings.ini"),
              QByteArray(1000, 'a'));
    const std::vector<journal::Entry> entries
        = journal::Parse(testsupport::readFile(dir.path("journal.log")));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.front().OperationKind, journal::Kind::CleanLeftovers);
    EXPECT_EQ(entries.front().Outcome, journal::Result::Succeeded);
    EXPECT_TRUE(entries.front().What.Command.contains(places.ConfigHome + "/atlas"));

    journal::SetFile({});
    qputenv("HOME", oldHome);
    qputenv("XDG_DATA_HOME", oldData);
}
