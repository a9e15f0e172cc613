#include "platform/DpkgStatus.h"
#include "platform/PackageRemoval.h"
#include "support/Files.h"
#include "support/ScratchApt.h"
#include "support/ScratchPackages.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

using platform::RemovalOutcome;
using testsupport::ScratchPackages;

TEST(AptOutput, RemovalLinesGiveThePackagesInAptsOrder)
{
    const QByteArray sim = "Reading package lists...\n"
                           "The following packages will be REMOVED:\n"
                           "  orvt-app orvt-lib\n"
                           "Remv orvt-plugin [1.0]\n"
                           "Remv libthing:i386 [2.1-3] [orvt-app ]\n"
                           "Purg orvt-app [1.0]\n"
                           "Remv orvt-plugin [1.0]\n" // once only
                           "Remv Bad_Name [1]\n" // not a package name
                           "Remv lib:ARCH [1]\n"
                           "Remv x\n" // too short
                           "Inst orvt-new [1.0]\n";
    EXPECT_EQ(platform::parseAptRemovals(sim), (QStringList {"orvt-plugin", "libthing:i386", "orvt-app"}));
    EXPECT_TRUE(platform::parseAptRemovals({}).isEmpty());
}

TEST(AptOutput, ErrorTextPrefersErrorLinesAndElseTheEnd)
{
    EXPECT_EQ(platform::aptErrorText(
                  "W: a warning\nE: Could not get lock /x/lock-frontend.\nE: Unable to acquire\n"),
              QStringLiteral("Could not get lock /x/lock-frontend.\nUnable to acquire"));
    QByteArray many;
    for (int i = 1; i <= 12; ++i)
        many += "line " + QByteArray::number(i) + '\n';
    EXPECT_EQ(platform::aptErrorText(many).split(u'\n').size(), 8);
    EXPECT_TRUE(platform::aptErrorText(many).endsWith(QLatin1String("line 12")));
}

TEST(AptOutput, PackageNamesMatchWithAndWithoutArchitecture)
{
    struct Case
    {
        const char *apt, *asked;
        bool same;
    } cases[] = {
        {"libfoo", "libfoo", true},      {"libfoo", "libfoo:amd64", true},
        {"libfoo:i386", "libfoo", true}, {"libfoo:i386", "libfoo:amd64", false},
        {"libfoo", "libfoo2", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::samePackage(QLatin1String(c.apt), QLatin1String(c.asked)), c.same)
            << c.apt << " / " << c.asked;
}

TEST(DpkgStatus, ReadsSelectionPriorityAndWhatTheSystemMustKeep)
{
    const auto pkgs
        = platform::parseDpkgStatus("Package: core\nStatus: hold ok installed\nPriority: Required\n"
                                    "Essential: yes\n\n"
                                    "Package: guarded\nStatus: install ok installed\nProtected: yes\n"
                                    "Priority: optional\n\n"
                                    "Package: plain\nStatus: deinstall ok installed\nEssential: no\n");
    ASSERT_EQ(pkgs.size(), 3);
    EXPECT_EQ(pkgs[0].want, QStringLiteral("hold"));
    EXPECT_EQ(pkgs[0].priority, QStringLiteral("required"));
    EXPECT_TRUE(pkgs[0].essential);
    EXPECT_FALSE(pkgs[0].protectedPackage);
    EXPECT_TRUE(pkgs[1].protectedPackage);
    EXPECT_FALSE(pkgs[1].essential);
    EXPECT_EQ(pkgs[2].want, QStringLiteral("deinstall"));
    EXPECT_FALSE(pkgs[2].essential);
}

// A scratch database with an application, the library it pulled in, a
// plug-in that needs the application and a left-over automatic package.
class AptRemoval : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(db.isValid()) << "apt does not read the scratch configuration";
        const QStringList debs = {
            db.build(QStringLiteral("orvt-lib")),
            db.build(QStringLiteral("orvt-app"), QStringLiteral("Depends: orvt-lib")),
            db.build(QStringLiteral("orvt-plugin"), QStringLiteral("Depends: orvt-app")),
            db.build(QStringLiteral("orvt-orphan")),
        };
        for (const QString &d : debs)
            ASSERT_FALSE(d.isEmpty());
        QString log;
        ASSERT_TRUE(db.install(debs, &log)) << log.toStdString();
        ASSERT_TRUE(db.markAuto({QStringLiteral("orvt-lib"), QStringLiteral("orvt-orphan")}));
    }

    platform::AptRemovalOptions options() const { return testsupport::scratchAptOptions(db); }

    platform::PackageRemovalPlan plan(const QString &package, const platform::IPackageRemoval &removal)
    {
        platform::PackageRemovalPlan p;
        const platform::PackageRemovalResult r = removal.simulate({package}, p, nullptr);
        EXPECT_EQ(r.Outcome, RemovalOutcome::Done) << r.Reason.toStdString();
        return p;
    }

    bool installed(const char *name) const { return db.statusOf(QLatin1String(name)).endsWith(" installed"); }

    ScratchPackages db;
};

