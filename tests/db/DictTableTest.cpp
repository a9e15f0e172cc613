// Round trips through the writer and the reader: every field type, blobs, orders,
// navigation, bookmarks, Locate and Lookup, deleted records and unique keys.
#include "db/DictCipher.h"
#include "support/DbTestUtil.h"

#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace dictdb;

namespace {

struct Row
{
    QString name;
    int integer;
    bool flag;
    double real;
    QByteArray data;
};

class DictTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("t.db"));
    }
    void create(const TDictCreateOptions &options = {},
                const QList<TDictTableSchema> &tables = {everyTypeTable()})
    {
        CreateDatabaseFile(path, options, tables);
    }
    QTemporaryDir dir;
    QString path;
};

QByteArray incompressible(int n)
{
    std::mt19937 rng(n);
    QByteArray b(n, 0);
    for (auto &c : b)
        c = char(rng());
    return b;
}

} // namespace

TEST_F(DictTableTest, EveryFieldTypeRoundTrips)
{
    create();
    const QDateTime stamp(QDate(2024, 2, 29), QTime(13, 45, 7, 250));
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("All"));
        t.Append();
        t.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("explorer.exe"));
        t.FieldByName(QStringLiteral("Code"))->SetAsString(QStringLiteral("ABCDEFG")); // cut to 4
        t.FieldByName(QStringLiteral("Small"))->SetAsInteger(-1234);
        t.FieldByName(QStringLiteral("Int"))->SetAsInteger(-2000000000);
        t.FieldByName(QStringLiteral("Word"))->SetAsInteger(65535);
        t.FieldByName(QStringLiteral("Flag"))->SetAsBoolean(true);
        t.FieldByName(QStringLiteral("Real"))->SetAsFloat(3.25);
        t.FieldByName(QStringLiteral("Money"))->SetAsFloat(-12.5);
        t.FieldByName(QStringLiteral("Day"))->SetValue(QDate(1, 1, 1));
        t.FieldByName(QStringLiteral("Clock"))->SetValue(QTime(23, 59, 58));
        t.FieldByName(QStringLiteral("Stamp"))->SetAsDateTime(stamp);
        t.FieldByName(QStringLiteral("Big"))->SetAsInteger(Q_INT64_C(-9000000000000));
        t.FieldByName(QStringLiteral("Data"))->SetAsBytes(QByteArray("\x00\x01\x02", 3));
        t.FieldByName(QStringLiteral("Note"))->SetAsString(QStringLiteral("memo text"));
        t.Post();
        EXPECT_EQ(t.FieldByName(QStringLiteral("Id"))->AsInteger(), 1);
        t.Close();
    }
    TDictTable t;
    openTable(t, path, QStringLiteral("All"));
    ASSERT_EQ(t.RecordCount(), 1);
    t.First();
    EXPECT_EQ(t.FieldByName(QStringLiteral("id"))->AsInteger(), 1);
    EXPECT_EQ(t.FieldByName(QStringLiteral("Name"))->AsString(), QStringLiteral("explorer.exe"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Code"))->AsString(), QStringLiteral("ABCD"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Small"))->AsInteger(), -1234);
    EXPECT_EQ(t.FieldByName(QStringLiteral("Int"))->AsInteger(), -2000000000);
    EXPECT_EQ(t.FieldByName(QStringLiteral("Word"))->AsInteger(), 65535);
    EXPECT_TRUE(t.FieldByName(QStringLiteral("Flag"))->AsBoolean());
    EXPECT_EQ(t.FieldByName(QStringLiteral("Flag"))->AsString(), QStringLiteral("True"));
    EXPECT_DOUBLE_EQ(t.FieldByName(QStringLiteral("Real"))->AsFloat(), 3.25);
    EXPECT_DOUBLE_EQ(t.FieldByName(QStringLiteral("Money"))->AsFloat(), -12.5);
    EXPECT_EQ(t.FieldByName(QStringLiteral("Day"))->AsDate(), QDate(1, 1, 1));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Day"))->AsInteger(), 1) << "1 January 0001 is day 1";
    EXPECT_EQ(t.FieldByName(QStringLiteral("Clock"))->AsTime(), QTime(23, 59, 58));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Stamp"))->AsDateTime(), stamp);
    EXPECT_EQ(t.FieldByName(QStringLiteral("Big"))->AsLargeInt(), Q_INT64_C(-9000000000000));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Data"))->AsBytes(), QByteArray("\x00\x01\x02", 3));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Note"))->AsString(), QStringLiteral("memo text"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Name"))->Size(), 40);
    EXPECT_EQ(t.FieldByName(QStringLiteral("Int"))->Size(), 0);
    try {
        t.FieldByName(QStringLiteral("Nope"));
        FAIL();
    } catch (const EDictDBError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Field 'Nope' not found"));
    }
    // text conversions the other way
    EXPECT_THROW(t.FieldByName(QStringLiteral("Name"))->AsInteger(), EDictDBError);
}

