// The process knowledge base: description decoding, name lookups in a scratch database
// and in the shipped one, and the choice between knowledge base and file description.
#include "db/DictDBWriter.h"
#include "db/DictTable.h"
#include "platform/AppPath.h"
#include "procmon/OVProcDB.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>

using procmon::ChooseProcessDescription;
using procmon::DecryptDescription;
using procmon::OVProcDB;
using procmon::ProcessDescRequest;

namespace {

// The 24-byte key of "4m7r2k6w5t9": its UTF-16LE bytes and two zero bytes.
QByteArray testKey()
{
    return QByteArray::fromHex("34006d003700720032006b00360077003500740039000000");
}

// Enciphers UTF-16LE text (zero-filled to whole blocks) into the stored hex form.
QString encipher(const QString &text)
{
    QByteArray plain(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    plain.append(QByteArray((16 - plain.size() % 16) % 16, '\0'));
    QByteArray sealed(plain.size(), '\0');
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_192_ecb(), nullptr,
                       reinterpret_cast<const uchar *>(testKey().constData()), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, reinterpret_cast<uchar *>(sealed.data()), &len,
                      reinterpret_cast<const uchar *>(plain.constData()), int(plain.size()));
    EVP_CIPHER_CTX_free(ctx);
    QString hex;
    for (qsizetype w = 0; w < sealed.size(); w += 8) {
        QByteArray word = sealed.mid(w, 8);
        std::reverse(word.begin(), word.end());
        hex += QString::fromLatin1(word.toHex().toUpper());
    }
    return hex;
}

struct Row
{
    QString Name;
    QString StoredDescription; // as stored, already enciphered
    bool Risk;
};

TDictTableSchema processTable(bool withRiskField = true)
{
    TDictTableSchema t;
    t.Name = QStringLiteral("Process");
    t.Fields
        = {{QStringLiteral("ProcessName"), ftString, 64}, {QStringLiteral("Description"), ftString, 512}};
    if (withRiskField)
        t.Fields.append({QStringLiteral("Virus"), ftBoolean});
    t.Indexes = {
        {QStringLiteral("ByName"), uint8_t(tiPrimary | tiCaseInsensitive), {QStringLiteral("ProcessName")}}};
    return t;
}

void writeDb(const QString &file, const QList<Row> &rows, const TDictTableSchema &schema = processTable())
{
    dictdb::CreateDatabaseFile(file, {}, {schema});
    TDictTable t;
    t.SetDatabaseName(file);
    t.SetTableName(schema.Name);
    t.Open();
    for (const Row &r : rows) {
        t.Append();
        t.FieldByName(QStringLiteral("ProcessName"))->SetAsString(r.Name);
        t.FieldByName(QStringLiteral("Description"))->SetAsString(r.StoredDescription);
        if (TDictField *f = t.FindField(QStringLiteral("Virus")))
            f->SetAsBoolean(r.Risk);
        t.Post();
    }
}

const QString LongName = QString(64, QLatin1Char('x'));

QList<Row> sampleRows()
{
    return {
        {QStringLiteral("svchost.exe"), encipher(QStringLiteral("服务宿主进程")), false},
        {QStringLiteral("svch0st.exe"), QString(), true},
        // one AES block: "ab", a zero character, then text that must not show
        {QStringLiteral("oneblock.exe"), QStringLiteral("38E1E63C1299EC7580A574EC7FAAC4E1"), false},
        {QStringLiteral("garbled.exe"), QStringLiteral("NOT-HEX"), true},
        {LongName, encipher(QStringLiteral("长名字")), false},
        // what an unconvertible character becomes on its way to the file's code page
        {QStringLiteral("?.exe"), encipher(QStringLiteral("问号")), false},
    };
}

class ProcDBLookupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        file = dir.filePath(QStringLiteral("ProcDB.db"));
        writeDb(file, sampleRows());
    }
    QTemporaryDir dir;
    QString file;
};

} // namespace

