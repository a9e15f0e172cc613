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

// Runs the tool; a non-empty locale becomes its whole locale environment.
Result run(const QStringList &args, const QByteArray &input = {}, const QString &locale = {})
{
    QProcess p;
    if (!locale.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LC_ALL", "LC_COLLATE", "LC_CTYPE", "LANG"})
            env.insert(QLatin1String(name), locale);
        env.remove(QStringLiteral("LANGUAGE"));
        p.setProcessEnvironment(env);
    }
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

// A file written under one locale is searched under another: the key order may not
// depend on either. Each pair of locales orders some of these keys differently by
// their own collation rules (case, punctuation, accents, CJK ordering).
TEST(DictdbTool, KeyOrderDoesNotDependOnTheLocale)
{
    struct Case
    {
        const char *writer, *reader;
        QStringList keys;
    } cases[] = {
        {"C",
         "zh_CN.UTF-8",
         {"svchost.exe", "Svchost2.exe", "_setup.exe", "~tmp.exe", "a-b.exe", "ab.exe", "Zeta.exe", "[x].exe",
          "B.exe", "b_c.exe"}},
        {"C",
         "de_DE.UTF-8",
         {QString::fromUtf8("Äpfel"), "apfel", "Zebra", QString::fromUtf8("Öl"), "ol",
          QString::fromUtf8("école"), "Ecole", "zz", QString::fromUtf8("über"), "Uber"}},
        {"sv_SE.UTF-8",
         "fr_FR.UTF-8",
         {QString::fromUtf8("Äpfel"), "apfel", "Zebra", QString::fromUtf8("Öl"), "ol",
          QString::fromUtf8("école"), "Ecole", "zz", QString::fromUtf8("ångström"), "Angstrom"}},
        {"zh_CN.UTF-8",
         "zh_TW.UTF-8",
         {QString::fromUtf8("中国"), QString::fromUtf8("汉字"), QString::fromUtf8("北京"),
          QString::fromUtf8("上海"), QString::fromUtf8("人"), QString::fromUtf8("一"),
          QString::fromUtf8("爱"), QString::fromUtf8("中文版"), "QQ.exe", "qq2.exe"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.writer) + " -> " + c.reader);
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("order.db"));
        Result r = run({"create", db, "--table", "T", "--field", "Name:string:40", "--index", "Exact:Name",
                        "--index", "NoCase:Name:nocase", "--index", "Down:Name:desc"},
                       {}, QLatin1String(c.writer));
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        r = run({"import", db, "T"}, (c.keys.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(),
                QLatin1String(c.writer));
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        r = run({"check", db}, {}, QLatin1String(c.reader));
        EXPECT_EQ(r.code, 0) << r.out.toStdString();
        const auto found = [&](const QStringList &args) {
            return run(QStringList {"locate", db, "T", "Name"} + args, {}, QLatin1String(c.reader)).code == 0;
        };
        for (const QString &key : c.keys) {
            const std::string k = key.toStdString();
            EXPECT_TRUE(found({key})) << k;
            EXPECT_TRUE(found({key.toUpper(), "-i"})) << k;
            EXPECT_TRUE(found({key.left(key.size() - 1), "-p"})) << k;
        }
    }
}