TEST_F(DictTableTest, BlobsEmptyCompressibleAndIncompressibleInEveryStorageMode)
{
    struct Mode
    {
        bool compressed, encrypted;
        const char *cipher;
        int mode;
    };
    const Mode modes[]
        = {{false, false, "", 0}, {true, false, "", 0}, {true, true, "Twofish", 1}, {false, true, "Gost", 2}};
    const QList<QByteArray> values = {QByteArray(), QByteArray(100000, 'x'), incompressible(9000),
                                      QByteArray("plain-marker-123"), incompressible(1)};
    for (const Mode &m : modes) {
        TDictCreateOptions o;
        o.Compressed = m.compressed;
        o.Encrypted = m.encrypted;
        o.EncryptAlgoName = QLatin1String(m.cipher);
        o.EncryptMode = m.mode;
        o.Password = QStringLiteral("pw");
        o.VerifyBlobWrites = true;
        TDictTableSchema schema {QStringLiteral("B"),
                                 {{QStringLiteral("V"), ftBlob}, {QStringLiteral("Plain"), ftBlob, 0, 1}},
                                 {}};
        create(o, {schema});
        TDictDatabase db;
        db.DatabaseName = path;
        if (m.encrypted)
            db.SetPassword(QStringLiteral("pw"));
        {
            TDictTable t;
            openTable(t, path, QStringLiteral("B"));
            for (const QByteArray &v : values)
                t.AppendRecord({v, v});
        }
        TDictTable t;
        openTable(t, path, QStringLiteral("B"));
        ASSERT_EQ(t.RecordCount(), values.size());
        t.First();
        for (const QByteArray &v : values) {
            EXPECT_EQ(t.FieldByName(QStringLiteral("V"))->AsBytes(), v)
                << m.compressed << m.encrypted << v.size();
            EXPECT_EQ(t.FieldByName(QStringLiteral("Plain"))->AsBytes(), v);
            t.Next();
        }
        // the field marked "stored plain" really is plain in the file
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll().contains("plain-marker-123"));
    }
}

TEST_F(DictTableTest, IncompressibleBlobIsStoredAsNegativeLengthAndRawBytes)
{
    TDictCreateOptions o;
    o.Compressed = true;
    create(o, {{QStringLiteral("B"), {{QStringLiteral("V"), ftBlob}}, {}}});
    const QByteArray raw = incompressible(300);
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("B"));
        t.AppendRecord({raw});
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    QByteArray prefix(4, 0);
    putI32(prefix.data(), -300);
    EXPECT_TRUE(all.contains(prefix + raw));
}

