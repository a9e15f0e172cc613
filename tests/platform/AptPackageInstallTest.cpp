#include "platform/PackageInstall.h"
#include "platform/ProcessJob.h"
#include "support/Files.h"
#include "support/ScratchApt.h"
#include "support/ScratchPackages.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using platform::PackageOutcome;
using testsupport::ScratchPackages;

TEST(AptOutput, AFailureNamesTheUnmetDependenciesBeforeAptsErrorLines)
{
    const QByteArray output = "Reading package lists...\n"
                              "Some packages could not be installed. This may mean that you have\n"
                              "The following packages have unmet dependencies:\n"
                              " orvt-app : Depends: orvt-missing but it is not installable\n"
                              "            Depends: orvt-other (>= 2) but 1 is to be installed\n"
                              "\n"
                              " not part of the list\n";
    EXPECT_EQ(
        platform::aptFailureText(output, "E: Unable to correct problems, you have held broken packages.\n"),
        QStringLiteral("orvt-app : Depends: orvt-missing but it is not installable\n"
                       "Depends: orvt-other (>= 2) but 1 is to be installed\n"
                       "Unable to correct problems, you have held broken packages."));
    // Without such a list it is the error text as before, from either output.
    EXPECT_EQ(platform::aptFailureText("Reading package lists...\n", "E: Unsupported file x given\n"),
              QStringLiteral("Unsupported file x given"));
    EXPECT_EQ(platform::aptFailureText("E: from the output\n", {}), QStringLiteral("from the output"));
}

// A scratch database holding a library that packages under test may depend on.
class AptInstall : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(db.isValid()) << "apt does not read the scratch configuration";
        QString log;
        ASSERT_TRUE(db.install({db.build(QStringLiteral("orvt-lib"))}, &log)) << log.toStdString();
    }

    platform::AptOptions options() const { return testsupport::scratchAptOptions(db); }

    platform::PackageInstallResult install(const QString &deb, const platform::AptOptions &o)
    {
        const auto installer = platform::makeAptPackageInstall(o);
        return installer->install(installer->command(deb), nullptr);
    }

    bool installed(const char *name) const { return db.statusOf(QLatin1String(name)).endsWith(" installed"); }

    ScratchPackages db;
    testsupport::ScratchDir scratch;
};

TEST_F(AptInstall, APackageFileInstallsWithAnInstalledDependencyUnderAnyName)
{
    const QString deb = db.build(QStringLiteral("orvt-app"), QStringLiteral("Depends: orvt-lib"));
    ASSERT_FALSE(deb.isEmpty());
    const auto installer = platform::makeAptPackageInstall(options());
    const platform::PackageInstallCommand c = installer->command(deb);
    EXPECT_EQ(c.argv, (QStringList {"apt-get", "install", "-y", deb}));
    const platform::PackageInstallResult r = installer->install(c, nullptr);
    ASSERT_EQ(r.Outcome, PackageOutcome::Done) << r.Reason.toStdString();
    EXPECT_EQ(r.JobResult, 0u);
    EXPECT_EQ(r.ExitStatus, 0);
    EXPECT_TRUE(installed("orvt-app"));

    // A download saved under another name: apt takes a local file only by its
    // ".deb" ending, so it is handed a second name that goes again afterwards.
    const QString renamed = scratch.path(QStringLiteral("setup.bin"));
    ASSERT_TRUE(QFile::copy(db.build(QStringLiteral("orvt-tool")), renamed));
    ASSERT_TRUE(scratch.write(QStringLiteral("setup.bin.deb"), "in the way"));
    const platform::PackageInstallCommand viaLink = installer->command(renamed);
    EXPECT_EQ(viaLink.argv.last(), renamed + QStringLiteral("-2.deb"));
    const platform::PackageInstallResult linked = installer->install(viaLink, nullptr);
    ASSERT_EQ(linked.Outcome, PackageOutcome::Done) << linked.Reason.toStdString();
    EXPECT_TRUE(installed("orvt-tool"));
    EXPECT_FALSE(QFileInfo::exists(viaLink.argv.last()));
    EXPECT_TRUE(QFileInfo::exists(renamed));
    EXPECT_EQ(testsupport::readFile(scratch.path(QStringLiteral("setup.bin.deb"))), "in the way");
}

