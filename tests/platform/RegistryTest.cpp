#include "platform/Registry.h"

#include "support/Files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const QString kUninstall = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

using testsupport::readFile;
using testsupport::writeFile;

// Every test gets its own hive folder.
class Registry : public ::testing::Test
{
protected:
    void SetUp() override { setRegistryDirectory(dir.path() + QStringLiteral("/Registry")); }
    void TearDown() override { setRegistryDirectory(QString()); }
    QString hive(const char *root)
    {
        return dir.path() + QStringLiteral("/Registry/") + QLatin1String(root) + QStringLiteral(".reg");
    }
    QTemporaryDir dir;
};

const QByteArray kSample
    = "WINE REGISTRY Version 2\n"
      ";; All keys relative to \\\\User\n"
      "\n"
      "#arch=win64\n"
      "\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\App] 1700000000\n"
      "#time=1d9e0f0a1b2c3d4\n"
      "\"DisplayName\"=\"App \\\"One\\\" \\x4e2d\"\n"
      "\"UninstallString\"=str(2):\"%HOME%\\\\uninst.sh\"\n"
      "\"EstimatedSize\"=dword:00000400\n"
      "\"Blob\"=hex:01,02,\\\n"
      "  03,04\n"
      "\"Wide\"=hex(1):41,00,42,00,00,00\n"
      "\"Multi\"=str(7):\"a\\0b\\0\"\n"
      "@=\"default\"\n"
      "\n"
      "[Software\\\\Other] 1700000001\n"
      "\"X\"=dword:ffffffff\n";

} // namespace

TEST_F(Registry, RootNamesAndPaths)
{
    const struct
    {
        const char *name;
        quint32 key;
    } cases[] = {{"HKEY_CLASSES_ROOT", 0x80000000u},
                 {"hkcr", 0x80000000u},
                 {"HKEY_CURRENT_USER", 0x80000001u},
                 {"HKCU", 0x80000001u},
                 {"hkey_local_machine", 0x80000002u},
                 {"HKLM", 0x80000002u},
                 {"HKU", 0x80000003u},
                 {"HKPD", 0x80000004u},
                 {"HKEY_CURRENT_CONFIG", 0x80000005u},
                 {"HKDD", 0x80000006u},
                 {"HKEY_MACHINE", 0u},
                 {"", 0u}};
    for (const auto &c : cases)
        EXPECT_EQ(RegRootKey(QLatin1String(c.name)), c.key) << c.name;

    QString root, path;
    RegSplitPath(QStringLiteral("HKCU\\Software\\X\\"), root, path);
    EXPECT_EQ(root, QStringLiteral("HKCU"));
    EXPECT_EQ(path, QStringLiteral("Software\\X\\"));
    RegSplitPath(QStringLiteral("HKLM"), root, path);
    EXPECT_EQ(root, QStringLiteral("HKLM"));
    EXPECT_TRUE(path.isEmpty());
    // A trailing backslash names the same key.
    ASSERT_TRUE(writeFile(hive("HKEY_CURRENT_USER"), kSample));
    EXPECT_EQ(RegReadInteger(QStringLiteral("HKCU\\Software\\Other\\"), QStringLiteral("X")), -1);
    EXPECT_EQ(RegReadInteger(QStringLiteral("HKCU\\Software\\Other"), QStringLiteral("X")), -1);
    EXPECT_EQ(RegReadInteger(QStringLiteral("HKXX\\Software\\Other"), QStringLiteral("X")), 0);
}

