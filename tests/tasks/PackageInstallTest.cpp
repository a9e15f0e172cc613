// A downloaded Debian package installs through the package manager, into a
// scratch package database: the task, its error text and the journal's record.
#include "platform/PackageInstall.h"

#include "core/BrimMultiLangs.h"
#include "core/OVDefaultTexts.h"
#include "core/OVJournal.h"
#include "core/OVSettings.h"
#include "support/ScratchApt.h"
#include "support/ScratchPackages.h"
#include "tasks/InstallerKind.h"
#include "tasks/OVTaskItem.h"
#include "tasks/TaskTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tasktest;

namespace {

namespace St = OVTaskState;

class PackageTaskTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApp();
        langs.SetOnMakeDefault(MultiLangsMakeDefault);
        SetOVMultiLangs(&langs);
        OVSettings::FileKeepDays = 7;
        ASSERT_TRUE(server.started());
        ASSERT_TRUE(db.isValid()) << "apt does not read the scratch configuration";
        QString log;
        ASSERT_TRUE(db.install({db.build(QStringLiteral("orvt-lib"))}, &log)) << log.toStdString();
        useOptions(options());
        journal::SetFile(dir.filePath(QStringLiteral("journal.log")));
    }
    void TearDown() override
    {
        tasks::SetPackageInstaller({});
        tasks::SetFlatpakOptions({});
        journal::SetFile({});
        SetOVMultiLangs(nullptr);
    }

    platform::AptOptions options() const { return testsupport::scratchAptOptions(db); }
    void useOptions(const platform::AptOptions &o)
    {
        tasks::SetPackageInstaller(platform::makeAptPackageInstall(o));
    }

    // Downloads the bytes as fileName and installs them.
    TOVTaskItem *installDownload(const QString &fileName, const QByteArray &bytes)
    {
        server.script = bytes.toStdString();
        auto *t = mgr.Add<TOVTaskItem>();
        t->Name = QStringLiteral("Orvt Download %1").arg(mgr.Count());
        t->HttpUrl = server.url("/script");
        t->LocalFile = dir.filePath(fileName);
        t->AutoInstall = true;
        t->Start();
        EXPECT_TRUE(waitUntil([&] { return t->State == St::InstallCompleted || t->State == St::Failed; }));
        EXPECT_TRUE(flushQueuedCalls());
        EXPECT_FALSE(t->InstallRunning());
        return t;
    }

    // The journal's newest install record (it reads newest first).
    journal::Entry lastInstall() const
    {
        for (const journal::Entry &e : journal::Read())
            if (e.OperationKind == journal::Kind::Install)
                return e;
        return {};
    }

    bool installed(const char *name) const { return db.statusOf(QLatin1String(name)).endsWith(" installed"); }

    TBrimMultiLangs langs;
    QTemporaryDir dir;
    TestHttpServer server;
    testsupport::ScratchPackages db;
    TBrimTaskManager mgr;
};

TEST_F(PackageTaskTest, ADownloadedPackageInstallsThroughAptWhateverItsName)
{
    const struct
    {
        const char *package, *savedAs, *handedToApt;
    } cases[] = {
        {"orvt-app", "orvt-app_1.0_all.deb", "orvt-app_1.0_all.deb"},
        {"orvt-tool", "download", "download.deb"}, // judged by its content, handed over as .deb
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.package);
        const QString deb = db.build(QLatin1String(c.package), QStringLiteral("Depends: orvt-lib"));
        ASSERT_FALSE(deb.isEmpty());
        TOVTaskItem *t = installDownload(QLatin1String(c.savedAs), readFile(deb));
        EXPECT_EQ(t->State, St::InstallCompleted);
        EXPECT_TRUE(t->InstallError.isEmpty()) << t->InstallError.toStdString();
        EXPECT_TRUE(installed(c.package));
        const journal::Entry e = lastInstall();
        EXPECT_EQ(e.Outcome, journal::Result::Succeeded);
        EXPECT_EQ(e.ExitStatus, 0);
        EXPECT_EQ(e.What.Command,
                  QStringLiteral("apt-get install -y ") + dir.filePath(QLatin1String(c.handedToApt)));
        EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("download.deb"))));
    }
}