TEST(ProcDBDecodeTest, KnownCipherTexts)
{
    // cipher texts made with the openssl command line, words reversed into the stored form
    EXPECT_EQ(DecryptDescription(QStringLiteral("38E1E63C1299EC7580A574EC7FAAC4E1")), QStringLiteral("ab"));
    EXPECT_EQ(DecryptDescription(QStringLiteral("38e1e63c1299ec7580a574ec7faac4e1")), QStringLiteral("ab"));
    EXPECT_EQ(DecryptDescription(QStringLiteral("8935AC60C042F82C6C25CD045A12D13F")), QStringLiteral("进程"));
    EXPECT_EQ(DecryptDescription(
                  QStringLiteral("3ACAB3EE08B16E84925FB17999CAE9A7F8BD006F05F6135F3C928C54AA94699E")),
              QStringLiteral("ABCDEFGHIJ"));
    // the first block alone is eight characters with no terminating zero: the buffer's end ends it
    EXPECT_EQ(DecryptDescription(QStringLiteral("3ACAB3EE08B16E84925FB17999CAE9A7")),
              QStringLiteral("ABCDEFGH"));
    // a last word may be written with fewer than 16 digits: it is read as a number
    EXPECT_EQ(DecryptDescription(QStringLiteral("3FABCEE09EE9FCA700415679CB5FAED1")),
              QStringLiteral("说明20"));
    EXPECT_EQ(DecryptDescription(QStringLiteral("3FABCEE09EE9FCA7415679CB5FAED1")), QStringLiteral("说明20"));
    // the key text decides: another key does not give the text back
    EXPECT_NE(DecryptDescription(QStringLiteral("8935AC60C042F82C6C25CD045A12D13F"), QStringLiteral("other")),
              QStringLiteral("进程"));
}

TEST(ProcDBDecodeTest, MalformedTextsGiveEmpty)
{
    const QString block = QStringLiteral("8935AC60C042F82C6C25CD045A12D13F");
    const QString cases[] = {
        QString(),
        QStringLiteral("ABC"), // one short word: 8 bytes, not a whole block
        block.left(16), // one word: 8 bytes
        block + QStringLiteral("0"), // a stray digit after whole blocks is not dropped silently
        block.left(20) + QStringLiteral("G") + block.mid(21),
        block.left(8) + QStringLiteral(" ") + block.mid(9),
        QStringLiteral("0x") + block.mid(2),
        QStringLiteral("-") + block.mid(1),
        QString(block).replace(0, 1, QChar(0xFF10)), // a full-width digit is not a hex digit
        QString(block).replace(5, 1, QChar(0)),
    };
    for (const QString &text : cases)
        EXPECT_EQ(DecryptDescription(text), QString()) << text.toStdString();
}

TEST_F(ProcDBLookupTest, FindsNamesIgnoringBlanksAndCase)
{
    OVProcDB db(file);
    const QString found[] = {
        QStringLiteral("svchost.exe"),         QStringLiteral("SVCHOST.EXE"),
        QStringLiteral("SvcHost.Exe"),         QStringLiteral("  svchost.exe\t"),
        QStringLiteral("\n svchost.exe \r\n"), QString::fromUtf16(u"svchost.exe\0", 12),
    };
    for (const QString &name : found) {
        QString description;
        bool risk = true;
        ASSERT_TRUE(db.Lookup(name, description, risk)) << name.toStdString();
        EXPECT_EQ(description, QStringLiteral("服务宿主进程"));
        EXPECT_FALSE(risk);
    }
}