TEST_F(Registry, TypedReadsFollowTheValueType)
{
    ASSERT_TRUE(writeFile(hive("HKEY_CURRENT_USER"), kSample));
    const QString app = QStringLiteral("HKEY_CURRENT_USER\\") + kUninstall + QStringLiteral("\\app");
    EXPECT_EQ(RegReadString(app, QStringLiteral("displayname")), QStringLiteral("App \"One\" \u4e2d"));
    // Expandable strings are taken as stored.
    EXPECT_EQ(RegReadString(app, QStringLiteral("UninstallString")), QStringLiteral("%HOME%\\uninst.sh"));
    EXPECT_EQ(RegReadString(app, QStringLiteral("Wide")), QStringLiteral("AB"));
    EXPECT_EQ(RegReadString(app, QString()), QStringLiteral("default"));
    // Wrong types read as empty text or 0.
    EXPECT_EQ(RegReadString(app, QStringLiteral("EstimatedSize")), QString());
    EXPECT_EQ(RegReadString(app, QStringLiteral("Multi")), QString());
    EXPECT_EQ(RegReadString(app, QStringLiteral("Blob")), QString());
    EXPECT_EQ(RegReadInteger(app, QStringLiteral("DisplayName")), 0);
    EXPECT_EQ(RegReadInteger(app, QStringLiteral("EstimatedSize")), 1024);
    EXPECT_EQ(RegReadInteger(app, QStringLiteral("Missing")), 0);

    EXPECT_TRUE(RegValueExists(app, QStringLiteral("Blob")));
    EXPECT_FALSE(RegValueExists(app, QStringLiteral("Missing")));
    EXPECT_TRUE(RegValueExists(app, QString()));
    EXPECT_FALSE(RegValueExists(QStringLiteral("HKCU\\No\\Such"), QStringLiteral("Blob")));

    QStringList names;
    EXPECT_EQ(RegKeyNames(QStringLiteral("HKCU\\Software"), names), 2);
    EXPECT_EQ(names, (QStringList {QStringLiteral("Microsoft"), QStringLiteral("Other")}));
    EXPECT_EQ(RegKeyNames(QStringLiteral("HKCU\\Software\\Other"), names), 0);
    EXPECT_EQ(RegKeyNames(QStringLiteral("HKCU\\Nothing"), names), 0);
    EXPECT_EQ(RegKeyNames(QStringLiteral("HKLM\\Software"), names), 0) << "no hive file at all";
}

TEST_F(Registry, EditsKeepEverythingElseAsItWas)
{
    ASSERT_TRUE(writeFile(hive("HKEY_CURRENT_USER"), kSample));
    RegValue v;
    v.name = QStringLiteral("Version");
    v.type = REG_SZ;
    v.isText = true;
    v.text = QStringLiteral("1.0 \u00e9\\x");
    ASSERT_TRUE(RegSetValue(QStringLiteral("HKCU\\Software\\Other"), v).ok);
    const QByteArray after = readFile(hive("HKEY_CURRENT_USER"));
    // The untouched key is byte for byte what it was, comments and options included.
    const QByteArray firstKey = kSample.left(kSample.indexOf("[Software\\\\Other]"));
    EXPECT_TRUE(after.startsWith(firstKey)) << after.constData();
    EXPECT_TRUE(after.contains("\"Version\"=\"1.0 \\x00e9\\\\x\"\n")) << after.constData();
    EXPECT_EQ(RegReadString(QStringLiteral("HKCU\\Software\\Other"), QStringLiteral("Version")), v.text);

    // A new key, then deleting a tree removes every key below it.
    ASSERT_TRUE(RegCreateKey(QStringLiteral("HKCU\\Software\\Other\\Sub\\Deeper")).ok);
    QStringList names;
    EXPECT_EQ(RegKeyNames(QStringLiteral("HKCU\\Software\\Other"), names), 1);
    ASSERT_TRUE(RegDeleteKey(QStringLiteral("HKCU\\Software\\Other")).ok);
    EXPECT_FALSE(RegKeyExists(QStringLiteral("HKCU\\Software\\Other\\Sub")));
    EXPECT_EQ(RegReadString(QStringLiteral("HKCU\\") + kUninstall + QStringLiteral("\\App"),
                            QStringLiteral("Multi")),
              QString());
    EXPECT_TRUE(RegValueExists(QStringLiteral("HKCU\\") + kUninstall + QStringLiteral("\\App"),
                               QStringLiteral("Multi")));
    bool notFound = false;
    ASSERT_TRUE(RegDeleteValue(QStringLiteral("HKCU\\Software\\Nope"), QStringLiteral("X"), &notFound).ok);
    EXPECT_TRUE(notFound);
    EXPECT_FALSE(RegCreateKey(QStringLiteral("HKXY\\Software")).ok);
}

