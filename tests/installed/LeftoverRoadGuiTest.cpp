// The road of a leftover clean-up on the Uninstall tab: a site program is
// installed for real in a scratch home, writes its own settings folder and
// an autostart entry, is uninstalled from the tab; the leftovers offered are
// exactly those two, and accepting them puts them in the Trash.
#include "Installer.h"
#include "SiteServer.h"
#include "core/BrimMultiLangs.h"
#include "core/MessageBoxTypes.h"
#include "core/OVDefaultTexts.h"
#include "installed/UninstManager.h"
#include "installed/tab/FormOVLeftovers.h"
#include "installed/tab/UninstallTab.h"
#include "platform/Registry.h"
#include "support/Files.h"
#include "support/GuiApp.h"
#include "support/Wait.h"

#include <QDir>
#include <QProcess>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

TEST(LeftoverRoad, UninstallOffersTheProgramsOwnLeftoversAndTrashesThem)
{
    testsupport::guiApp();
    TBrimMultiLangs langs;
    langs.SetOnMakeDefault(MultiLangsMakeDefault);
    SetOVMultiLangs(&langs);
    testsupport::ScratchDir dir;
    const QString home = dir.path("home");
    const QString config = home + "/.config", data = home + "/.local/share";
    QDir().mkpath(home);
    const QByteArray saved[] = {qgetenv("HOME"), qgetenv("XDG_CONFIG_HOME"), qgetenv("XDG_DATA_HOME"),
                                qgetenv("ORVANE_REGISTRY_DIR")};
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("ORVANE_REGISTRY_DIR", dir.path("Registry").toUtf8());
    platform::setRegistryDirectory(dir.path("Registry"));

    orvane::site::SiteServer site;
    QString error;
    ASSERT_TRUE(site.Load(SITE_ROOT, error)) << error.toStdString();
    const auto found = std::find_if(site.Programs().begin(), site.Programs().end(),
                                    [](const orvane::site::Program &p) { return p.Downloadable; });
    ASSERT_NE(found, site.Programs().end());
    const orvane::site::Program &program = *found;
    ASSERT_TRUE(dir.write("setup.sh", orvane::site::MakeInstaller(program, "http://127.0.0.1:9")));
    QProcess installer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVANE_REG", ORVANE_REG_EXE);
    installer.setProcessEnvironment(env);
    installer.start("/bin/sh", {dir.path("setup.sh")});
    ASSERT_TRUE(installer.waitForFinished(60000));
    ASSERT_EQ(installer.exitCode(), 0) << installer.readAllStandardError().constData();
    const QString exe = data + "/orvane-demo/" + program.Id + "/" + program.Id;
    ASSERT_TRUE(QFileInfo(exe).isExecutable());

    // What the program writes when it runs; and what another program keeps.
    ASSERT_TRUE(testsupport::writeFile(config + "/" + program.Id + "/settings.conf", "volume=3\n"));
    ASSERT_TRUE(testsupport::writeFile(config + "/autostart/" + program.Id + "-tray.desktop",
                                       "[Desktop Entry]\nType=Application\nName=Tray\nExec=" + exe.toUtf8()
                                           + " --tray\n"));
    ASSERT_TRUE(testsupport::writeFile(config + "/" + program.Id + "-other/keep", "x"));

    TUninstManager mgr;
    TOVUninstallTab tab(&mgr);
    tab.MessageBox = [](QWidget *, const QString &, const QString &, unsigned) { return IDYES; };
    std::vector<installed::Leftover> offered;
    QStringList reasons;
    bool shown = false;
    installed::SetLeftoverPresenter([&](TFormOVLeftovers &dialog) {
        shown = true;
        offered = dialog.CheckedItems();
        for (int i = 0; i < dialog.lvLeftovers->topLevelItemCount(); ++i)
            reasons << dialog.lvLeftovers->topLevelItem(i)->text(2);
        dialog.btnTrashClick();
    });
    tab.FirstActivate();
    tab.ListFill();
    QTreeWidgetItem *row = nullptr;
    for (int i = 0; i < tab.lvUninst()->topLevelItemCount(); ++i)
        if (tab.lvUninst()->topLevelItem(i)->text(0).startsWith(program.Title))
            row = tab.lvUninst()->topLevelItem(i);
    ASSERT_NE(row, nullptr);
    tab.lvUninst()->setCurrentItem(row);
    tab.CommandUninstall();
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown; }, 30000));

    QStringList paths;
    for (const installed::Leftover &l : offered)
        paths << l.Path;
    paths.sort();
    QStringList expected {config + "/" + program.Id, config + "/autostart/" + program.Id + "-tray.desktop"};
    expected.sort();
    EXPECT_EQ(paths.join(u'\n').toStdString(), expected.join(u'\n').toStdString());
    EXPECT_EQ(reasons.size(), 2);
    EXPECT_FALSE(QFileInfo::exists(exe)) << "the uninstaller ran";
    for (const QString &p : paths)
        EXPECT_FALSE(QFileInfo::exists(p)) << p.toStdString();
    QStringList trashed;
    for (const QString &info : QDir(data + "/Trash/info").entryList({"*.trashinfo"}, QDir::Files))
        for (const QByteArray &line : testsupport::readFile(data + "/Trash/info/" + info).split('\n'))
            if (line.startsWith("Path="))
                trashed << QUrl::fromPercentEncoding(line.mid(5));
    trashed.sort();
    EXPECT_EQ(trashed.join(u'\n').toStdString(), paths.join(u'\n').toStdString());
    EXPECT_EQ(testsupport::readFile(data + "/Trash/files/" + program.Id + "/settings.conf"), "volume=3\n");
    EXPECT_TRUE(QFileInfo::exists(config + "/" + program.Id + "-other/keep"));

    installed::SetLeftoverPresenter({});
    platform::setRegistryDirectory({});
    const char *names[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "ORVANE_REGISTRY_DIR"};
    for (int i = 0; i < 4; ++i)
        if (saved[i].isNull())
            qunsetenv(names[i]);
        else
            qputenv(names[i], saved[i]);
    SetOVMultiLangs(nullptr);
}