// Each way an installation does not happen gives the task its own text, and
// the package database stays as it was.
TEST_F(PackageTaskTest, AnInstallationThatDoesNotHappenFailsTheTaskSayingWhy)
{
    testsupport::ScratchDir bin;
    auto pkexec
        = [&bin](const char *name, const QByteArray &body) { return bin.script(QLatin1String(name), body); };
    const QString needy = db.build(QStringLiteral("orvt-needy"), QStringLiteral("Depends: orvt-missing"));
    const QString plain = db.build(QStringLiteral("orvt-plain"));
    const struct
    {
        const char *what;
        QString deb;
        QString pkexec; // empty: none needed
        const char *key;
        const char *reason; // in the package manager's words, for a failure of its own
        std::optional<int> exitStatus;
    } cases[] = {
        {"missing dependency", needy, {}, "String.MsgText.PackageInstallFailed", "orvt-missing", 100},
        {"no pkexec", plain, bin.path(QStringLiteral("none")), "String.MsgText.PackageInstallPkexecMissing",
         nullptr, std::nullopt},
        {"no agent", plain,
         pkexec("no-agent",
                "echo 'Error executing command as another user: No authentication agent found.' >&2\n"
                "exit 127"),
         "String.MsgText.PackageInstallNoAgent", nullptr, 127},
        {"dismissed", plain,
         pkexec("dismissed",
                "echo 'Error executing command as another user: Request dismissed' >&2; exit 126"),
         "String.MsgText.PackageInstallNotAuthorized", nullptr, 126},
    };
    const QByteArray before = readFile(db.statusFile());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        platform::AptOptions o = options();
        if (!c.pkexec.isEmpty()) {
            o.UsePkexec = 1;
            o.Pkexec = c.pkexec;
        }
        useOptions(o);
        TOVTaskItem *t = installDownload(QStringLiteral("%1.deb").arg(mgr.Count() + 1), readFile(c.deb));
        EXPECT_EQ(t->State, St::Failed);
        if (c.reason) {
            EXPECT_TRUE(t->InstallError.startsWith(OVFormatText(QLatin1String(c.key), {t->Name, {}})))
                << t->InstallError.toStdString();
            EXPECT_TRUE(t->InstallError.contains(QLatin1String(c.reason))) << t->InstallError.toStdString();
        } else
            EXPECT_EQ(t->InstallError, OVFormatText(QLatin1String(c.key), {t->Name}));
        const journal::Entry e = lastInstall();
        EXPECT_EQ(e.Outcome, journal::Result::Failed);
        EXPECT_EQ(e.ExitStatus, c.exitStatus);
        EXPECT_EQ(e.Error, t->InstallError);
    }
    EXPECT_EQ(readFile(db.statusFile()), before);
}

// A downloaded bundle goes to Flatpak, whatever its name; the task tells
// Flatpak's refusal and a missing flatpak command apart. A stand-in command
// records what it was handed (the real one is tried with the Uninstall tab's
// Flatpak source).
TEST_F(PackageTaskTest, ADownloadedFlatpakBundleInstallsThroughFlatpak)
{
    static const char head[] = "flatpak\0\x01\x00\x89\xe5\0u\x08\0ref\0\0\0\0\0app/org.orvt.App/x86_64/1";
    const QByteArray bundle(head, sizeof head);
    testsupport::ScratchDir bin;
    const QString args = bin.path(QStringLiteral("args"));
    auto flatpak = [&](const char *name, const QByteArray &body) {
        const QString file = bin.file(QLatin1String(name),
                                      "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(args) + "'\n"
                                          + body + "\n");
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ExeOwner);
        return file;
    };
    const struct
    {
        const char *what;
        QString flatpak;
        int state;
        const char *key; // nullptr: installed
        const char *reason; // Flatpak's words in the text
    } cases[] = {
        {"installed", flatpak("accepts", "exit 0"), St::InstallCompleted, nullptr, nullptr},
        {"refused",
         flatpak("refuses",
                 "echo 'error: The application org.orvt.App/x86_64/1 requires the runtime "
                 "org.orvt.Platform/x86_64/1 which was not found' >&2; exit 1"),
         St::Failed, "String.MsgText.FlatpakInstallFailed", "requires the runtime org.orvt.Platform"},
        {"no flatpak", bin.path(QStringLiteral("none")), St::Failed, "String.MsgText.FlatpakMissing",
         nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(args);
        platform::FlatpakOptions o;
        o.Flatpak = c.flatpak;
        tasks::SetFlatpakOptions(o);
        TOVTaskItem *t = installDownload(QStringLiteral("download-%1").arg(mgr.Count() + 1), bundle);
        EXPECT_EQ(t->State, c.state);
        const journal::Entry e = lastInstall();
        EXPECT_EQ(e.Error, t->InstallError);
        if (!c.key) {
            EXPECT_TRUE(t->InstallError.isEmpty()) << t->InstallError.toStdString();
            EXPECT_EQ(e.Outcome, journal::Result::Succeeded);
        } else {
            EXPECT_EQ(e.Outcome, journal::Result::Failed);
        }
        if (c.reason) {
            EXPECT_EQ(
                t->InstallError,
                OVFormatText(QLatin1String(c.key),
                             {t->Name,
                              QStringLiteral("error: The application org.orvt.App/x86_64/1 requires "
                                             "the runtime org.orvt.Platform/x86_64/1 which was not found")}));
        } else if (c.key) {
            EXPECT_EQ(t->InstallError,
                      OVFormatText(QLatin1String(c.key), {t->Name, QStringLiteral("flatpak")}));
            EXPECT_FALSE(QFile::exists(args));
            continue;
        }
        // Into the user's own installation, the file by its absolute path.
        EXPECT_EQ(readFile(args),
                  "install\n--user\n-y\n--noninteractive\n--bundle\n" + QFile::encodeName(t->LocalFile)
                      + "\n");
    }
}