TEST_F(Registry, DeleteKeyTreeResults)
{
    ASSERT_TRUE(writeFile(hive("HKEY_CURRENT_USER"), kSample));
    // Parent missing, key missing: nothing to do counts as done.
    EXPECT_TRUE(RegDeleteKeyTree(QStringLiteral("HKCU\\No\\Parent"), QStringLiteral("X")));
    EXPECT_TRUE(RegDeleteKeyTree(QStringLiteral("HKCU\\Software"), QStringLiteral("Missing")));
    EXPECT_TRUE(RegDeleteKeyTree(QStringLiteral("HKCU\\") + kUninstall + u'\\', QStringLiteral("App")));
    EXPECT_FALSE(RegKeyExists(QStringLiteral("HKCU\\") + kUninstall + QStringLiteral("\\App")));
    EXPECT_TRUE(RegKeyExists(QStringLiteral("HKCU\\Software\\Other")));
}

TEST_F(Registry, ADamagedHiveIsReadWhereItCanBeAndNeverWritten)
{
    const QByteArray damaged = "WINE REGISTRY Version 2\n\n"
                               "[Good] 1\n\"A\"=\"1\"\n\n"
                               "[Bad] 2\n\"B\"=\"unterminated\n\"C\"=dword:1\n\n"
                               "[Also\\\\Good] 3\n\"D\"=dword:00000002\n";
    ASSERT_TRUE(writeFile(hive("HKEY_CURRENT_USER"), damaged));
    EXPECT_EQ(RegReadString(QStringLiteral("HKCU\\Good"), QStringLiteral("A")), QStringLiteral("1"));
    EXPECT_EQ(RegReadInteger(QStringLiteral("HKCU\\Also\\Good"), QStringLiteral("D")), 2);
    EXPECT_FALSE(RegKeyExists(QStringLiteral("HKCU\\Bad"))) << "a key with an unreadable line is skipped";
    EXPECT_FALSE(hiveProblems(HKEY_CURRENT_USER).isEmpty());

    RegValue v;
    v.name = QStringLiteral("E");
    v.type = REG_SZ;
    v.isText = true;
    const RegWriteResult r = RegSetValue(QStringLiteral("HKCU\\Good"), v);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("does not parse"))) << r.error.toStdString();
    EXPECT_FALSE(RegDeleteKeyTree(QStringLiteral("HKCU"), QStringLiteral("Good")));
    EXPECT_EQ(readFile(hive("HKEY_CURRENT_USER")), damaged);

    // Without the header nothing is readable, and nothing is written either.
    ASSERT_TRUE(writeFile(hive("HKEY_CURRENT_USER"), "REGEDIT4\n[Good]\n\"A\"=\"1\"\n"));
    EXPECT_FALSE(RegKeyExists(QStringLiteral("HKCU\\Good")));
    EXPECT_FALSE(RegCreateKey(QStringLiteral("HKCU\\New")).ok);
}

TEST_F(Registry, HiveTextRoundTrip)
{
    auto hive = RegHive::parse(kSample);
    ASSERT_FALSE(hive->isDamaged()) << hive->problems().join(u'\n').toStdString();
    EXPECT_EQ(hive->serialize(), kSample);

    // Every kind of text survives writing and reading back.
    const QString tricky = QStringLiteral("a\\b\"c\nd\te\u0001\u00ff\U0001F600]");
    RegValue v;
    v.name = tricky;
    v.type = REG_EXPAND_SZ;
    v.isText = true;
    v.text = tricky;
    const QString key = QStringLiteral("Key]With\\q\"u\u00e9");
    hive->setValue(key, v);
    auto back = RegHive::parse(hive->serialize());
    ASSERT_FALSE(back->isDamaged()) << back->problems().join(u'\n').toStdString();
    const RegValue *read = back->value(key.toUpper(), tricky);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->text, tricky);
    EXPECT_EQ(read->type, quint32(REG_EXPAND_SZ));
}

