// The file format read from a fixture built byte by byte from the format tables (so the
// writer and the reader cannot share a misunderstanding), the identification and
// version rules, and damaged files.
#include "db/DictDBCheck.h"
#include "support/DbTestUtil.h"

#include <QFile>
#include <functional>
#include <gtest/gtest.h>

using namespace dictdb;

namespace {

void put32(QByteArray &b, int at, int32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((uint32_t(v) >> (8 * i)) & 0xFF);
}
void putText(QByteArray &b, int at, const char *text)
{
    std::memcpy(b.data() + at, text, std::strlen(text));
}

// Offsets of the hand-made fixture.
constexpr int kTable = 3821;
constexpr int kRecordBlock = kTable + 4821; // 8642
constexpr int kIndexBlock = kRecordBlock + 5124;
constexpr int kData = kIndexBlock + 8196;
constexpr int kRecordSize = 21 + 51 + 2;

// One table "Process" (ProcessName char 20, Description char 50, Virus boolean) with a
// case-insensitive index on ProcessName and four records, the third of them deleted.
QByteArray handMadeFixture()
{
    QByteArray b(kData + 4 * kRecordSize, 0);
    putText(b, 0, "DictDB");
    putText(b, 7, "1.0");
    put32(b, 2789, 1); // TableCount
    put32(b, 2797, kTable); // TableHeaderOffsets[0]
    putText(b, kTable, "Process");
    put32(b, kTable + 33, kRecordBlock);
    put32(b, kTable + 37, 4); // RecordTabCount
    put32(b, kTable + 45, 3); // FieldCount
    const struct
    {
        const char *name;
        int type, size;
    } fields[] = {{"ProcessName", 1, 20}, {"Description", 1, 50}, {"Virus", 5, 0}};
    for (int i = 0; i < 3; ++i) {
        const int e = kTable + 49 + 43 * i;
        putText(b, e, fields[i].name);
        b[e + 33] = char(fields[i].type);
        put32(b, e + 34, fields[i].size);
    }
    put32(b, kTable + 4177, 1); // IndexCount
    const int ix = kTable + 4181;
    putText(b, ix, "ByName");
    b[ix + 33] = 8; // tiCaseInsensitive
    put32(b, ix + 34, 0);
    for (int j = 1; j < 8; ++j)
        put32(b, ix + 34 + 4 * j, -1);
    put32(b, ix + 66, kIndexBlock);
    put32(b, ix + 70, 3); // head: alpha.exe
    const struct
    {
        const char *name, *description;
        int virus, deleted, next;
    } records[] = {{"svchost.exe", "Service host", 0, 0, -1},
                   {"EVIL.EXE", "bad", 1, 0, 0},
                   {"deleted.exe", "gone", 0, 1, 1},
                   {"alpha.exe", "first", 0, 0, 2}};
    for (int k = 0; k < 4; ++k) {
        const int data = kData + k * kRecordSize;
        put32(b, kRecordBlock + 4 + 5 * k, data);
        b[kRecordBlock + 4 + 5 * k + 4] = char(records[k].deleted);
        put32(b, kIndexBlock + 4 + 8 * k, k);
        put32(b, kIndexBlock + 4 + 8 * k + 4, records[k].next);
        putText(b, data, records[k].name);
        putText(b, data + 21, records[k].description);
        b[data + 72] = char(records[k].virus);
    }
    return b;
}

class FileFormatTest : public ::testing::Test
{
protected:
    void SetUp() override { path = dir.filePath(QStringLiteral("fixture.db")); }
    void write(const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QStringList names(const char *order)
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("Process"));
        t.SetIndexName(QLatin1String(order));
        QStringList out;
        for (t.First(); !t.Eof(); t.Next())
            out << t.FieldByName(QStringLiteral("ProcessName"))->AsString();
        return out;
    }
    QString openError()
    {
        try {
            TDictTable t;
            openTable(t, path, QStringLiteral("Process"));
        } catch (const EDictDBError &e) {
            return e.Message();
        }
        return QString();
    }
    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(FileFormatTest, ReadsTheHandMadeFixture)
{
    write(handMadeFixture());
    EXPECT_EQ(names(""), QStringList({"svchost.exe", "EVIL.EXE", "alpha.exe"}));
    EXPECT_EQ(names("ByName"), QStringList({"alpha.exe", "EVIL.EXE", "svchost.exe"}));
    TDictTable t;
    openTable(t, path, QStringLiteral("Process"));
    ASSERT_TRUE(t.Locate(QStringLiteral("ProcessName"), QStringLiteral("evil.exe"), loCaseInsensitive));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Description"))->AsString(), QStringLiteral("bad"));
    EXPECT_TRUE(t.FieldByName(QStringLiteral("Virus"))->AsBoolean());
    EXPECT_FALSE(t.Locate(QStringLiteral("ProcessName"), QStringLiteral("deleted.exe"), loCaseInsensitive));
    EXPECT_FALSE(t.Locate(QStringLiteral("ProcessName"), QStringLiteral("deleted.exe"), 0))
        << "scan skips it too";
    // our writer's path appends to the hand-made file and the chain stays sorted
    t.AppendRecord({QStringLiteral("beta.exe"), QStringLiteral("new"), false});
    t.Close();
    EXPECT_EQ(names("ByName"), QStringList({"alpha.exe", "beta.exe", "EVIL.EXE", "svchost.exe"}));
    const CheckReport report = CheckDatabase(path);
    EXPECT_TRUE(report.Problems.isEmpty()) << report.Problems.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(report.Records, 4);
}

TEST_F(FileFormatTest, WriterProducesTheDocumentedLayout)
{
    TDictTableSchema schema {
        QStringLiteral("Process"),
        {{QStringLiteral("ProcessName"), ftString, 20},
         {QStringLiteral("Description"), ftString, 50},
         {QStringLiteral("Virus"), ftBoolean}},
        {{QStringLiteral("ByName"), tiCaseInsensitive, {QStringLiteral("ProcessName")}}}};
    const QByteArray image = BuildDatabaseImage({}, {schema});
    const QByteArray expected = handMadeFixture();
    ASSERT_EQ(image.size(), kRecordBlock);
    // everything but the record and index pointers of the table header matches
    QByteArray patched = expected.left(kRecordBlock);
    put32(patched, kTable + 33, 0);
    put32(patched, kTable + 37, 0);
    put32(patched, kTable + 4181 + 66, 0);
    put32(patched, kTable + 4181 + 70, -1);
    EXPECT_EQ(image.toHex(), patched.toHex());
}

TEST_F(FileFormatTest, IdentificationAndVersionRules)
{
    struct Case
    {
        const char *ident; // 7 bytes
        const char *version;
        const char *error; // nullptr: opens
    } cases[] = {
        {"DictDB\0", "1.0", nullptr},
        {"DictDB\0", "0.9", nullptr},
        {"DictDB\0", "", nullptr},
        {"DictDB\0", "1.00", "Version 1.00 is not compatible"},
        {"DictDB\0", "1.01", "Version of database file is too High"},
        {"DictDB\0", "1.1", "Version of database file is too High"},
        {"DictDB\0", "2.0", "Version of database file is too High"},
        {"DictDB\0", "1.0ab", "Version of database file is too High"},
        {"DictDBX", "1.0", "invalid"},
        {"dictdb\0", "1.0", "invalid"},
    };
    for (const Case &c : cases) {
        QByteArray b = handMadeFixture();
        std::memcpy(b.data(), c.ident, 7);
        std::memset(b.data() + 7, 0, 5);
        std::memcpy(b.data() + 7, c.version, std::strlen(c.version));
        write(b);
        const QString error = openError();
        if (!c.error)
            EXPECT_TRUE(error.isEmpty()) << c.version << " " << error.toStdString();
        else if (QLatin1String(c.error) == QLatin1String("invalid"))
            EXPECT_EQ(error, QStringLiteral("Database file '%1' is a invalid DictDB").arg(path));
        else
            EXPECT_EQ(error, QLatin1String(c.error)) << c.version;
    }
    QFile::remove(path);
    EXPECT_EQ(openError(), QStringLiteral("Failed to open file"));
    write(QByteArray("DictDB"));
    EXPECT_FALSE(openError().isEmpty()) << "a stub file is refused, not read past its end";
}

TEST_F(FileFormatTest, ALoopingIndexChainIsWalkedAtMostRecordCountSteps)
{
    QByteArray b = handMadeFixture();
    put32(b, kIndexBlock + 4 + 8 * 0 + 4, 3); // svchost.exe -> alpha.exe: a cycle
    write(b);
    EXPECT_EQ(names("ByName"), QStringList({"alpha.exe", "EVIL.EXE", "svchost.exe"}));
}

// Keys order the same way under every locale: simple case folding when case is ignored,
// then code point order (not UTF-16 unit order).
TEST(KeyTextOrder, CaseFoldingThenCodePoints)
{
    struct Case
    {
        const char16_t *key, *stored;
        bool caseInsensitive, partial;
        int expected;
    } cases[] = {
        {u"a", u"B", false, false, 1},
        {u"a", u"B", true, false, -1},
        {u"_x", u"ax", false, false, -1},
        {u"_x", u"Bx", false, false, 1},
        {u"~", u"z", true, false, 1},
        {u"a-b", u"ab", true, false, -1},
        {u"\u00c4pfel", u"b", true, false, 1}, // no accent folding: after every ASCII letter
        {u"\u00c4PFEL", u"\u00e4pfel", true, false, 0},
        {u"\u03a3", u"\u03c2", true, false, 0}, // capital sigma and final sigma fold alike
        {u"\u4e2d\u56fd", u"\u4e00", false, false, 1},
        {u"\U0001F600", u"\uFFFD", false, false, 1}, // a supplementary character after the BMP
        {u"expl", u"explorer.exe", false, true, 0},
        {u"expl", u"explorer.exe", false, false, -1},
        {u"EXPL", u"explorer.exe", true, true, 0},
        {u"EXPL", u"explorer.exe", false, true, -1},
        {u"explorer.exe", u"expl", false, true, 1},
        {u"", u"anything", false, true, 0},
        {u"same", u"same", false, false, 0},
    };
    for (const Case &c : cases) {
        const QString key = QString::fromUtf16(c.key), stored = QString::fromUtf16(c.stored);
        EXPECT_EQ(compareText(key, stored, c.caseInsensitive, c.partial), c.expected)
            << key.toStdString() << " / " << stored.toStdString();
        // the rule is antisymmetric, so orders built by insertion are consistent
        if (!c.partial) {
            EXPECT_EQ(compareText(stored, key, c.caseInsensitive, false), -c.expected);
        }
    }
}

TEST_F(FileFormatTest, CheckReportsAnIndexOutOfKeyOrder)
{
    write(handMadeFixture());
    EXPECT_TRUE(CheckDatabase(path).Problems.isEmpty())
        << CheckDatabase(path).Problems.join('\n').toStdString();
    // chain svchost.exe -> alpha.exe -> EVIL.EXE: every record is there, in the wrong order
    QByteArray b = handMadeFixture();
    put32(b, kTable + 4181 + 70, 0);
    put32(b, kIndexBlock + 4 + 8 * 0 + 4, 3);
    put32(b, kIndexBlock + 4 + 8 * 3 + 4, 1);
    put32(b, kIndexBlock + 4 + 8 * 1 + 4, -1);
    write(b);
    EXPECT_EQ(names("ByName"), QStringList({"svchost.exe", "alpha.exe", "EVIL.EXE"}));
    const CheckReport report = CheckDatabase(path);
    ASSERT_EQ(report.Problems.size(), 1) << report.Problems.join('\n').toStdString();
    EXPECT_EQ(report.Problems[0],
              QStringLiteral("table 'Process': index 'ByName' is out of key order at record 3"));
}

TEST_F(FileFormatTest, DamagedFilesGiveCleanErrors)
{
    const int header = kTable;
    const std::function<void(QByteArray &)> damages[] = {
        [](QByteArray &b) { put32(b, 2789, 300); }, // too many tables
        [](QByteArray &b) { put32(b, 2789, -1); }, // negative table count
        [](QByteArray &b) { put32(b, 2797, 0x7FFFFFF0); }, // table header past the end
        [](QByteArray &b) { put32(b, 2797, -5); }, // negative offset
        [&](QByteArray &b) { put32(b, header + 45, 97); }, // too many fields
        [&](QByteArray &b) { put32(b, header + 4177, 9); }, // too many indexes
        [&](QByteArray &b) { b[header + 49 + 33] = 8; }, // ftBCD
        [&](QByteArray &b) { put32(b, header + 49 + 34, -5); }, // negative string size
        [&](QByteArray &b) { put32(b, header + 49 + 34, 0x7FFFFFFF); }, // absurd string size
        [&](QByteArray &b) { put32(b, header + 37, 0x7FFFFFFF); }, // absurd record count
        [&](QByteArray &b) { put32(b, header + 37, -3); }, // negative record count
        [&](QByteArray &b) { put32(b, header + 33, 0x7FFFFF00); }, // record block past the end
        [&](QByteArray &b) { // block chain that loops: 2000 records, block points to itself
            put32(b, header + 37, 2000);
            put32(b, kRecordBlock, kRecordBlock);
        },
        [&](QByteArray &b) { put32(b, kRecordBlock + 4, 0x7FFFFFFF); }, // record data past the end
        [&](QByteArray &b) { put32(b, kRecordBlock + 4, -100); }, // negative record offset
        [&](QByteArray &b) { put32(b, header + 4181 + 34, 50); }, // index on a field that is not there
        [&](QByteArray &b) { put32(b, kIndexBlock + 4 + 8 + 4, 1000); }, // chain leaves the table
        [&](QByteArray &b) { put32(b, header + 4181 + 66, 0x7FFFFFF0); }, // index block past the end
        [&](QByteArray &b) { b.truncate(kIndexBlock + 100); }, // cut short
    };
    int i = 0;
    for (const auto &damage : damages) {
        QByteArray b = handMadeFixture();
        damage(b);
        write(b);
        const CheckReport report = CheckDatabase(path);
        EXPECT_FALSE(report.Problems.isEmpty()) << "damage " << i;
        ++i;
    }
    // an unsupported type is the documented "General error"
    QByteArray b = handMadeFixture();
    b[header + 49 + 43 + 33] = 12; // ftBytes
    write(b);
    EXPECT_EQ(openError(), QStringLiteral("General error"));
}

TEST_F(FileFormatTest, DamagedBlobsGiveCleanErrors)
{
    TDictCreateOptions o;
    o.Compressed = true;
    CreateDatabaseFile(path, o, {{QStringLiteral("B"), {{QStringLiteral("V"), ftBlob}}, {}}});
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("B"));
        t.AppendRecord({QByteArray(5000, 'a')});
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray good = f.readAll();
    f.close();
    const int record = getI32(good.constData() + kRecordBlock + 4);
    const int blob = getI32(good.constData() + record);
    const std::function<void(QByteArray &)> damages[] = {
        [&](QByteArray &b) { put32(b, record + 4, 0x7FFFFFFF); }, // size beyond the file
        [&](QByteArray &b) { put32(b, record + 4, -7); }, // negative size
        [&](QByteArray &b) { put32(b, record, 0x7FFFFF00); }, // offset beyond the file
        [&](QByteArray &b) { put32(b, blob, 100); }, // inflates beyond its declared length
        [&](QByteArray &b) { put32(b, blob, 0x7FFFFFFF); }, // declared 2 GiB, holds 5000
        [&](QByteArray &b) { b[blob + 10] = char(b[blob + 10] ^ 0x55); }, // corrupt stream
    };
    int i = 0;
    for (const auto &damage : damages) {
        QByteArray b = good;
        damage(b);
        write(b);
        const CheckReport report = CheckDatabase(path);
        EXPECT_FALSE(report.Problems.isEmpty()) << "damage " << i;
        ++i;
    }
    write(good);
    EXPECT_TRUE(CheckDatabase(path).Problems.isEmpty());
}