TEST_F(ProcDBLookupTest, RecordsWithOddDescriptions)
{
    OVProcDB db(file);
    struct Case
    {
        const char *name;
        QString description;
        bool risk;
    } cases[] = {
        {"svch0st.exe", QString(), true}, // empty description with the risk flag
        {"oneblock.exe", QStringLiteral("ab"), false}, // 32 digits, read up to the first zero
        {"garbled.exe", QString(), true}, // a description that cannot be deciphered is empty
    };
    for (const Case &c : cases) {
        QString description = QStringLiteral("unchanged");
        bool risk = !c.risk;
        ASSERT_TRUE(db.Lookup(QLatin1String(c.name), description, risk)) << c.name;
        EXPECT_EQ(description, c.description) << c.name;
        EXPECT_EQ(risk, c.risk) << c.name;
    }
}

TEST_F(ProcDBLookupTest, NamesAProcessChoseMatchNothingElse)
{
    OVProcDB db(file);
    const QString notFound[] = {
        QStringLiteral("svc host.exe"),
        QStringLiteral("svchost.exe (1)"),
        QStringLiteral("(svchost.exe)"),
        QStringLiteral("svchost\n.exe"),
        QStringLiteral("svchost.exe;drop"),
        QStringLiteral("svchost.exe' or '1'='1"),
        QString::fromUtf16(u"svchost.exe\0evil", 16), // the stored text ends at its zero byte
        QString::fromUtf8("svch\xffst.exe"), // undecodable bytes from the process list
        QString::fromUtf8("svchost.exe\xc3"),
        QString::fromUtf16(u"svchost\xD800.exe"), // a lone surrogate
        QString::fromUtf16(u"\u4E2D.exe"), // would turn into "?.exe" on its way to the file
        LongName + QStringLiteral("y"), // cut to the field's size it would equal a stored name
        LongName + LongName,
        QStringLiteral("svchost.ex"),
        QStringLiteral("svchost.exe.exe"),
    };
    for (const QString &name : notFound) {
        QString description = QStringLiteral("unchanged");
        bool risk = true;
        EXPECT_FALSE(db.Lookup(name, description, risk)) << name.toStdString();
        EXPECT_EQ(description, QStringLiteral("unchanged"));
        EXPECT_TRUE(risk);
    }
    // the names those would have been confused with are there
    QString description;
    bool risk = false;
    EXPECT_TRUE(db.Lookup(LongName, description, risk));
    EXPECT_EQ(description, QStringLiteral("长名字"));
    EXPECT_TRUE(db.Lookup(QStringLiteral("?.exe"), description, risk));
}

TEST_F(ProcDBLookupTest, BlankNamesNeverOpenTheFile)
{
    OVProcDB db(file);
    QString description;
    bool risk = false;
    for (const QString &name :
         {QString(), QStringLiteral("   "), QStringLiteral("\t\r\n"), QString(3, QChar(0))})
        EXPECT_FALSE(db.Lookup(name, description, risk));
    EXPECT_EQ(db.OpenCount(), 0);
    EXPECT_TRUE(db.Lookup(QStringLiteral("svchost.exe"), description, risk));
    EXPECT_EQ(db.OpenCount(), 1);
}

TEST_F(ProcDBLookupTest, TheFileIsReopenedForEveryLookup)
{
    OVProcDB db(file);
    QString description;
    bool risk = false;
    ASSERT_TRUE(db.Lookup(QStringLiteral("svchost.exe"), description, risk));

    // nothing holds the file between lookups: a replaced file is read at the next one
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_FALSE(db.Lookup(QStringLiteral("svchost.exe"), description, risk));
    writeDb(file, {{QStringLiteral("svchost.exe"), encipher(QStringLiteral("新的说明")), true}});
    ASSERT_TRUE(db.Lookup(QStringLiteral("svchost.exe"), description, risk));
    EXPECT_EQ(description, QStringLiteral("新的说明"));
    EXPECT_TRUE(risk);
    EXPECT_EQ(db.OpenCount(), 3);
}