// Hives as Wine itself writes them (its header, "\x" escapes for every non-ASCII
// character, str(2)/str(7) strings, links as hex(6)) read without damage, give
// back what "reg add" stored, and write back byte for byte.
TEST_F(Registry, HivesWrittenByWineReadAsStoredAndWriteBackUnchanged)
{
    const QString corpus = QStringLiteral(ORVANE_SOURCE_DIR "/fuzz/reg_hive/corpus/");
    for (const char *name : {"wine_system_uninstall.reg", "wine_system_head.reg", "wine_user.reg",
                             "wine_userdef.reg", "full/wine_system.reg"}) {
        SCOPED_TRACE(name);
        const QByteArray bytes = readFile(corpus + QLatin1String(name));
        ASSERT_FALSE(bytes.isEmpty());
        auto hive = RegHive::parse(bytes);
        ASSERT_FALSE(hive->isDamaged()) << hive->problems().join(u'\n').toStdString();
        EXPECT_EQ(hive->serialize(), bytes);
    }

    auto system = RegHive::parse(readFile(corpus + QStringLiteral("wine_system_uninstall.reg")));
    const QString app = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\")
        + QStringLiteral("潮汐笔记");
    ASSERT_TRUE(system->keyExists(app));
    EXPECT_EQ(
        system->subKeyNames(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall")),
        QStringList({QStringLiteral("{3F2504E0-4F89-11D3-9A0C-0305E82C3301}"), QStringLiteral("潮汐笔记")}));
    const auto text = [&](const QString &key, const char *value) {
        const RegValue *v = system->value(key, QLatin1String(value));
        return v ? v->stringValue().value_or(QStringLiteral("<not a string>")) : QStringLiteral("<missing>");
    };
    EXPECT_EQ(text(app, "DisplayName"), QStringLiteral("潮汐笔记 2.1（简体中文）"));
    EXPECT_EQ(text(app, "Publisher"), QStringLiteral("海风软件有限公司"));
    EXPECT_EQ(text(app, "UninstallString"), QStringLiteral("\"%ProgramFiles%\\潮汐笔记\\uninst.exe\" /S"));
    ASSERT_NE(system->value(app, QStringLiteral("UninstallString")), nullptr);
    EXPECT_EQ(system->value(app, QStringLiteral("UninstallString"))->type, quint32(REG_EXPAND_SZ));
    ASSERT_NE(system->value(app, QStringLiteral("EstimatedSize")), nullptr);
    EXPECT_EQ(system->value(app, QStringLiteral("EstimatedSize"))->dwordValue(), 20480u);
    const RegValue *languages = system->value(app, QStringLiteral("Languages"));
    ASSERT_NE(languages, nullptr);
    EXPECT_EQ(languages->type, quint32(REG_MULTI_SZ));
    EXPECT_EQ(languages->text, QStringLiteral("zh-CN\0en-US\0日本語\0"));
    EXPECT_FALSE(languages->stringValue()) << "a list is not one string";

    const QString guid = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                        "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}");
    EXPECT_EQ(text(guid, "DisplayName"), QStringLiteral("Notelark \"Quote\" \\ Back"));
    EXPECT_EQ(text(guid, ""), QStringLiteral("default value"));
    EXPECT_EQ(text(guid, "Empty"), QString());
    EXPECT_EQ(system->value(guid, QStringLiteral("VersionMajor"))->dwordValue(), 0xffffffffu);
    const QString wow
        = QStringLiteral("SOFTWARE\\WOW6432NODE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\tidewave32");
    EXPECT_EQ(text(wow, "DisplayName"), QStringLiteral("Tidewave (32 位) ü"));
    EXPECT_EQ(system->value(wow, QStringLiteral("EstimatedSize"))->dwordValue(), 512u);

    auto user = RegHive::parse(readFile(corpus + QStringLiteral("wine_user.reg")));
    const QString mine = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\")
        + QStringLiteral("用户程序");
    ASSERT_NE(user->value(mine, QStringLiteral("DisplayName")), nullptr);
    EXPECT_EQ(user->value(mine, QStringLiteral("DisplayName"))->stringValue(),
              QStringLiteral("用户程序 – 单用户安装"));
    EXPECT_EQ(user->value(mine, QStringLiteral("Count"))->dwordValue(), 7u);
    EXPECT_EQ(user->value(QStringLiteral("Software\\Halvex\\设置"), QStringLiteral("名称"))->stringValue(),
              QStringLiteral("值"));
}
