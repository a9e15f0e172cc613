// The dictdb tool driven as a user would from the shell.
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Result
{
    int code;
    QString out, err;
};

Result run(const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(QStringLiteral(DICTDB_TOOL), args);
    p.waitForStarted();
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

TEST(DictdbTool, CreateImportDumpLocateAndCheck)
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("kb.db"));
    Result r = run({"create", db, "--table", "Process", "--field", "ProcessName:string:64", "--field",
                    "Description:string:255", "--field", "Virus:boolean", "--field", "Icon:blob", "--index",
                    "ByName:ProcessName:nocase", "--compress"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = run({"import", db, "Process"},
            "ProcessName\tVirus\tDescription\tIcon\n"
            "explorer.exe\tFalse\tShell\\twith tab\thex:00ff\n"
            "EVIL.EXE\tTrue\tbad\t\n");
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = run({"locate", db, "Process", "ProcessName", "evil.exe", "-i"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Virus=True"))) << r.out.toStdString();
    r = run({"locate", db, "Process", "ProcessName", "EXPL", "-i", "-p"});
    EXPECT_TRUE(r.out.contains(QStringLiteral("Description=Shell\\twith tab"))) << r.out.toStdString();
    EXPECT_EQ(run({"locate", db, "Process", "ProcessName", "evil.exe"}).code, 1) << "case matters without -i";
    r = run({"dump", db});
    EXPECT_TRUE(r.out.contains(QStringLiteral("explorer.exe\tShell\\twith tab\tFalse\thex:00ff")))
        << r.out.toStdString();
    EXPECT_EQ(run({"check", db}).code, 0);

    // damage: cut the file inside its blocks
    QFile f(db);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.resize(9000);
    f.close();
    r = run({"check", db});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains(QStringLiteral("damaged"))) << r.out.toStdString();

    EXPECT_EQ(run({"create", db, "--table", "T", "--field", "X:nosuchtype"}).code, 2);
    EXPECT_EQ(run({"frobnicate", db}).code, 2);
}

TEST(DictdbTool, EncryptedFilesNeedThePassword)
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("enc.db"));
    ASSERT_EQ(run({"create", db, "--table", "T", "--field", "Name:string:20", "--password", "secret",
                   "--cipher", "gost", "--mode", "3"})
                  .code,
              0);
    ASSERT_EQ(run({"import", db, "T", "--password", "secret"}, "hidden value\n").code, 0);
    EXPECT_EQ(run({"dump", db}).code, 2);
    EXPECT_EQ(run({"dump", db, "--password", "Secret"}).code, 2);
    const Result r = run({"dump", db, "--password", "secret"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("hidden value")));
}
