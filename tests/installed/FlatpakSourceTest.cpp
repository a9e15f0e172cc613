// The Flatpak source against a real user installation built offline in a
// scratch folder: a minimal runtime and two applications exported to a local
// repository, installed from it with "flatpak --user install", then listed and
// removed through the manager; a bundle of a third one installed from its file.

#include "installed/FlatpakSource.h"

#include "core/BrimSystem.h"
#include "installed/InstalledSource.h"
#include "installed/UninstManager.h"
#include "platform/FlatpakApps.h"
#include "platform/FlatpakBundleInstall.h"
#include "support/Files.h"
#include "support/Wait.h"
#include "tasks/InstallerKind.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

const char kMetainfo[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<component type="desktop-application">
  <id>org.orvane.Hello</id>
  <name>Hello Tool</name>
  <name xml:lang="zh_CN">你好工具</name>
  <summary>Says hello</summary>
  <summary xml:lang="zh_CN">问好</summary>
  <developer_name>Orvane Test Makers</developer_name>
  <url type="homepage">https://example.org/hello</url>
  <metadata_license>CC0-1.0</metadata_license>
  <launchable type="desktop-id">org.orvane.Hello.desktop</launchable>
  <releases>
    <release version="2.4" date="2023-05-01"/>
    <release version="2.5.1" date="2024-03-01"/>
  </releases>
</component>
)";

const char kIcon[] = R"(<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64">)"
                     R"(<rect width="64" height="64" fill="#3070c0"/></svg>
)";

// The scratch installation the whole suite shares: libflatpak reads the
// installation folders from the environment once per process.
struct Fixture
{
    QTemporaryDir dir;
    QString error; // why building it failed
    size_t appsBefore = 0; // listed before anything was installed
    QString path(const QString &name) const { return dir.filePath(name); }
};

Fixture *fixture = nullptr;