TEST_F(AptRemoval, ThePlanNamesDependentsAndUnneededDependenciesAndTheRemovalTakesExactlyThose)
{
    const auto removal = platform::makeAptPackageRemoval(options());
    const platform::PackageRemovalPlan p = plan(QStringLiteral("orvt-app"), *removal);
    EXPECT_EQ(p.requested, QStringList {"orvt-app"});
    EXPECT_EQ(p.dependents, QStringList {"orvt-plugin"});
    // The left-over automatic package is not this removal's.
    EXPECT_EQ(p.unneeded, QStringList {"orvt-lib"});
    EXPECT_EQ(QSet<QString>(p.everything.begin(), p.everything.end()),
              (QSet<QString> {"orvt-app", "orvt-plugin", "orvt-lib"}));
    EXPECT_TRUE(p.blocked.isEmpty());
    EXPECT_TRUE(installed("orvt-app")) << "a simulation changed the database";

    const platform::PackageRemovalResult r = removal->remove(p, nullptr);
    ASSERT_EQ(r.Outcome, RemovalOutcome::Done) << r.Reason.toStdString();
    EXPECT_FALSE(installed("orvt-app"));
    EXPECT_FALSE(installed("orvt-plugin"));
    EXPECT_FALSE(installed("orvt-lib"));
    EXPECT_TRUE(installed("orvt-orphan"));
}

TEST_F(AptRemoval, PackagesTheSystemMustKeepAreRefusedAndSoIsWhatTheyNeed)
{
    QStringList debs
        = {db.build(QStringLiteral("orvt-ess"), QStringLiteral("Essential: yes")),
           db.build(QStringLiteral("orvt-prot"), QStringLiteral("Protected: yes")),
           db.build(QStringLiteral("orvt-req"), QStringLiteral("Priority: required")),
           db.build(QStringLiteral("orvt-base")),
           db.build(QStringLiteral("orvt-core"), QStringLiteral("Essential: yes\nDepends: orvt-base"))};
    QString log;
    ASSERT_TRUE(db.install(debs, &log)) << log.toStdString();
    const QByteArray before = testsupport::readFile(db.statusFile());
    const auto removal = platform::makeAptPackageRemoval(options());
    struct Case
    {
        const char *asked, *blocked;
    } cases[] = {{"orvt-ess", "orvt-ess"}, {"orvt-prot", "orvt-prot"}, {"orvt-req", "orvt-req"}};
    for (const Case &c : cases) {
        const platform::PackageRemovalPlan p = plan(QLatin1String(c.asked), *removal);
        EXPECT_TRUE(p.blocked.contains(QLatin1String(c.blocked))) << c.asked;
        EXPECT_EQ(removal->remove(p, nullptr).Outcome, RemovalOutcome::Refused) << c.asked;
        // A plan whose list of packages to keep was lost is checked again.
        platform::PackageRemovalPlan stripped = p;
        stripped.blocked.clear();
        EXPECT_EQ(removal->remove(stripped, nullptr).Outcome, RemovalOutcome::Refused) << c.asked;
    }
    // What an essential package needs: apt itself refuses, and says why.
    platform::PackageRemovalPlan p;
    const platform::PackageRemovalResult r = removal->simulate({QStringLiteral("orvt-base")}, p, nullptr);
    EXPECT_EQ(r.Outcome, RemovalOutcome::Failed);
    EXPECT_FALSE(r.Reason.isEmpty());
    EXPECT_TRUE(p.everything.isEmpty());
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);
}

