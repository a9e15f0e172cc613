// The orvane-reg program, run as installers run it.

#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace platform;

namespace {

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

class RegTool : public ::testing::Test
{
protected:
    void SetUp() override { setRegistryDirectory(dir.path()); }
    void TearDown() override { setRegistryDirectory(QString()); }

    QProcess *start(const QStringList &args)
    {
        auto *p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVANE_REGISTRY_DIR"), dir.path());
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(ORVANE_REG_EXE), args);
        return p;
    }
    ToolRun run(const QStringList &args)
    {
        std::unique_ptr<QProcess> p(start(args));
        ToolRun r;
        if (!p->waitForFinished(30000))
            return r;
        r.exitCode = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
        r.out = QString::fromUtf8(p->readAllStandardOutput());
        r.err = QString::fromUtf8(p->readAllStandardError());
        return r;
    }
    QTemporaryDir dir;
};

const QString kKey = QStringLiteral("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo");

} // namespace

TEST_F(RegTool, AddQueryDeleteRoundTrip)
{
    EXPECT_EQ(run({QStringLiteral("add"), kKey, QStringLiteral("/v"), QStringLiteral("DisplayName"),
                   QStringLiteral("/d"), QStringLiteral("Demo \u00e9dition"), QStringLiteral("/f")})
                  .exitCode,
              0);
    EXPECT_EQ(run({QStringLiteral("add"), kKey, QStringLiteral("/v"), QStringLiteral("UninstallString"),
                   QStringLiteral("/t"), QStringLiteral("REG_EXPAND_SZ"), QStringLiteral("/d"),
                   QStringLiteral("\"/opt/demo/un install.sh\" --quiet"), QStringLiteral("/f")})
                  .exitCode,
              0);
    EXPECT_EQ(run({QStringLiteral("add"), kKey, QStringLiteral("/v"), QStringLiteral("EstimatedSize"),
                   QStringLiteral("/t"), QStringLiteral("REG_DWORD"), QStringLiteral("/d"),
                   QStringLiteral("0x400"), QStringLiteral("/f")})
                  .exitCode,
              0);
    // What the tool wrote, this process reads.
    EXPECT_EQ(RegReadString(kKey, QStringLiteral("DisplayName")), QStringLiteral("Demo \u00e9dition"));
    EXPECT_EQ(RegReadString(kKey, QStringLiteral("UninstallString")),
              QStringLiteral("\"/opt/demo/un install.sh\" --quiet"));
    EXPECT_EQ(RegReadInteger(kKey, QStringLiteral("EstimatedSize")), 1024);

    const ToolRun q = run({QStringLiteral("query"), kKey});
    EXPECT_EQ(q.exitCode, 0);
    EXPECT_TRUE(q.out.contains(QStringLiteral("    DisplayName    REG_SZ    Demo \u00e9dition")))
        << q.out.toStdString();
    EXPECT_TRUE(q.out.contains(QStringLiteral("    EstimatedSize    REG_DWORD    0x00000400")));
    const ToolRun qv
        = run({QStringLiteral("query"), kKey, QStringLiteral("/v"), QStringLiteral("EstimatedSize")});
    EXPECT_EQ(qv.exitCode, 0);
    EXPECT_FALSE(qv.out.contains(QStringLiteral("DisplayName")));

    // Without /f an existing value is left alone.
    const ToolRun again = run({QStringLiteral("add"), kKey, QStringLiteral("/v"),
                               QStringLiteral("DisplayName"), QStringLiteral("/d"), QStringLiteral("Other")});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_TRUE(again.err.contains(QStringLiteral("/f")));

    EXPECT_EQ(run({QStringLiteral("delete"), kKey, QStringLiteral("/v"), QStringLiteral("EstimatedSize"),
                   QStringLiteral("/f")})
                  .exitCode,
              0);
    EXPECT_FALSE(RegValueExists(kKey, QStringLiteral("EstimatedSize")));
    EXPECT_EQ(run({QStringLiteral("delete"), kKey, QStringLiteral("/f")}).exitCode, 0);
    EXPECT_FALSE(RegKeyExists(kKey));
    EXPECT_NE(run({QStringLiteral("delete"), kKey, QStringLiteral("/f")}).exitCode, 0);
    EXPECT_NE(run({QStringLiteral("query"), kKey}).exitCode, 0);
}