bool run(const QStringList &argv, QString &error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(argv.first(), argv.mid(1));
    if (!p.waitForStarted(10000) || !p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit
        || p.exitCode() != 0) {
        error = argv.join(u' ') + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

bool buildApp(const Fixture &f, const QString &id, bool withData, QString &error)
{
    const QString app = f.path(QStringLiteral("build/") + id);
    if (!run({QStringLiteral("flatpak"), QStringLiteral("build-init"), app, id,
              QStringLiteral("org.orvane.TestPlatform"), QStringLiteral("org.orvane.TestPlatform"),
              QStringLiteral("1")},
             error))
        return false;
    const QString files = app + QStringLiteral("/files/");
    bool ok = testsupport::writeFile(files + QStringLiteral("bin/hello"), "#!/bin/sh\necho hello\n")
        && QFile::setPermissions(files + QStringLiteral("bin/hello"),
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ok = ok
        && testsupport::writeFile(
             files + QStringLiteral("share/applications/") + id + QStringLiteral(".desktop"),
             "[Desktop Entry]\nType=Application\nName=Hello\nName[zh]=你好\nExec=hello\nIcon=" + id.toUtf8()
                 + "\n");
    if (withData)
        ok = ok
            && testsupport::writeFile(
                 files + QStringLiteral("share/metainfo/") + id + QStringLiteral(".metainfo.xml"), kMetainfo)
            && testsupport::writeFile(files + QStringLiteral("share/icons/hicolor/scalable/apps/") + id
                                          + QStringLiteral(".svg"),
                                      kIcon);
    if (!ok) {
        error = QStringLiteral("cannot write the files of ") + id;
        return false;
    }
    return run({QStringLiteral("flatpak"), QStringLiteral("build-finish"), QStringLiteral("--command=hello"),
                app},
               error)
        && run({QStringLiteral("flatpak"), QStringLiteral("build-export"),
                QStringLiteral("--disable-sandbox"), QStringLiteral("--no-update-summary"),
                f.path(QStringLiteral("repo")), app, QStringLiteral("1")},
               error);
}

void buildInstallation(Fixture &f)
{
    QString &error = f.error;
    const QString repo = f.path(QStringLiteral("repo"));
    const QString runtime = f.path(QStringLiteral("build/runtime"));
    // A runtime is a folder with its metadata and empty files and usr trees.
    if (!testsupport::writeFile(runtime + QStringLiteral("/metadata"),
                                "[Runtime]\nname=org.orvane.TestPlatform\n"
                                "runtime=org.orvane.TestPlatform/x86_64/1\n"
                                "sdk=org.orvane.TestPlatform/x86_64/1\n")
        || !QDir().mkpath(runtime + QStringLiteral("/usr"))
        || !QDir().mkpath(runtime + QStringLiteral("/files"))) {
        error = QStringLiteral("cannot write the runtime");
        return;
    }
    const QString flatpak = QStringLiteral("flatpak");
    if (!run({flatpak, QStringLiteral("build-export"), QStringLiteral("--runtime"),
              QStringLiteral("--disable-sandbox"), QStringLiteral("--no-update-summary"), repo, runtime,
              QStringLiteral("1")},
             error)
        || !run({flatpak, QStringLiteral("build-update-repo"), repo}, error)
        || !run({flatpak, QStringLiteral("--user"), QStringLiteral("remote-add"),
                 QStringLiteral("--no-gpg-verify"), QStringLiteral("orvane-test"),
                 QStringLiteral("file://") + repo},
                error)
        // build-init wants the runtime installed.
        || !run({flatpak, QStringLiteral("--user"), QStringLiteral("install"), QStringLiteral("-y"),
                 QStringLiteral("--noninteractive"), QStringLiteral("orvane-test"),
                 QStringLiteral("runtime/org.orvane.TestPlatform/x86_64/1")},
                error)
        || !buildApp(f, QStringLiteral("org.orvane.Hello"), true, error)
        || !buildApp(f, QStringLiteral("org.orvane.Bare"), false, error)
        // In the repository only: it comes to the installation as a bundle.
        || !buildApp(f, QStringLiteral("org.orvane.Bundled"), false, error)
        || !run({flatpak, QStringLiteral("build-update-repo"), repo}, error)
        || !run({flatpak, QStringLiteral("--user"), QStringLiteral("install"), QStringLiteral("-y"),
                 QStringLiteral("--noninteractive"), QStringLiteral("orvane-test"),
                 QStringLiteral("app/org.orvane.Hello/x86_64/1"),
                 QStringLiteral("app/org.orvane.Bare/x86_64/1")},
                error))
        return;
}

class FlatpakSource : public ::testing::Test
{
protected:
    // Built once per process (libflatpak keeps the folders it first saw) and
    // removed when the program ends.
    static void SetUpTestSuite()
    {
        if (fixture || QStandardPaths::findExecutable(QStringLiteral("flatpak")).isEmpty())
            return;
        static std::unique_ptr<Fixture> owner = std::make_unique<Fixture>();
        fixture = owner.get();
        Fixture &f = *fixture;
        // Everything Flatpak writes or reads stays in the scratch folder: a
        // home of its own, the user installation, an empty system one, no
        // extra installations from the machine's configuration.
        const QStringList vars = {"HOME",
                                  "XDG_DATA_HOME",
                                  "XDG_CACHE_HOME",
                                  "XDG_CONFIG_HOME",
                                  "FLATPAK_USER_DIR",
                                  "FLATPAK_SYSTEM_DIR",
                                  "FLATPAK_CONFIG_DIR"};
        const QStringList dirs
            = {"home", "home/.local/share", "home/.cache", "home/.config", "user", "system", "etc"};
        for (int i = 0; i < vars.size(); ++i)
            qputenv(vars[i].toLatin1().constData(), QFile::encodeName(f.path(dirs[i])));
        QDir().mkpath(f.path(QStringLiteral("home")));
        f.appsBefore = platform::ListFlatpakApps(QString()).size();
        buildInstallation(f);
    }
    void SetUp() override
    {
        if (!fixture)
            GTEST_SKIP() << "no flatpak command";
        ASSERT_TRUE(fixture->error.isEmpty()) << fixture->error.toStdString();
        testsupport::coreApp();
    }

    static const platform::FlatpakApp *find(const std::vector<platform::FlatpakApp> &apps, const QString &id)
    {
        for (const auto &a : apps)
            if (a.Id == id)
                return &a;
        return nullptr;
    }
    static TUninstItem *find(const TUninstManager &m, const QString &ref)
    {
        for (int i = 0; i < m.Count(); ++i)
            if (m.Item(i)->SourceId == ref)
                return m.Item(i);
        return nullptr;
    }
};

TEST_F(FlatpakSource, MissingInstallationsListNothing)
{
    EXPECT_EQ(fixture->appsBefore, 0u);
}

TEST_F(FlatpakSource, ListsApplicationsWithTheirData)
{
    const auto apps = platform::ListFlatpakApps(QStringLiteral("zh_CN"));
    ASSERT_EQ(apps.size(), 2u) << "the runtime is no application";
    const platform::FlatpakApp *hello = find(apps, QStringLiteral("org.orvane.Hello"));
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->Name, QStringLiteral("你好工具"));
    EXPECT_EQ(hello->Summary, QStringLiteral("问好"));
    EXPECT_EQ(hello->Version, QStringLiteral("2.5.1")) << "the newest release";
    EXPECT_EQ(hello->Developer, QStringLiteral("Orvane Test Makers"));
    EXPECT_EQ(hello->Homepage, QStringLiteral("https://example.org/hello"));
    EXPECT_EQ(hello->Branch, QStringLiteral("1"));
    EXPECT_EQ(hello->Origin, QStringLiteral("orvane-test"));
    EXPECT_EQ(hello->Ref, QStringLiteral("app/org.orvane.Hello/x86_64/1"));
    EXPECT_TRUE(hello->User);
    EXPECT_TRUE(hello->DeployDir.startsWith(fixture->path(QStringLiteral("user/app/org.orvane.Hello/"))))
        << hello->DeployDir.toStdString();
    EXPECT_TRUE(hello->IconFile.endsWith(QStringLiteral("/scalable/apps/org.orvane.Hello.svg")));
    EXPECT_TRUE(QFileInfo(hello->IconFile).isFile());
    EXPECT_GT(hello->DeployedAt, 0);

    // Without metainfo: its desktop entry names it (Name[zh] for zh_CN), nothing is made up.
    const platform::FlatpakApp *bare = find(apps, QStringLiteral("org.orvane.Bare"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->Name, QStringLiteral("你好"));
    EXPECT_TRUE(bare->Version.isEmpty());
    EXPECT_TRUE(bare->Developer.isEmpty());
    EXPECT_TRUE(bare->IconFile.isEmpty());
}

TEST(FlatpakUninstall, CommandNamesItsInstallationAndReference)
{
    platform::FlatpakApp app;
    app.Id = QStringLiteral("org.example.App");
    app.Arch = QStringLiteral("x86_64");
    app.Branch = QStringLiteral("stable");
    const QString tail = QStringLiteral(" -y --noninteractive org.example.App/x86_64/stable");
    const struct
    {
        bool user;
        const char *installation;
        QString expected;
    } cases[] = {
        {true, "user", QStringLiteral("flatpak uninstall --user") + tail},
        {false, "default", QStringLiteral("flatpak uninstall --system") + tail},
        {false, "extra", QStringLiteral("flatpak uninstall --installation=extra") + tail},
    };
    for (const auto &c : cases) {
        app.User = c.user;
        app.Installation = QString::fromLatin1(c.installation);
        const QStringList argv = installed::FlatpakUninstallCommand(app);
        EXPECT_EQ(argv.join(u' '), c.expected);
        EXPECT_EQ(SplitCommandLine(installed::FlatpakCommandLine(argv)), argv);
    }
    // An installation named with blanks and quotes stays one word.
    app.User = false;
    app.Installation = QStringLiteral("my \"big\" disk's");
    const QStringList argv = installed::FlatpakUninstallCommand(app);
    EXPECT_EQ(argv.at(2), QStringLiteral("--installation=my \"big\" disk's"));
    EXPECT_EQ(SplitCommandLine(installed::FlatpakCommandLine(argv)), argv);
}

TEST_F(FlatpakSource, NamesInTheInterfaceLanguage)
{
    TUninstManager m;
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    sources.push_back(installed::MakeFlatpakSource([] { return QStringLiteral("zh_CN"); }));
    m.SetSources(std::move(sources));
    m.Rescan();
    TUninstItem *hello = find(m, QStringLiteral("app/org.orvane.Hello/x86_64/1"));
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->DisplayName, QStringLiteral("你好工具"));
    EXPECT_EQ(hello->Summary, QStringLiteral("问好"));
}

// Listed through the manager, removed with its uninstall command, gone after the
// rescan that follows; the other application stays.
TEST_F(FlatpakSource, ARefusedUninstallReportsFlatpaksOwnWords)
{
    TUninstManager m;
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    sources.push_back(installed::MakeFlatpakSource());
    m.SetSources(std::move(sources));
    m.Rescan();
    TUninstItem *hello = find(m, QStringLiteral("app/org.orvane.Hello/x86_64/1"));
    ASSERT_TRUE(hello);
    // What Flatpak refuses: a reference its installation does not hold.
    hello->UninstallString
        = QStringLiteral("flatpak uninstall --user -y --noninteractive app/org.orvane.Missing/x86_64/1");
    QString failed, reason, completed;
    m.OnUninstFailed = [&](TUninstManager *, const QString &name, const QString &why) {
        failed = name;
        reason = why;
    };
    m.OnUninstCompleted = [&completed](TUninstManager *, const QString &name) { completed = name; };
    hello->StartUninstall();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !completed.isEmpty(); }, 60000));
    EXPECT_EQ(failed, QStringLiteral("Hello Tool"));
    EXPECT_TRUE(reason.contains(QLatin1String("org.orvane.Missing"))) << reason.toStdString();
    m.Rescan();
    EXPECT_TRUE(find(m, QStringLiteral("app/org.orvane.Hello/x86_64/1")));
}