TEST_F(AptRemoval, AHeldLockIsReportedAndNothingChanges)
{
    const auto removal = platform::makeAptPackageRemoval(options());
    const platform::PackageRemovalPlan p = plan(QStringLiteral("orvt-plugin"), *removal);
    const QByteArray before = testsupport::readFile(db.statusFile());
    for (const char *lockName : {"lock-frontend", "lock"}) {
        const testsupport::HeldDpkgLock lock(db, lockName);
        ASSERT_TRUE(lock.held()) << lockName;
        EXPECT_EQ(removal->remove(p, nullptr).Outcome, RemovalOutcome::Locked) << lockName;
    }
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);
    EXPECT_EQ(removal->remove(p, nullptr).Outcome, RemovalOutcome::Done);
}

TEST_F(AptRemoval, AFailedRemovalGivesThePackageManagersReasonAndLeavesTheStatusFileAsItWas)
{
    QString log;
    ASSERT_TRUE(
        db.install({db.build(QStringLiteral("orvt-stubborn"), {},
                             "[ \"$1\" = remove ] && { echo 'orvt-stubborn refuses to go' >&2; exit 1; }\n"
                             "exit 0")},
                   &log))
        << log.toStdString();
    const auto removal = platform::makeAptPackageRemoval(options());
    const platform::PackageRemovalPlan p = plan(QStringLiteral("orvt-stubborn"), *removal);
    const QByteArray before = testsupport::readFile(db.statusFile());
    const platform::PackageRemovalResult r = removal->remove(p, nullptr);
    EXPECT_EQ(r.Outcome, RemovalOutcome::Failed);
    EXPECT_FALSE(r.Reason.isEmpty());
    EXPECT_TRUE(r.SelectionsRestored);
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);
    EXPECT_EQ(db.statusOf(QStringLiteral("orvt-stubborn")), QStringLiteral("install ok installed"));
}

TEST_F(AptRemoval, APlanThatNoLongerMatchesIsNotCarriedOut)
{
    const auto removal = platform::makeAptPackageRemoval(options());
    const platform::PackageRemovalPlan p = plan(QStringLiteral("orvt-app"), *removal);
    // Something new needs the application since the user was asked.
    QString log;
    ASSERT_TRUE(
        db.install({db.build(QStringLiteral("orvt-newcomer"), QStringLiteral("Depends: orvt-app"))}, &log))
        << log.toStdString();
    EXPECT_EQ(removal->remove(p, nullptr).Outcome, RemovalOutcome::Changed);
    EXPECT_TRUE(installed("orvt-app"));
    EXPECT_TRUE(installed("orvt-newcomer"));
}

TEST_F(AptRemoval, AnUnknownPackageIsTheSimulationsFailureWithAptsWords)
{
    const auto removal = platform::makeAptPackageRemoval(options());
    platform::PackageRemovalPlan p;
    const platform::PackageRemovalResult r = removal->simulate({QStringLiteral("orvt-absent")}, p, nullptr);
    EXPECT_EQ(r.Outcome, RemovalOutcome::Failed);
    EXPECT_TRUE(r.Reason.contains(QLatin1String("orvt-absent"))) << r.Reason.toStdString();
    EXPECT_TRUE(p.everything.isEmpty());
}

// pkexec's own answers, from a stand-in that never runs what it is given.
TEST_F(AptRemoval, MissingPkexecAndItsRefusalsAreToldApart)
{
    testsupport::ScratchDir bin;
    const QByteArray before = testsupport::readFile(db.statusFile());
    for (const testsupport::PkexecStandIn &c : testsupport::pkexecRefusals(bin)) {
        platform::AptRemovalOptions o = options();
        o.UsePkexec = 1;
        o.Pkexec = c.pkexec;
        const auto removal = platform::makeAptPackageRemoval(o);
        const platform::PackageRemovalPlan p = plan(QStringLiteral("orvt-plugin"), *removal);
        EXPECT_EQ(removal->remove(p, nullptr).Outcome, c.outcome) << c.pkexec.toStdString();
    }
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);
}

} // namespace