TEST_F(FileFormatTest, TableNameOf32CharactersAndIndexOf8Fields)
{
    const QString name = QStringLiteral("T").repeated(32);
    TDictTableSchema schema;
    schema.Name = name;
    TDictIndexSchema index {QStringLiteral("Eight"), tiUnique, {}};
    for (int i = 0; i < 8; ++i) {
        schema.Fields << TDictFieldSchema {QStringLiteral("F%1").arg(i), ftInteger};
        index.Fields << QStringLiteral("F%1").arg(i);
    }
    schema.Indexes << index;
    const QByteArray image = BuildDatabaseImage({}, {schema});
    EXPECT_EQ(image[kTable + 32], '\0');
    EXPECT_EQ(image.mid(kTable, 32), name.toLatin1());
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(getI32(image.constData() + kTable + 4181 + 34 + 4 * j), j) << "no -1 terminator";
    write(image);
    TDictTable t;
    openTable(t, path, name);
    EXPECT_EQ(t.TableIO()->IndexDefs()[0].Fields.size(), 8);
    t.AppendRecord({1, 2, 3, 4, 5, 6, 7, 8});
    t.AppendRecord({1, 2, 3, 4, 5, 6, 7, 9});
    EXPECT_THROW(t.AppendRecord({1, 2, 3, 4, 5, 6, 7, 8}), EDictDBError);
    EXPECT_THROW(BuildDatabaseImage({}, {{QStringLiteral("T").repeated(33), {}, {}}}), EDictDBError);
}

TEST_F(FileFormatTest, UnknownAlgorithmNamesAndAnyCaseNames)
{
    struct Case
    {
        int at;
        const char *name;
        const char *error;
    } cases[] = {
        {2317 + 2, "zlib", nullptr},
        {2317 + 2, "LZMA", "Compression algorithm module 'LZMA' not found"},
        {2317 + 37, "BLOWFISH", nullptr},
        {2317 + 37, "gOsT", nullptr},
        {2317 + 37, "AES", "Encryption algorithm module 'AES' not found"},
    };
    for (const Case &c : cases) {
        QByteArray b = handMadeFixture();
        if (c.at == 2317 + 2)
            b[2317] = 1;
        else
            b[2317 + 35] = 1; // Encrypted; no password: the open stops at the login
        putText(b, c.at, c.name);
        write(b);
        const QString error = openError();
        if (c.error)
            EXPECT_EQ(error, QLatin1String(c.error));
        else
            EXPECT_TRUE(error.isEmpty() || error == QStringLiteral("Operation aborted"))
                << error.toStdString();
    }
}