TEST_F(FlatpakSource, ManagerListsAndRemoves)
{
    TUninstManager m;
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    sources.push_back(installed::MakeFlatpakSource());
    m.SetSources(std::move(sources));
    m.Rescan();
    ASSERT_EQ(m.Count(), 2);
    TUninstItem *hello = find(m, QStringLiteral("app/org.orvane.Hello/x86_64/1"));
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->Source, installed::EntrySource::Flatpak);
    EXPECT_EQ(hello->DisplayName, QStringLiteral("Hello Tool"));
    EXPECT_EQ(hello->Publisher, QStringLiteral("Orvane Test Makers"));
    EXPECT_EQ(hello->Version, QStringLiteral("2.5.1"));
    EXPECT_EQ(hello->Branch, QStringLiteral("1"));
    EXPECT_EQ(hello->Origin, QStringLiteral("orvane-test"));
    EXPECT_EQ(hello->Installation, QStringLiteral("user"));
    EXPECT_EQ(hello->AboutLink, QStringLiteral("https://example.org/hello"));
    EXPECT_NE(hello->InstallDate, 0);
    ASSERT_NE(hello->SmallIconIndex, m.DefaultIconIndex());
    EXPECT_EQ(m.IconFiles().at(hello->SmallIconIndex), hello->IconFile);
    EXPECT_TRUE(QFileInfo(hello->InstallLocation).isDir());
    TUninstItem *bare = find(m, QStringLiteral("app/org.orvane.Bare/x86_64/1"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->SmallIconIndex, m.DefaultIconIndex());
    EXPECT_EQ(bare->DisplayName, QStringLiteral("Hello"));

    QString completed;
    m.OnUninstCompleted = [&completed](TUninstManager *, const QString &name) { completed = name; };
    const QString deployDir = hello->InstallLocation;
    hello->StartUninstall();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !completed.isEmpty(); }, 60000));
    EXPECT_EQ(completed, QStringLiteral("Hello Tool"));
    // Reported only once the command has ended: the deployment is already gone.
    EXPECT_FALSE(QFileInfo::exists(deployDir));
    m.Rescan();
    EXPECT_FALSE(find(m, QStringLiteral("app/org.orvane.Hello/x86_64/1")));
    EXPECT_TRUE(find(m, QStringLiteral("app/org.orvane.Bare/x86_64/1")));

    // Installed again, so that the tests do not depend on their order.
    QString error;
    EXPECT_TRUE(run({QStringLiteral("flatpak"), QStringLiteral("--user"), QStringLiteral("install"),
                     QStringLiteral("-y"), QStringLiteral("--noninteractive"), QStringLiteral("orvane-test"),
                     QStringLiteral("app/org.orvane.Hello/x86_64/1")},
                    error))
        << error.toStdString();
}