TEST(ProcDBBrokenFileTest, EveryFaultIsNotFound)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("missing.db"));
    const QString garbage = dir.filePath(QStringLiteral("garbage.db"));
    const QString truncated = dir.filePath(QStringLiteral("truncated.db"));
    const QString otherTable = dir.filePath(QStringLiteral("other-table.db"));
    const QString noRiskField = dir.filePath(QStringLiteral("no-risk-field.db"));
    const QString folder = dir.filePath(QStringLiteral("folder.db"));
    {
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(5000, 'x'));
    }
    writeDb(truncated, sampleRows());
    ASSERT_TRUE(QFile::resize(truncated, QFileInfo(truncated).size() / 2));
    TDictTableSchema renamed = processTable();
    renamed.Name = QStringLiteral("Processes");
    writeDb(otherTable, sampleRows(), renamed);
    writeDb(noRiskField, sampleRows(), processTable(false));
    ASSERT_TRUE(QDir().mkpath(folder));

    for (const QString &path : {missing, garbage, truncated, otherTable, noRiskField, folder, QString()}) {
        OVProcDB db(path);
        for (int i = 0; i < 2; ++i) { // the failed lookup leaves the table closed and usable
            QString description = QStringLiteral("unchanged");
            bool risk = true;
            EXPECT_FALSE(db.Lookup(QStringLiteral("svchost.exe"), description, risk)) << path.toStdString();
            EXPECT_EQ(description, QStringLiteral("unchanged"));
            EXPECT_TRUE(risk);
        }
    }
}

TEST_F(ProcDBLookupTest, ChoosingTheDescription)
{
    OVProcDB db(file);
    const auto texts = [](const QString &key) {
        return key == QLatin1String("String.ProcessDesc.Risk")   ? QStringLiteral("（有风险）")
            : key == QLatin1String("String.ProcessDesc.Unknown") ? QStringLiteral("（未知）")
                                                                 : QString();
    };
    int fileReads = 0;
    const auto fileDescription = [&](const QString &path) {
        ++fileReads;
        return QStringLiteral("description of ") + path;
    };
    const QString zh = QStringLiteral("2052");
    struct Case
    {
        QString lcid, name, path, expected;
    } chinese[] = {
        {zh, QStringLiteral("SVCHOST.EXE"), QStringLiteral("/x/svchost.exe"), QStringLiteral("服务宿主进程")},
        {zh, QStringLiteral("svch0st.exe"), QString(), QStringLiteral("（有风险）")},
        {zh, QStringLiteral("garbled.exe"), QString(), QStringLiteral("（有风险）")},
        {zh, QStringLiteral("nothing.exe"), QString(), QStringLiteral("（未知）")},
        {zh, QString(), QString(), QStringLiteral("（未知）")},
    };
    for (const Case &c : chinese)
        EXPECT_EQ(ChooseProcessDescription({c.lcid, c.name, c.path}, db, texts, fileDescription), c.expected);
    EXPECT_EQ(fileReads, 0);
    // Without a record, what the file and the application say comes before the unknown mark.
    const auto other = [] { return QStringLiteral("from the application"); };
    EXPECT_EQ(ChooseProcessDescription({zh, QStringLiteral("nothing"), QStringLiteral("/x/nothing")}, db,
                                       texts, fileDescription),
              QStringLiteral("description of /x/nothing"));
    EXPECT_EQ(ChooseProcessDescription({zh, QStringLiteral("nothing"), QString(), other}, db, texts,
                                       fileDescription),
              QStringLiteral("from the application"));
    EXPECT_EQ(ChooseProcessDescription({zh, QStringLiteral("svchost.exe"), QString(), other}, db, texts,
                                       fileDescription),
              QStringLiteral("服务宿主进程"));
    EXPECT_EQ(fileReads, 1);
    fileReads = 0;

    // without a text source the built-in marks apply
    EXPECT_EQ(ChooseProcessDescription({zh, QStringLiteral("svch0st.exe"), {}}, db, {}, fileDescription),
              QStringLiteral("(Risk)"));
    EXPECT_EQ(ChooseProcessDescription({zh, QStringLiteral("none"), {}}, db, {}, fileDescription),
              QStringLiteral("(Unknown)"));

    // any other language, or none, reads the file's own description and never the knowledge base
    const int opens = db.OpenCount();
    const QString others[]
        = {QStringLiteral("1033"), QString(), QStringLiteral("2052 "), QStringLiteral("1028")};
    for (const QString &lcid : others)
        EXPECT_EQ(
            ChooseProcessDescription({lcid, QStringLiteral("svchost.exe"), QStringLiteral("/x/svchost.exe")},
                                     db, texts, fileDescription),
            QStringLiteral("description of /x/svchost.exe"));
    EXPECT_EQ(fileReads, 4);
    EXPECT_EQ(ChooseProcessDescription({QStringLiteral("1033"), QStringLiteral("svchost.exe"), QString()}, db,
                                       texts, fileDescription),
              QString());
    EXPECT_EQ(
        ChooseProcessDescription({QStringLiteral("1033"), QStringLiteral("svchost.exe"), QString(), other},
                                 db, texts, fileDescription),
        QStringLiteral("from the application"));
    EXPECT_EQ(fileReads, 4);
    EXPECT_EQ(db.OpenCount(), opens);
}