TEST_F(AptInstall, AMissingDependencyOrABrokenFileFailsWithAptsReasonAndChangesNothing)
{
    const QString garbage = scratch.file(QStringLiteral("broken.deb"), "!<arch>\nnot really a package\n");
    const struct
    {
        QString deb;
        const char *reason;
    } cases[] = {
        {db.build(QStringLiteral("orvt-needy"), QStringLiteral("Depends: orvt-missing")), "orvt-missing"},
        {garbage, "broken.deb"},
    };
    const QByteArray before = testsupport::readFile(db.statusFile());
    for (const auto &c : cases) {
        const platform::PackageInstallResult r = install(c.deb, options());
        EXPECT_EQ(r.Outcome, PackageOutcome::Failed) << c.reason;
        EXPECT_EQ(r.ExitStatus, 100) << c.reason;
        EXPECT_TRUE(r.Reason.contains(QLatin1String(c.reason))) << r.Reason.toStdString();
    }
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);
}

TEST_F(AptInstall, AHeldLockIsReportedBeforeAnythingRuns)
{
    const QString deb = db.build(QStringLiteral("orvt-app"));
    const QByteArray before = testsupport::readFile(db.statusFile());
    for (const char *lockName : {"lock-frontend", "lock"}) {
        const platform::PackageInstallResult r = [&] {
            const testsupport::HeldDpkgLock lock(db, lockName);
            EXPECT_TRUE(lock.held()) << lockName;
            return install(deb, options());
        }();
        EXPECT_EQ(r.Outcome, PackageOutcome::Locked) << lockName;
        EXPECT_FALSE(r.ExitStatus.has_value()) << lockName;
    }
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);
    EXPECT_EQ(install(deb, options()).Outcome, PackageOutcome::Done);
}

// pkexec's answers, from stand-ins: one runs what it is given, the others refuse.
TEST_F(AptInstall, ThroughPkexecAptIsNamedByItsPathAndPkexecsRefusalsAreToldApart)
{
    const QString deb = db.build(QStringLiteral("orvt-app"));
    const QByteArray before = testsupport::readFile(db.statusFile());
    platform::AptOptions o = options();
    o.UsePkexec = 1;
    for (const testsupport::PkexecStandIn &c : testsupport::pkexecRefusals(scratch)) {
        o.Pkexec = c.pkexec;
        const auto installer = platform::makeAptPackageInstall(o);
        const platform::PackageInstallCommand command = installer->command(deb);
        EXPECT_EQ(command.ok(), c.outcome != PackageOutcome::NoElevation) << c.pkexec.toStdString();
        EXPECT_EQ(installer->install(command, nullptr).Outcome, c.outcome) << c.pkexec.toStdString();
    }
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);

    o.Pkexec = scratch.script(QStringLiteral("grants"), "exec \"$@\"");
    const auto installer = platform::makeAptPackageInstall(o);
    const platform::PackageInstallCommand command = installer->command(deb);
    ASSERT_EQ(command.argv.mid(0, 2), (QStringList {o.Pkexec, platform::findProgram("apt-get")}));
    const platform::PackageInstallResult r = installer->install(command, nullptr);
    EXPECT_EQ(r.Outcome, PackageOutcome::Done) << r.Reason.toStdString();
    EXPECT_TRUE(installed("orvt-app"));
}

// Whether pkexec goes first is decided by who runs: a normal user (this test
// again, started as uid 1000) goes through it, the administrator does not.
TEST(AptInstallElevation, AUserGoesThroughPkexecAndTheAdministratorDoesNot)
{
    platform::AptOptions o;
    o.Pkexec = QStringLiteral("env"); // any program every user may run stands in for it
    const QStringList argv = platform::makeAptPackageInstall(o)->command(QStringLiteral("/x/a.deb")).argv;
    if (qEnvironmentVariableIsSet("ORVT_ELEVATION_CHILD")) {
        std::fputs(qPrintable(argv.join(u' ') + u'\n'), stdout);
        return;
    }
    const QString child
        = QStringList {platform::findProgram(QStringLiteral("env")),
                       platform::findProgram(QStringLiteral("apt-get")), QStringLiteral("install"),
                       QStringLiteral("-y"), QStringLiteral("/x/a.deb")}
              .join(u' ');
    if (::geteuid() != 0) {
        EXPECT_EQ(argv.join(u' '), child);
        return;
    }
    EXPECT_EQ(argv, (QStringList {"apt-get", "install", "-y", "/x/a.deb"}));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVT_ELEVATION_CHILD"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=1000"), QStringLiteral("--regid=1000"), QStringLiteral("--clear-groups"),
             QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget(),
             QStringLiteral("--gtest_filter=AptInstallElevation.*")});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString said = QString::fromUtf8(p.readAllStandardOutput());
    ASSERT_EQ(p.exitCode(), 0) << said.toStdString() << p.readAllStandardError().toStdString();
    EXPECT_TRUE(said.contains(child + u'\n')) << said.toStdString();
}

} // namespace