// A package's configuration is purged on a worker (the password question and apt
// take their time); the dialog closes with the answer, and a refusal is told.
TEST(LeftoverRoad, PackageConfigurationIsPurgedOffTheMainThread)
{
    testsupport::guiApp();
    TBrimMultiLangs langs;
    langs.SetOnMakeDefault(MultiLangsMakeDefault);
    SetOVMultiLangs(&langs);
    struct FakePurger : installed::PackagePurger
    {
        std::atomic<bool> onMainThread {false};
        QStringList asked;
        bool refuse = false;
        bool CanPurge() const override { return true; }
        bool Purge(const QStringList &Packages, QString &Error) override
        {
            onMainThread = QThread::currentThread() == qApp->thread();
            asked = Packages;
            if (refuse)
                Error = QStringLiteral("E: not today");
            return !refuse;
        }
    };
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "refused" : "purged");
        auto owned = std::make_unique<FakePurger>();
        FakePurger *purger = owned.get();
        purger->refuse = refuse;
        installed::SetPackagePurger(std::move(owned));
        installed::Leftover config;
        config.What = installed::Leftover::Kind::PackageConfig;
        config.Program = config.Path = config.Fact = QStringLiteral("orvt-conf");
        config.Preselected = true;
        TFormOVLeftovers dialog({config}, QStringLiteral("orvt-conf"));
        QString told;
        dialog.MessageBox = [&](QWidget *, const QString &text, const QString &, unsigned) {
            told = text;
            return IDOK;
        };
        dialog.lvLeftovers->topLevelItem(0)->setCheckState(1, Qt::Checked);
        dialog.btnTrashClick();
        ASSERT_TRUE(testsupport::waitUntil([&] { return dialog.result() == QDialog::Accepted; }));
        EXPECT_EQ(purger->asked, QStringList {QStringLiteral("orvt-conf")});
        EXPECT_FALSE(purger->onMainThread);
        EXPECT_EQ(told.contains(QLatin1String("E: not today")), refuse) << told.toStdString();
    }
    installed::SetPackagePurger({});
    SetOVMultiLangs(nullptr);
}