namespace {

// A removal that fails after marking a package for removal: the stand-in for
// apt simulates with the real one and, asked to remove, only marks the
// package with dpkg and fails.
TEST_F(AptRemoval, SelectionsAFailedRemovalChangedArePutBack)
{
    testsupport::ScratchDir bin;
    const QString fakeApt
        = bin.file(QStringLiteral("apt-get"),
                   "#!/bin/sh\n"
                   "case \" $* \" in *' -s '*) exec apt-get \"$@\";; esac\n"
                   "echo 'orvt-plugin deinstall' | "
                       + QFile::encodeName(db.dpkgCommand().join(u' '))
                       + " --set-selections || exit 2\n"
                         "echo 'E: Sub-process /usr/bin/dpkg returned an error code (1)' >&2\n"
                         "exit 100\n");
    ASSERT_TRUE(QFile::setPermissions(fakeApt, QFile::ReadOwner | QFile::ExeOwner));
    platform::AptRemovalOptions o = options();
    o.AptGet = {fakeApt};
    const auto removal = platform::makeAptPackageRemoval(o);
    const platform::PackageRemovalPlan p = plan(QStringLiteral("orvt-plugin"), *removal);
    const QByteArray before = testsupport::readFile(db.statusFile());
    const platform::PackageRemovalResult r = removal->remove(p, nullptr);
    EXPECT_EQ(r.Outcome, RemovalOutcome::Failed);
    EXPECT_EQ(r.Reason, QStringLiteral("Sub-process /usr/bin/dpkg returned an error code (1)"));
    EXPECT_TRUE(r.SelectionsRestored) << r.SelectionsReason.toStdString();
    EXPECT_EQ(db.statusOf(QStringLiteral("orvt-plugin")), QStringLiteral("install ok installed"));
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);
}

} // namespace

// A removed package whose configuration stayed behind is purged through the
// same checked path; a name that would read as an option never reaches apt.
TEST_F(AptRemoval, LeftOverConfigurationIsPurgedAndOptionLikeNamesAreRefused)
{
    const QString deb = db.build(QStringLiteral("orvt-conf"), {}, {}, "setting=1\n");
    ASSERT_FALSE(deb.isEmpty());
    QString log;
    ASSERT_TRUE(db.install({deb}, &log)) << log.toStdString();
    const auto removal = platform::makeAptPackageRemoval(options());
    ASSERT_EQ(removal->remove(plan(QStringLiteral("orvt-conf"), *removal), nullptr).Outcome,
              RemovalOutcome::Done);
    ASSERT_TRUE(db.statusOf(QStringLiteral("orvt-conf")).endsWith(" config-files"))
        << db.statusOf(QStringLiteral("orvt-conf")).toStdString();

    const QByteArray before = testsupport::readFile(db.statusFile());
    const platform::PackageRemovalResult refused
        = removal->remove(platform::configurationPurgePlan({QStringLiteral("--help")}), nullptr);
    EXPECT_EQ(refused.Outcome, RemovalOutcome::Failed);
    EXPECT_EQ(testsupport::readFile(db.statusFile()), before);

    const platform::PackageRemovalResult purged
        = removal->remove(platform::configurationPurgePlan({QStringLiteral("orvt-conf")}), nullptr);
    ASSERT_EQ(purged.Outcome, RemovalOutcome::Done) << purged.Reason.toStdString();
    EXPECT_TRUE(db.statusOf(QStringLiteral("orvt-conf")).isEmpty()
                || db.statusOf(QStringLiteral("orvt-conf")).endsWith(" not-installed"));
    EXPECT_FALSE(QFileInfo::exists(db.root() + QStringLiteral("/etc/orvt-conf.conf")));
}