TEST_F(RegTool, BadCommandLinesAndDamagedHivesFailClearly)
{
    const struct
    {
        QStringList args;
        const char *message;
    } cases[] = {
        {{QStringLiteral("add"), QStringLiteral("HKXX\\Software")}, "unknown root key"},
        {{QStringLiteral("add"), kKey, QStringLiteral("/v"), QStringLiteral("N"), QStringLiteral("/t"),
          QStringLiteral("REG_DWORD"), QStringLiteral("/d"), QStringLiteral("many")},
         "32-bit number"},
        {{QStringLiteral("add"), kKey, QStringLiteral("/t"), QStringLiteral("REG_BINARY"),
          QStringLiteral("/d"), QStringLiteral("00")},
         "unsupported type"},
        {{QStringLiteral("frobnicate"), kKey}, "unknown command"},
        {{QStringLiteral("add"), kKey, QStringLiteral("/q")}, "unexpected argument"},
        {{QStringLiteral("add")}, "missing command or key"},
    };
    for (const auto &c : cases) {
        const ToolRun r = run(c.args);
        EXPECT_NE(r.exitCode, 0) << c.message;
        EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << r.err.toStdString();
    }

    QFile f(dir.filePath(QStringLiteral("HKEY_CURRENT_USER.reg")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("WINE REGISTRY Version 2\n[Keep] 1\n\"A\"=dword:zz\n");
    f.close();
    const ToolRun r
        = run({QStringLiteral("add"), QStringLiteral("HKCU\\New"), QStringLiteral("/v"), QStringLiteral("A"),
               QStringLiteral("/d"), QStringLiteral("x"), QStringLiteral("/f")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("does not parse"))) << r.err.toStdString();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("WINE REGISTRY Version 2\n[Keep] 1\n\"A\"=dword:zz\n"));
}

TEST_F(RegTool, ProcessesWritingAtOnceLoseNothing)
{
    // Two writers, each adding its own values to one hive at the same time.
    constexpr int kPerWriter = 25;
    std::vector<std::unique_ptr<QProcess>> running;
    for (int i = 0; i < kPerWriter; ++i)
        for (const char *writer : {"A", "B"}) {
            running.emplace_back(
                start({QStringLiteral("add"), kKey + QLatin1String(writer), QStringLiteral("/v"),
                       QStringLiteral("V%1").arg(i), QStringLiteral("/t"), QStringLiteral("REG_DWORD"),
                       QStringLiteral("/d"), QString::number(i), QStringLiteral("/f")}));
            if (running.size() >= 8) {
                ASSERT_TRUE(running.front()->waitForFinished(30000));
                EXPECT_EQ(running.front()->exitCode(), 0);
                running.erase(running.begin());
            }
        }
    for (auto &p : running) {
        ASSERT_TRUE(p->waitForFinished(30000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().constData();
    }
    for (const char *writer : {"A", "B"}) {
        const QList<RegValue> values = RegReadValues(kKey + QLatin1String(writer));
        EXPECT_EQ(values.size(), kPerWriter) << writer;
    }
    EXPECT_EQ(
        QDir(dir.path()).entryList(QDir::Files),
        (QStringList {QStringLiteral("HKEY_CURRENT_USER.reg"), QStringLiteral("HKEY_CURRENT_USER.reg.lock")}))
        << "no temporary file is left behind";
}

// A copy of the tool in an application folder of its own, as a package or a
// portable folder holds it: without ORVANE_REGISTRY_DIR it finds the hives
// where the program keeps them in that folder's layout. The package also puts
// a link to it on PATH (/usr/bin/orvane-reg -> ../lib/orvane/orvane-reg) for
// installers started by hand: found there by name, it still finds its folder.
TEST(RegToolLayout, FindsTheProgramsHivesInEachLayout)
{
    const struct
    {
        const char *name;
        bool marker;
        bool readOnly;
        bool inUserFolder;
        bool onPath; // started by name through a relative link in a folder on PATH
    } cases[] = {
        {"portable", false, false, false, false},
        {"marked as installed", true, false, true, false},
        {"read-only, unmarked", false, true, true, false},
        {"installed, through the link on PATH", true, false, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir scratch;
        ASSERT_TRUE(scratch.isValid());
        const QString app = scratch.filePath(QStringLiteral("app"));
        const QString data = scratch.filePath(QStringLiteral("data"));
        ASSERT_TRUE(QDir().mkpath(app) && QDir().mkpath(data));
        const QString exe = app + QStringLiteral("/orvane-reg");
        ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_REG_EXE), exe));
        if (c.marker) {
            QFile marker(app + QStringLiteral("/installed-layout"));
            ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
        }

        // Root writes anywhere: the read-only case runs the tool as an ordinary user.
        QStringList prefix;
        if (c.readOnly) {
            ASSERT_TRUE(QFile::setPermissions(app,
                                              QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadOther | QFileDevice::ExeOther));
            if (::geteuid() == 0) {
                prefix = {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                          QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};
                const auto all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                    | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
                ASSERT_TRUE(QFile::setPermissions(scratch.path(), all & ~QFileDevice::WriteOther));
                ASSERT_TRUE(QFile::setPermissions(data, all));
            }
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QStringList command {exe};
        if (c.onPath) {
            const QString bin = scratch.filePath(QStringLiteral("bin"));
            ASSERT_TRUE(QDir().mkpath(bin));
            ASSERT_TRUE(
                QFile::link(QStringLiteral("../app/orvane-reg"), bin + QStringLiteral("/orvane-reg")));
            env.insert(QStringLiteral("PATH"), bin + QStringLiteral(":/usr/bin:/bin"));
            // As an installer script calls it: by name, through the shell's lookup.
            command = {QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("exec orvane-reg \"$@\""),
                       QStringLiteral("sh")};
        }
        env.remove(QStringLiteral("ORVANE_REGISTRY_DIR"));
        env.remove(QStringLiteral("ORVANE_REG"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), data);
        env.insert(QStringLiteral("HOME"), data);
        auto run = [&](const QStringList &args) {
            QProcess p;
            p.setProcessEnvironment(env);
            const QStringList argv = prefix + command + args;
            p.start(argv.first(), argv.mid(1));
            if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
                return std::make_pair(-1, QString());
            return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()));
        };
        const QString key = QStringLiteral("HKCU\\Software\\Demo");
        ASSERT_EQ(run({QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("Name"),
                       QStringLiteral("/d"), QStringLiteral("layout value"), QStringLiteral("/f")})
                      .first,
                  0);
        const auto query = run({QStringLiteral("query"), key, QStringLiteral("/v"), QStringLiteral("Name")});
        EXPECT_EQ(query.first, 0);
        EXPECT_TRUE(query.second.contains(QStringLiteral("layout value"))) << query.second.toStdString();

        const QString inUser = data + QStringLiteral("/orvane/Registry/HKEY_CURRENT_USER.reg");
        const QString inApp = app + QStringLiteral("/Registry/HKEY_CURRENT_USER.reg");
        EXPECT_EQ(QFileInfo::exists(inUser), c.inUserFolder);
        EXPECT_EQ(QFileInfo::exists(inApp), !c.inUserFolder);
        QFile::setPermissions(app, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}