TEST(ProcDBShippedTest, SourceAndBuiltFileAgree)
{
    QFile source(QStringLiteral(ORVANE_PROCDB_SOURCE));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(source.readAll()).split(QLatin1Char('\n'));
    struct Entry
    {
        QString name, description;
        bool risk;
    };
    QList<Entry> entries;
    QSet<QString> names;
    bool header = true;
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList cells = line.split(QLatin1Char('\t'));
        ASSERT_EQ(cells.size(), 3) << line.toStdString();
        if (header) {
            header = false;
            continue;
        }
        const Entry e {cells[0], cells[2], cells[1] == QLatin1String("1")};
        EXPECT_EQ(e.name, e.name.toLower()) << "stored names are lower case";
        EXPECT_EQ(e.name, e.name.trimmed());
        EXPECT_FALSE(names.contains(e.name)) << e.name.toStdString();
        names.insert(e.name);
        bool chinese = false;
        for (QChar c : e.description)
            chinese = chinese || (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF);
        EXPECT_TRUE(chinese) << e.name.toStdString() << " needs a Chinese description";
        entries << e;
    }
    EXPECT_GE(names.size(), 400);

    const QString built = QStringLiteral(ORVANE_PROCDB_FILE);
    {
        TDictTable t;
        t.SetDatabaseName(built);
        t.SetTableName(QStringLiteral("Process"));
        t.Open();
        EXPECT_EQ(t.RecordCount(), entries.size());
    }
    OVProcDB db(built);
    for (const Entry &e : entries) {
        QString description;
        bool risk = false;
        ASSERT_TRUE(db.Lookup(e.name, description, risk)) << e.name.toStdString();
        EXPECT_EQ(description, e.description) << e.name.toStdString();
        EXPECT_EQ(risk, e.risk) << e.name.toStdString();
        QString upper;
        ASSERT_TRUE(db.Lookup(QStringLiteral(" ") + e.name.toUpper(), upper, risk)) << e.name.toStdString();
        EXPECT_EQ(upper, e.description);
    }
}

TEST(ProcDBProgramTest, TheProgramsKnowledgeBaseLivesBesideTheExecutable)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    platform::setApplicationDirectoryOverride(dir.path());
    writeDb(dir.filePath(QStringLiteral("ProcDB.db")), sampleRows());
    QString description;
    bool risk = true;
    EXPECT_EQ(procmon::ProcDB().DatabaseName(), dir.path() + QStringLiteral("/ProcDB.db"));
    EXPECT_TRUE(procmon::ProcDB().Lookup(QStringLiteral("svchost.exe"), description, risk));
    EXPECT_EQ(description, QStringLiteral("服务宿主进程"));
    platform::setApplicationDirectoryOverride(QString());
}