// What a file is comes from its first bytes, never its name.
TEST(InstallerKind, TheFirstBytesTellWhatAFileIs)
{
    using K = tasks::InstallerKind;
    auto member = [](const char *name) {
        QByteArray header = QByteArray(name).leftJustified(16, ' ') + QByteArray("0").leftJustified(12, ' ')
            + QByteArray("0").leftJustified(6, ' ') + QByteArray("0").leftJustified(6, ' ')
            + QByteArray("100644").leftJustified(8, ' ') + QByteArray("4").leftJustified(10, ' ') + "`\n";
        return "!<arch>\n" + header + "2.0\n";
    };
    const struct
    {
        QByteArray head;
        K kind;
    } cases[] = {
        {member("debian-binary"), K::DebianPackage},
        {member("debian-binary/"), K::DebianPackage}, // GNU ar's spelling of names
        {member("libthing.o/"), K::Unknown}, // a static library
        {member("debian-binary").left(60), K::Unknown}, // cut short
        {member("debian-binary").replace(66, 2, "xx"), K::Unknown}, // not a member header
        {"\x7f"
         "ELF\x02\x01",
         K::LinuxProgram},
        {"#!/bin/sh\n", K::Script},
        {QByteArray("MZ\x90\x00", 4), K::WindowsProgram},
        {"Package: orvt-app\n", K::Unknown},
        {{}, K::Unknown},
        // How a bundle opens: the metadata entry {"flatpak": <uint32>}, then "ref".
        {QByteArray("flatpak\0\x01\x00\x89\xe5\0u\x08\0ref\0", 20), K::FlatpakBundle},
        {QByteArray("flatpak\0\xe5\x89\x00\x01\0u\x08\0", 16), K::FlatpakBundle}, // other byte order
        {QByteArray("flatpak\0\x01\x00\x89\xe5\0u", 13), K::Unknown}, // cut short
        {QByteArray("flatpak\0\x01\x00\x89\xe6\0u\x08\0", 16), K::Unknown}, // another marker
        {QByteArray("flatpak\0\x01\x00\x89\xe5\0s\x08\0", 16), K::Unknown}, // another type
        {"[Flatpak Ref]\nName=org.orvane.Hello\n", K::Unknown}, // a reference file, no bundle
    };
    for (const auto &c : cases)
        EXPECT_EQ(tasks::installerKindOf(c.head), c.kind) << c.head.toStdString();
}

TEST_F(PackageTaskTest, AFileOfNoKnownKindFailsNamingTheFile)
{
    const QByteArray before = readFile(db.statusFile());
    TOVTaskItem *t = installDownload(QStringLiteral("orvt-app.deb"), "Package: orvt-app\nnot a package\n");
    EXPECT_EQ(t->State, St::Failed);
    EXPECT_EQ(t->InstallError,
              OVFormatText(QStringLiteral("String.MsgText.InstallerUnknownType"), {t->Name, t->LocalFile}));
    EXPECT_EQ(lastInstall().Error, t->InstallError);
    EXPECT_EQ(readFile(db.statusFile()), before);

    // The file gone: installing again says so.
    ASSERT_TRUE(QFile::remove(t->LocalFile));
    t->Install();
    EXPECT_EQ(t->State, St::Failed);
    EXPECT_EQ(t->InstallError,
              OVFormatText(QStringLiteral("String.MsgText.InstallerMissing"), {t->Name, t->LocalFile}));
}

} // namespace
