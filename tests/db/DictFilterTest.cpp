// The filter language over a small table.
#include "support/DbTestUtil.h"

#include <gtest/gtest.h>

namespace {

class DictFilterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path = dir.filePath(QStringLiteral("f.db"));
        dictdb::CreateDatabaseFile(path, {},
                                   {{QStringLiteral("P"),
                                     {{QStringLiteral("Name"), ftString, 30},
                                      {QStringLiteral("Size"), ftInteger},
                                      {QStringLiteral("Risk"), ftBoolean},
                                      {QStringLiteral("Seen"), ftDateTime},
                                      {QStringLiteral("Note"), ftMemo}},
                                     {{QStringLiteral("ByName"), tiPrimary, {QStringLiteral("Name")}}}}});
        openTable(t, path, QStringLiteral("P"));
        t.AppendRecord({QStringLiteral("explorer.exe"), 300, false,
                        QDateTime(QDate(2023, 5, 1), QTime(8, 30)), QStringLiteral(" shell ")});
        t.AppendRecord({QStringLiteral("EVIL.EXE"), 10, true, QDateTime(QDate(2024, 1, 2), QTime(23, 0)),
                        QStringLiteral("bad")});
        t.AppendRecord({QStringLiteral("svchost.exe"), 50, false,
                        QDateTime(QDate(2024, 7, 9), QTime(0, 0, 5)), QString()});
        t.AppendRecord({QStringLiteral("it's.exe"), 0, false, QDateTime(QDate(2020, 1, 1), QTime(0, 0)),
                        QStringLiteral("quote")});
    }
    QStringList filtered(const QString &expression)
    {
        t.SetFilter(expression);
        t.SetFiltered(true);
        QStringList out;
        for (t.First(); !t.Eof(); t.Next())
            out << t.FieldByName(QStringLiteral("Name"))->AsString();
        return out;
    }
    QTemporaryDir dir;
    QString path;
    TDictTable t;
};

} // namespace

TEST_F(DictFilterTest, ExpressionsSelectRecords)
{
    struct Case
    {
        const char *expression;
        QStringList names;
    } cases[] = {
        {"Size > 20", {"explorer.exe", "svchost.exe"}},
        {"Size >= 10 and not Risk", {"explorer.exe", "svchost.exe"}},
        {"Risk = True OR Size = 0", {"EVIL.EXE", "it's.exe"}},
        {"Name LIKE '%.exe'", {"explorer.exe", "it's.exe", "svchost.exe"}},
        {"Name NOT LIKE 's_chost%'", {"EVIL.EXE", "explorer.exe", "it's.exe"}},
        {"UPPER(Name) = 'EVIL.EXE'", {"EVIL.EXE"}},
        {"LOWER(Name) IN ('evil.exe', 'svchost.exe')", {"EVIL.EXE", "svchost.exe"}},
        {"Name = 'it''s.exe'", {"it's.exe"}},
        {"SUBSTRING(Name, 2, 3) = 'xpl'", {"explorer.exe"}},
        {"TRIM(Note) = 'shell' AND TRIMLEFT(Note) = 'shell ' AND TRIMRIGHT(Note) = ' shell'",
         {"explorer.exe"}},
        {"YEAR(Seen) = 2024 AND MONTH(Seen) > 1", {"svchost.exe"}},
        {"DAY(Seen) = 2 OR HOUR(Seen) = 8 OR MINUTE(Seen) = 30 OR SECOND(Seen) = 5",
         {"EVIL.EXE", "explorer.exe", "svchost.exe"}},
        {"Seen < GETDATE() AND (Size + 1) * 2 = 22", {"EVIL.EXE"}},
        {"[Size] <> 300 AND Size != 50", {"EVIL.EXE", "it's.exe"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(filtered(QLatin1String(c.expression)), c.names) << c.expression;
    t.SetFiltered(false);
    EXPECT_EQ(t.RecordCount(), 4);
}

TEST_F(DictFilterTest, ErrorsAndTheRecordEvent)
{
    struct Case
    {
        const char *expression, *message;
    } cases[] = {
        {"Size > ", "Filter expression incorrectly terminated"},
        {"Size > 1 Size", "Filter expression incorrectly terminated"},
        {"Name = 'open", "Unterminated string constant"},
        {"Name + 1 > Risk AND Name", "Type mismatch in expression"},
        {"Name IN ()", "IN predicate list may not be empty"},
        {"Nope = 1", "Field 'Nope' not found"},
        {"YEAR(Name) = 1", "Type mismatch in expression"},
    };
    for (const Case &c : cases) {
        try {
            filtered(QLatin1String(c.expression));
            ADD_FAILURE() << c.expression;
        } catch (const EDictDBError &e) {
            EXPECT_EQ(e.Message(), QLatin1String(c.message)) << c.expression;
        }
    }
    EXPECT_THROW(filtered(QStringLiteral("NOT ").repeated(5000) + QStringLiteral("Risk")), EDictDBError);
    EXPECT_THROW(filtered(QStringLiteral("Risk AND ").repeated(50000) + QStringLiteral("Risk")),
                 EDictDBError);
    t.SetFilter(QString());
    t.OnFilterRecord
        = [](TDictTable *sender) { return sender->FieldByName(QStringLiteral("Size"))->AsInteger() < 100; };
    EXPECT_EQ(filtered(QString()), QStringList({"EVIL.EXE", "it's.exe", "svchost.exe"}));
    // the filter stays in force through changes
    t.AppendRecord({QStringLiteral("big.exe"), 1000});
    t.AppendRecord({QStringLiteral("small.exe"), 1});
    QStringList names;
    for (t.First(); !t.Eof(); t.Next())
        names << t.FieldByName(QStringLiteral("Name"))->AsString();
    EXPECT_EQ(names, QStringList({"EVIL.EXE", "it's.exe", "small.exe", "svchost.exe"}));
    t.OnFilterRecord = nullptr;
}