TEST_F(DictTableTest, ReadsBackAfterUpdatesAndBlobRewrites)
{
    create();
    TDictTable t;
    openTable(t, path, QStringLiteral("All"));
    t.AppendRecord({0, QStringLiteral("a"), {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, QByteArray(10, 'a')});
    t.AppendRecord({0, QStringLiteral("b"), {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, QByteArray(10, 'b')});
    ASSERT_TRUE(t.Locate(QStringLiteral("Name"), QStringLiteral("a"), loCaseInsensitive));
    t.Edit();
    t.FieldByName(QStringLiteral("Data"))
        ->SetAsBytes(incompressible(5000)); // no longer fits: moves to the end
    t.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("z"));
    t.Post();
    t.Close();
    openTable(t, path, QStringLiteral("All"));
    t.SetIndexName(QStringLiteral("ByName"));
    t.First();
    EXPECT_EQ(t.FieldByName(QStringLiteral("Name"))->AsString(), QStringLiteral("b"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Data"))->AsBytes(), QByteArray(10, 'b'));
    t.Next();
    EXPECT_EQ(t.FieldByName(QStringLiteral("Name"))->AsString(), QStringLiteral("z"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Data"))->AsBytes(), incompressible(5000));
    // a shorter value goes back into the reserved capacity
    t.Edit();
    t.FieldByName(QStringLiteral("Data"))->SetAsBytes(QByteArray("tiny"));
    t.Post();
    EXPECT_EQ(t.FieldByName(QStringLiteral("Data"))->AsBytes(), QByteArray("tiny"));
}

TEST_F(DictTableTest, NavigationOrdersAndBookmarks)
{
    create();
    TDictTable t;
    openTable(t, path, QStringLiteral("All"));
    EXPECT_TRUE(t.Eof());
    EXPECT_FALSE(t.Locate(QStringLiteral("Name"), QStringLiteral("x")));
    t.Next();
    EXPECT_TRUE(t.Eof());
    for (const char *n : {"delta", "Alpha", "charlie", "Bravo"})
        t.AppendRecord({0, QLatin1String(n)});
    t.Close();
    openTable(t, path, QStringLiteral("All"));
    EXPECT_EQ(t.RecordCount(), 4);
    EXPECT_EQ(t.RecNo(), -1) << "opened before the first record";
    QStringList seen;
    for (t.First(); !t.Eof(); t.Next())
        seen << t.FieldByName(QStringLiteral("Name"))->AsString();
    EXPECT_EQ(seen, QStringList({"delta", "Alpha", "charlie", "Bravo"})) << "primary index on Id";
    t.SetIndexName(QStringLiteral("byname"));
    seen.clear();
    for (t.First(); !t.Eof(); t.Next())
        seen << t.FieldByName(QStringLiteral("Name"))->AsString();
    EXPECT_EQ(seen, QStringList({"Alpha", "Bravo", "charlie", "delta"}));
    t.Last();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.FieldByName(QStringLiteral("Name"))->AsString(), QStringLiteral("delta"));
    seen.clear();
    for (; !t.Bof(); t.Prior())
        seen << t.FieldByName(QStringLiteral("Name"))->AsString();
    EXPECT_EQ(seen.size(), 4);
    t.First();
    t.Next();
    const int mark = t.GetBookmark();
    EXPECT_EQ(mark, 3) << "Bravo is record number 3";
    t.Last();
    t.GotoBookmark(mark);
    EXPECT_EQ(t.FieldByName(QStringLiteral("Name"))->AsString(), QStringLiteral("Bravo"));
    EXPECT_THROW(t.GotoBookmark(99), EDictDBError);
    EXPECT_EQ(t.Lookup(QStringLiteral("Id"), 3, QStringLiteral("Name")).toString(),
              QStringLiteral("charlie"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("Name"))->AsString(), QStringLiteral("Bravo"))
        << "Lookup keeps the cursor";
    const QVariantList both
        = t.Lookup(QStringLiteral("Name"), QStringLiteral("delta"), QStringLiteral("Id;Name")).toList();
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both[0].toInt(), 1);
    EXPECT_TRUE(t.Lookup(QStringLiteral("Name"), QStringLiteral("DELTA"), QStringLiteral("Id")).isNull());
}

TEST_F(DictTableTest, LocateByIndexAndByScanWithBothOptions)
{
    TDictTableSchema indexed {
        QStringLiteral("P"),
        {{QStringLiteral("ProcessName"), ftString, 64}, {QStringLiteral("Virus"), ftBoolean}},
        {{QStringLiteral("ByName"), tiCaseInsensitive, {QStringLiteral("ProcessName")}}}};
    TDictTableSchema plain = indexed;
    plain.Name = QStringLiteral("S");
    plain.Indexes.clear();
    create({}, {indexed, plain});
    for (const char *table : {"P", "S"}) {
        TDictTable t;
        openTable(t, path, QLatin1String(table));
        for (const char *n : {"SVCHOST.EXE", "explorer.exe", "zeta.exe", "alpha.exe", "Explorer2.exe"})
            t.AppendRecord({QLatin1String(n), QString::fromLatin1(n).startsWith(QLatin1Char('z'))});
    }
    struct Case
    {
        const char *key;
        unsigned options;
        const char *found; // nullptr: not found
    } cases[] = {
        {"svchost.exe", loCaseInsensitive, "SVCHOST.EXE"},
        {"svchost.exe", 0, nullptr},
        {"SVCHOST.EXE", 0, "SVCHOST.EXE"},
        {"expl", loPartialKey, "explorer.exe"},
        {"EXPL", loPartialKey | loCaseInsensitive, nullptr}, // either of the two matches; checked below
        {"expl", 0, nullptr},
        {"zeta.exe", loCaseInsensitive, "zeta.exe"},
        {"nothere.exe", loPartialKey, nullptr},
    };
    for (const char *table : {"P", "S"}) {
        TDictTable t;
        openTable(t, path, QLatin1String(table));
        for (const Case &c : cases) {
            const bool ok = t.Locate(QStringLiteral("ProcessName"), QLatin1String(c.key), c.options);
            const QString got = t.FieldByName(QStringLiteral("ProcessName"))->AsString();
            if (c.options == (loPartialKey | loCaseInsensitive)) {
                EXPECT_TRUE(ok);
                EXPECT_TRUE(got.startsWith(QLatin1String("expl"), Qt::CaseInsensitive)) << table;
            } else if (c.found) {
                EXPECT_TRUE(ok) << table << " " << c.key;
                EXPECT_EQ(got, QLatin1String(c.found)) << table << " " << c.key;
            } else {
                EXPECT_FALSE(ok) << table << " " << c.key;
            }
        }
        ASSERT_TRUE(t.Locate(QStringLiteral("ProcessName"), QStringLiteral("ZETA.exe"), loCaseInsensitive));
        EXPECT_TRUE(t.FieldByName(QStringLiteral("Virus"))->AsBoolean());
        // a Boolean key has no index: found by scan
        ASSERT_TRUE(t.Locate(QStringLiteral("Virus"), true));
        EXPECT_EQ(t.FieldByName(QStringLiteral("ProcessName"))->AsString(), QStringLiteral("zeta.exe"));
        // two key fields
        EXPECT_TRUE(
            t.Locate(QStringLiteral("ProcessName;Virus"), QVariantList {QStringLiteral("alpha.exe"), false}));
        EXPECT_FALSE(
            t.Locate(QStringLiteral("ProcessName;Virus"), QVariantList {QStringLiteral("alpha.exe"), true}));
    }
}

TEST_F(DictTableTest, TwoBlocksForMoreThan1024RecordsAndDeletedRecordsVanishEverywhere)
{
    TDictTableSchema schema {QStringLiteral("N"),
                             {{QStringLiteral("K"), ftInteger}, {QStringLiteral("S"), ftString, 8}},
                             {{QStringLiteral("ByK"), tiUnique | tiDescending, {QStringLiteral("K")}},
                              {QStringLiteral("ByS"), 0, {QStringLiteral("S")}}}};
    create({}, {schema});
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("N"));
        for (int i = 0; i < 1025; ++i)
            t.AppendRecord({i, QString::number(i % 7)});
        ASSERT_TRUE(t.Locate(QStringLiteral("K"), 1024));
        t.Delete();
        ASSERT_TRUE(t.Locate(QStringLiteral("K"), 5));
        t.Delete();
    }
    TDictTable t;
    openTable(t, path, QStringLiteral("N"));
    TDictTableIO *io = t.TableIO();
    ASSERT_EQ(io->RecordTabCount(), 1025);
    ASSERT_EQ(io->RecordBlockStarts().size(), 2u);
    EXPECT_EQ(io->Items()[1024].Deleted, 1);
    for (int order = 0; order < io->OrderCount(); ++order) {
        EXPECT_EQ(io->Order(order).size(), 1023u) << order;
        for (const auto &e : io->Order(order))
            EXPECT_TRUE(e.RecordNo != 1024 && e.RecordNo != 5);
    }
    t.SetIndexName(QStringLiteral("ByK"));
    t.First();
    EXPECT_EQ(t.FieldByName(QStringLiteral("K"))->AsInteger(), 1023) << "descending";
    EXPECT_FALSE(t.Locate(QStringLiteral("K"), 5));
    EXPECT_TRUE(t.Locate(QStringLiteral("K"), 6));
    try {
        t.AppendRecord({6, QStringLiteral("x")});
        FAIL();
    } catch (const EDictDBError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid unique field value '6'"));
    }
    // the deleted key may be used again
    t.AppendRecord({5, QStringLiteral("again")});
    EXPECT_TRUE(t.Locate(QStringLiteral("K"), 5));
    EXPECT_EQ(t.FieldByName(QStringLiteral("S"))->AsString(), QStringLiteral("again"));
    // an edit that keeps its own key is no clash
    t.Edit();
    t.FieldByName(QStringLiteral("S"))->SetAsString(QStringLiteral("edited"));
    EXPECT_NO_THROW(t.Post());
    QStringList byS;
    t.SetIndexName(QStringLiteral("ByS"));
    for (t.First(); !t.Eof(); t.Next())
        byS << t.FieldByName(QStringLiteral("S"))->AsString();
    EXPECT_TRUE(std::is_sorted(byS.begin(), byS.end()));
    EXPECT_EQ(byS.size(), 1024);
}

TEST_F(DictTableTest, SecondDatasetOfTheConnectionDoesNotReload)
{
    create();
    TDictDatabase db;
    db.DatabaseName = path;
    db.KeepConnection = true;
    TDictTable a, b;
    openTable(a, path, QStringLiteral("All"));
    openTable(b, path, QStringLiteral("All"));
    EXPECT_EQ(a.TableIO(), b.TableIO());
    EXPECT_EQ(a.TableIO()->LoadCount(), 1);
    EXPECT_EQ(a.TableIO()->OpenCount(), 2);
    a.Close();
    b.Close();
    EXPECT_TRUE(db.Connected()) << "kept";
    db.Close();
    EXPECT_FALSE(db.Connected());
}

TEST_F(DictTableTest, DefaultSessionReleasesTheFileAfterEachClose)
{
    create();
    TDictTable t;
    openTable(t, path, QStringLiteral("All"));
    ASSERT_NE(t.Database(), nullptr);
    EXPECT_TRUE(t.Database()->Temporary());
    t.Close();
    EXPECT_EQ(TDictSession::Default().FindDatabase(path), nullptr);
}

TEST_F(DictTableTest, ErrorsOfOpenLeaveTheTableClosed)
{
    create();
    struct Case
    {
        QString database, table, message;
    } cases[] = {
        {path, QStringLiteral("Missing"), QStringLiteral("Table 'Missing' not found")},
        {path, QStringLiteral("all"), QStringLiteral("Table 'all' not found")},
        {dir.filePath(QStringLiteral("none.db")), QStringLiteral("All"),
         QStringLiteral("Failed to open file")},
        {QString(), QStringLiteral("All"), QStringLiteral("Database name missing")},
    };
    for (const Case &c : cases) {
        TDictTable t;
        t.SetDatabaseName(c.database);
        t.SetTableName(c.table);
        try {
            t.Open();
            FAIL() << c.message.toStdString();
        } catch (const EDictDBError &e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_FALSE(t.Active());
        EXPECT_EQ(TDictSession::Default().FindDatabase(c.database), nullptr);
    }
    TDictTable t;
    t.SetSessionName(QStringLiteral("Nope"));
    t.SetDatabaseName(path);
    t.SetTableName(QStringLiteral("All"));
    EXPECT_THROW(t.Open(), EDictDBError);
}

TEST_F(DictTableTest, ReadOnlyFileOpensButRefusesChanges)
{
    create();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    TDictTable t;
    openTable(t, path, QStringLiteral("All"));
    EXPECT_TRUE(t.TableIO()->File().ReadOnly());
    try {
        t.Append();
        FAIL();
    } catch (const EDictDBError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot modify a read-only dataset"));
    }
    t.Close();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    openTable(t, path, QStringLiteral("All"));
    t.ReadOnly = true;
    EXPECT_THROW(t.Append(), EDictDBError);
}

TEST_F(DictTableTest, EncryptedFilesInEveryModeWithEachCipher)
{
    for (const char *cipher : {"Blowfish", "Twofish", "Gost"}) {
        for (int mode = 0; mode <= 4; ++mode) {
            TDictCreateOptions o;
            o.Encrypted = true;
            o.EncryptAlgoName = QString::fromLatin1(cipher).toLower(); // any letter case selects it
            o.EncryptMode = mode;
            o.Password = QStringLiteral("secret");
            TDictTableSchema schema {
                QStringLiteral("E"),
                {{QStringLiteral("Name"), ftString, 30},
                 {QStringLiteral("Flag"), ftBoolean},
                 {QStringLiteral("Open"), ftString, 10, 1},
                 {QStringLiteral("Memo"), ftMemo}},
                {{QStringLiteral("ByName"), tiCaseInsensitive, {QStringLiteral("Name")}}}};
            create(o, {schema});
            {
                TDictDatabase db;
                db.DatabaseName = path;
                db.SetPassword(QStringLiteral("secRET")); // only the first half of the characters counts
                TDictTable t;
                openTable(t, path, QStringLiteral("E"));
                t.AppendRecord({QStringLiteral("same value here"), true, QStringLiteral("visible"),
                                QStringLiteral("note")});
                t.AppendRecord({QStringLiteral("same value here"), true, QStringLiteral("visible"),
                                QStringLiteral("note")});
                t.AppendRecord({QStringLiteral("Another"), false, QStringLiteral("x"), QString()});
            }
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            f.close();
            EXPECT_FALSE(bytes.contains("same value here")) << cipher << mode;
            EXPECT_TRUE(bytes.contains("visible")) << "DataProcessMode 1 stays plain";

            TDictDatabase db;
            db.DatabaseName = path;
            db.SetPassword(QStringLiteral("secret"));
            TDictTable t;
            openTable(t, path, QStringLiteral("E"));
            ASSERT_TRUE(t.Locate(QStringLiteral("Name"), QStringLiteral("ANOTHER"), loCaseInsensitive))
                << cipher << mode;
            EXPECT_FALSE(t.FieldByName(QStringLiteral("Flag"))->AsBoolean());
            t.First();
            EXPECT_EQ(t.FieldByName(QStringLiteral("Name"))->AsString(), QStringLiteral("same value here"));
            EXPECT_EQ(t.FieldByName(QStringLiteral("Memo"))->AsString(), QStringLiteral("note"));
            EXPECT_TRUE(t.FieldByName(QStringLiteral("Flag"))->AsBoolean());
            // every value starts from the IV: equal values give equal stored bytes
            const auto &items = t.TableIO()->Items();
            QByteArray r0(30, 0), r1(30, 0);
            t.TableIO()->File().ReadAt(items[0].DataOffset, r0.data(), 30);
            t.TableIO()->File().ReadAt(items[1].DataOffset, r1.data(), 30);
            EXPECT_EQ(r0, r1);
            // a 2-byte Boolean is shorter than any block: modes 0 and 1 apply the tail rule
            // (plain XOR the first bytes of E(IV)), mode 4 leaves it plain
            QByteArray flag(2, 0);
            t.TableIO()->File().ReadAt(items[0].DataOffset + 31, flag.data(), 2);
            std::unique_ptr<TEncrypt> c;
            if (QLatin1String(cipher) == QLatin1String("Blowfish"))
                c = std::make_unique<TEnc_Blowfish>();
            else if (QLatin1String(cipher) == QLatin1String("Twofish"))
                c = std::make_unique<TEnc_Twofish>();
            else
                c = std::make_unique<TEnc_Gost>();
            c->InitFromPassword(QStringLiteral("secret"));
            uint8_t ones[16], iv[16], tail[16];
            std::memset(ones, 0xFF, sizeof ones);
            c->EncryptBlock(ones, iv);
            c->EncryptBlock(iv, tail);
            if (mode == 0 || mode == 1) {
                EXPECT_EQ(uint8_t(flag[0]), uint8_t(1 ^ tail[0])) << cipher << mode;
                EXPECT_EQ(uint8_t(flag[1]), uint8_t(0 ^ tail[1])) << cipher << mode;
            } else if (mode == 4) {
                EXPECT_EQ(flag, QByteArray("\x01\x00", 2)) << cipher;
            }
        }
    }
}

TEST_F(DictTableTest, ProgressReachesTheDatabaseEvents)
{
    TDictCreateOptions o;
    o.Compressed = true;
    o.Encrypted = true;
    o.Password = QStringLiteral("pw");
    create(o, {{QStringLiteral("B"), {{QStringLiteral("V"), ftBlob}}, {}}});
    TDictDatabase db;
    db.DatabaseName = path;
    db.SetPassword(QStringLiteral("pw"));
    QList<int> encrypt, decrypt;
    db.OnEncryptProgress = [&](TDictDatabase *, int p) { encrypt << p; };
    db.OnDecryptProgress = [&](TDictDatabase *, int p) { decrypt << p; };
    TDictTable t;
    openTable(t, path, QStringLiteral("B"));
    t.AppendRecord({incompressible(10000)});
    t.First();
    EXPECT_EQ(t.FieldByName(QStringLiteral("V"))->AsBytes().size(), 10000);
    ASSERT_EQ(encrypt.size(), 3) << "three pieces of 4096 bytes";
    EXPECT_EQ(encrypt.last(), 100);
    EXPECT_EQ(decrypt.last(), 100);
}

TEST_F(DictTableTest, WrongPasswordIsRefusedAndNoPasswordAbortsSilently)
{
    TDictCreateOptions o;
    o.Encrypted = true;
    o.EncryptAlgoName = QStringLiteral("Twofish");
    o.Password = QStringLiteral("secret");
    create(o, {everyTypeTable()});
    {
        TDictDatabase db;
        db.DatabaseName = path;
        db.SetPassword(QStringLiteral("Secret")); // a letter in the first half differs
        TDictTable t;
        try {
            openTable(t, path, QStringLiteral("All"));
            FAIL();
        } catch (const EDictDBError &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Access denied"));
        }
        EXPECT_FALSE(t.Active());
    }
    TDictTable t;
    EXPECT_THROW(openTable(t, path, QStringLiteral("All")), EDictDBAbort);
    TDictSession::Default().OnLogin = [](TDictSession *, const QString &, QString &pw) {
        pw = QStringLiteral("secret");
        return true;
    };
    EXPECT_NO_THROW(openTable(t, path, QStringLiteral("All")));
    t.Close();
    TDictSession::Default().OnLogin = nullptr;
    TDictSession::Default().Passwords = {QStringLiteral("nope"), QStringLiteral("secret")};
    EXPECT_NO_THROW(openTable(t, path, QStringLiteral("All")));
    t.Close();
    TDictSession::Default().Passwords.clear();
}

TEST_F(DictTableTest, MemoryMedium)
{
    QByteArray image = BuildDatabaseImage({}, {everyTypeTable()});
    const QString name = TDictMemoryStreams::Register(&image);
    {
        TDictTable t;
        t.SetMediumType(mtMemory);
        openTable(t, name, QStringLiteral("All"));
        t.AppendRecord({0, QStringLiteral("in memory")});
        EXPECT_TRUE(t.Locate(QStringLiteral("Name"), QStringLiteral("IN MEMORY"), loCaseInsensitive));
    }
    EXPECT_TRUE(image.contains("in memory"));
    TDictMemoryStreams::Unregister(name);
    for (const char *bad : {"12AB", ":", ":12G", "::1"}) {
        TDictTable t;
        t.SetMediumType(mtMemory);
        try {
            openTable(t, QLatin1String(bad), QStringLiteral("All"));
            FAIL() << bad;
        } catch (const EDictDBError &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Invalid database name '%1'").arg(QLatin1String(bad)));
        }
    }
}

// A database made on demand for its tables may be closed while they are open: that
// closes the tables and must not free the database while it is still closing them.
TEST_F(DictTableTest, ClosingATemporaryDatabaseWithOpenTables)
{
    QByteArray image = BuildDatabaseImage({}, {everyTypeTable(), everyTypeTable(QStringLiteral("Other"))});
    const QString name = TDictMemoryStreams::Register(&image);
    create({}, {everyTypeTable(), everyTypeTable(QStringLiteral("Other"))});
    for (const auto &[database, medium] : {std::pair {name, mtMemory}, std::pair {path, mtDisk}}) {
        for (int tables = 1; tables <= 3; ++tables) {
            std::vector<std::unique_ptr<TDictTable>> open;
            for (int i = 0; i < tables; ++i) {
                open.push_back(std::make_unique<TDictTable>());
                open.back()->SetMediumType(medium);
                openTable(*open.back(), database, i % 2 ? QStringLiteral("Other") : QStringLiteral("All"));
            }
            TDictDatabase *db = open.front()->Database();
            ASSERT_TRUE(db->Temporary());
            ASSERT_EQ(db->UseCount(), tables);
            db->Close();
            for (const auto &t : open)
                EXPECT_FALSE(t->Active());
            EXPECT_FALSE(db->Connected());
            EXPECT_EQ(db->UseCount(), 0);
            // the tables open again, and their last close releases the database
            openTable(*open.front(), database, QStringLiteral("All"));
            open.front()->AppendRecord({0, QStringLiteral("again")});
            EXPECT_TRUE(open.front()->Locate(QStringLiteral("Name"), QStringLiteral("again")));
            open.front()->Close();
            EXPECT_EQ(TDictSession::Default().FindDatabase(database), nullptr);
        }
    }
    TDictMemoryStreams::Unregister(name);
}

TEST_F(DictTableTest, ListsOfAnUnchangedFileAreReusedAndAnyChangeIsSeen)
{
    setTableCacheSettleTime(20'000'000); // 20 ms instead of seconds
    create();
    // The cache trusts only a file left alone for the settle time, measured against its change
    // time, which cannot be set back: the time itself has to pass.
    const auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(60)); };
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("All"));
        for (const char *n : {"one", "two", "three"})
            t.AppendRecord({0, QLatin1String(n)});
    }
    settle();
    const auto names = [&] {
        TDictTable t;
        openTable(t, path, QStringLiteral("All"));
        t.SetIndexName(QStringLiteral("ByName"));
        QStringList out;
        for (t.First(); !t.Eof(); t.Next())
            out << t.FieldByName(QStringLiteral("Name"))->AsString();
        return out;
    };
    EXPECT_EQ(names(), QStringList({"one", "three", "two"}));
    const qint64 hits = tableCacheHits();
    EXPECT_EQ(names(), QStringList({"one", "three", "two"}));
    EXPECT_EQ(tableCacheHits(), hits + 1);

    // a delete changes neither the size nor the table header
    settle();
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("All"));
        ASSERT_TRUE(t.Locate(QStringLiteral("Name"), QStringLiteral("three")));
        t.Delete();
    }
    EXPECT_EQ(names(), QStringList({"one", "two"}));
    settle();
    EXPECT_EQ(names(), QStringList({"one", "two"}));
    // an update moves a record within the index chain in place
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("All"));
        ASSERT_TRUE(t.Locate(QStringLiteral("Name"), QStringLiteral("one")));
        t.Edit();
        t.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("zzz"));
        t.Post();
    }
    EXPECT_EQ(names(), QStringList({"two", "zzz"}));
    setTableCacheSettleTime(2'000'000'000);
}