// The bundle of the application that is in the repository only, under a name
// that does not say what it is.
QString makeBundle(const QString &name, QString &error)
{
    const QString bundle = fixture->path(name);
    if (!QFileInfo::exists(bundle)
        && !run({QStringLiteral("flatpak"), QStringLiteral("build-bundle"),
                 fixture->path(QStringLiteral("repo")), bundle, QStringLiteral("org.orvane.Bundled"),
                 QStringLiteral("1")},
                error))
        return {};
    return bundle;
}

TEST_F(FlatpakSource, ABundleIsKnownByItsContentNotItsName)
{
    QString error;
    const QString bundle = makeBundle(QStringLiteral("download.bin"), error);
    ASSERT_FALSE(bundle.isEmpty()) << error.toStdString();
    const QString text = fixture->path(QStringLiteral("notes.flatpak"));
    ASSERT_TRUE(testsupport::writeFile(text, "[Flatpak Ref]\nName=org.orvane.Bundled\n"));
    const QString renamed = fixture->path(QStringLiteral("org.orvane.Bundled.flatpak"));
    QFile::remove(renamed);
    ASSERT_TRUE(QFile::copy(bundle, renamed));
    const struct
    {
        QString file;
        tasks::InstallerKind kind;
    } cases[] = {
        {bundle, tasks::InstallerKind::FlatpakBundle},
        {renamed, tasks::InstallerKind::FlatpakBundle},
        {text, tasks::InstallerKind::Unknown},
    };
    for (const auto &c : cases)
        EXPECT_EQ(tasks::installerKindOfFile(c.file), c.kind) << c.file.toStdString();
}

TEST_F(FlatpakSource, ABundleInstallsIntoTheUserInstallationAndIsListedOnTheNextScan)
{
    QString error;
    const QString bundle = makeBundle(QStringLiteral("download.bin"), error);
    ASSERT_FALSE(bundle.isEmpty()) << error.toStdString();
    const QString ref = QStringLiteral("app/org.orvane.Bundled/x86_64/1");
    TUninstManager m;
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    sources.push_back(installed::MakeFlatpakSource());
    m.SetSources(std::move(sources));

    // A damaged bundle: Flatpak refuses it and nothing is installed.
    QByteArray bytes = testsupport::readFile(bundle);
    ASSERT_GT(bytes.size(), 200);
    const QString damaged = fixture->path(QStringLiteral("damaged.bin"));
    ASSERT_TRUE(testsupport::writeFile(damaged, bytes.left(bytes.size() / 2)));
    ASSERT_EQ(tasks::installerKindOfFile(damaged), tasks::InstallerKind::FlatpakBundle);
    const platform::PackageInstallResult refused
        = platform::installFlatpakBundle(platform::flatpakBundleCommand(damaged), {}, nullptr);
    EXPECT_EQ(refused.Outcome, platform::PackageOutcome::Failed);
    EXPECT_EQ(refused.JobResult, 0u) << "Flatpak ran and ended";
    EXPECT_FALSE(refused.Reason.isEmpty());
    m.Rescan();
    EXPECT_FALSE(find(m, ref));

    const QStringList command = platform::flatpakBundleCommand(bundle);
    ASSERT_FALSE(command.isEmpty());
    EXPECT_EQ(command.mid(1),
              (QStringList {"install", "--user", "-y", "--noninteractive", "--bundle", bundle}));
    const platform::PackageInstallResult result = platform::installFlatpakBundle(command, {}, nullptr);
    EXPECT_TRUE(result.ok()) << result.Reason.toStdString();
    EXPECT_EQ(result.JobResult, 0u);
    m.Rescan();
    TUninstItem *bundled = find(m, ref);
    ASSERT_TRUE(bundled);
    EXPECT_EQ(bundled->Installation, QStringLiteral("user"));
    EXPECT_TRUE(QFileInfo(bundled->InstallLocation).isDir());

    // Removed again, so that the tests do not depend on their order.
    EXPECT_TRUE(run({QStringLiteral("flatpak"), QStringLiteral("--user"), QStringLiteral("uninstall"),
                     QStringLiteral("-y"), QStringLiteral("--noninteractive"), ref},
                    error))
        << error.toStdString();
}

TEST_F(FlatpakSource, ABundleWithoutItsRuntimeFailsWithFlatpaksReason)
{
    QString error;
    const QString bundle = makeBundle(QStringLiteral("download.bin"), error);
    ASSERT_FALSE(bundle.isEmpty()) << error.toStdString();
    // A user installation of its own that holds no runtime.
    const QString empty = fixture->path(QStringLiteral("bare-user"));
    ASSERT_TRUE(QDir().mkpath(empty));
    platform::FlatpakOptions options;
    options.Environment = {QStringLiteral("FLATPAK_USER_DIR=") + empty};
    const platform::PackageInstallResult result
        = platform::installFlatpakBundle(platform::flatpakBundleCommand(bundle, options), options, nullptr);
    EXPECT_EQ(result.Outcome, platform::PackageOutcome::Failed);
    EXPECT_NE(result.ExitStatus.value_or(0), 0);
    EXPECT_TRUE(result.Reason.contains(QLatin1String("org.orvane.TestPlatform")))
        << result.Reason.toStdString();
    EXPECT_FALSE(QFileInfo::exists(empty + QStringLiteral("/app/org.orvane.Bundled")));
}

TEST(FlatpakBundle, WithoutTheFlatpakCommandNothingIsStarted)
{
    platform::FlatpakOptions options;
    options.Flatpak = QStringLiteral("/nonexistent/flatpak");
    EXPECT_TRUE(platform::flatpakProgram(options).isEmpty());
    EXPECT_TRUE(platform::flatpakBundleCommand(QStringLiteral("/tmp/x.flatpak"), options).isEmpty());
}

} // namespace
