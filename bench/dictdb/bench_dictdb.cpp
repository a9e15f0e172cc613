// Per-call cost of the process knowledge-base lookup: open the table, find a process
// name ignoring case, read two fields, close. Next to it SQLite does the same work:
// open, prepared look-up on an indexed NOCASE column, read two columns, close.
#include "db/DictDBWriter.h"
#include "db/DictTable.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <random>
#include <sqlite3.h>
#include <thread>

using namespace dictdb;

namespace {

constexpr int kRecords = 5000;

QString processName(int i)
{
    return QStringLiteral("process%1.exe").arg(i, 4, 10, QLatin1Char('0'));
}
QString description(int i)
{
    return QStringLiteral("Description of process number %1, a longer text as stored").arg(i);
}

void buildDictDB(const QString &path)
{
    TDictTableSchema schema {
        QStringLiteral("Process"),
        {{QStringLiteral("ProcessName"), ftString, 64},
         {QStringLiteral("Description"), ftString, 255},
         {QStringLiteral("Virus"), ftBoolean}},
        {{QStringLiteral("ByName"), tiCaseInsensitive, {QStringLiteral("ProcessName")}}}};
    CreateDatabaseFile(path, {}, {schema});
    TDictTable t;
    t.SetDatabaseName(path);
    t.SetTableName(QStringLiteral("Process"));
    t.Open();
    // shuffled insertion so the index chain is not simply physical order
    std::vector<int> ids(kRecords);
    for (int i = 0; i < kRecords; ++i)
        ids[size_t(i)] = i;
    std::shuffle(ids.begin(), ids.end(), std::mt19937(1));
    for (int i : ids)
        t.AppendRecord({processName(i), description(i), i % 13 == 0});
}

void buildSqlite(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE process(name TEXT, description TEXT, virus INTEGER);"
                 "CREATE INDEX by_name ON process(name COLLATE NOCASE);BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO process VALUES(?1,?2,?3)", -1, &st, nullptr);
    for (int i = 0; i < kRecords; ++i) {
        const QByteArray n = processName(i).toUtf8(), d = description(i).toUtf8();
        sqlite3_bind_text(st, 1, n.constData(), int(n.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, d.constData(), int(d.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 3, i % 13 == 0);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

template<typename F> double perCallMicros(int calls, F &&f)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        f(i);
    return double(timer.nsecsElapsed()) / 1000.0 / calls;
}

} // namespace

int main(int argc, char **argv)
{
    const int calls = argc > 1 ? std::atoi(argv[1]) : 3000;
    QTemporaryDir dir;
    if (argc > 2)
        dir.setAutoRemove(false); // keep the files for inspection
    const QString dictPath = dir.filePath(QStringLiteral("ProcDB.db"));
    const QString sqlitePath = dir.filePath(QStringLiteral("procdb.sqlite"));
    buildDictDB(dictPath);
    buildSqlite(sqlitePath);
    // the shipped knowledge base is an old file; let the new one settle like it
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));

    std::mt19937 rng(2);
    std::vector<QString> keys;
    for (int i = 0; i < calls; ++i)
        keys.push_back(processName(int(rng() % kRecords)).toUpper());
    const std::vector<QByteArray> utf8Keys = [&] {
        std::vector<QByteArray> k;
        for (const QString &s : keys)
            k.push_back(s.toUtf8());
        return k;
    }();

    int found = 0, risky = 0;
    TDictTable table; // one object for the run, as the knowledge base keeps it
    table.SetDatabaseName(dictPath);
    auto dictLookup = [&](int i) {
        table.Close();
        table.SetTableName(QStringLiteral("Process"));
        table.Open();
        if (table.Locate(QStringLiteral("ProcessName"), keys[size_t(i)], loCaseInsensitive)) {
            found += !table.FieldByName(QStringLiteral("Description"))->AsString().isEmpty();
            risky += table.FieldByName(QStringLiteral("Virus"))->AsBoolean();
        }
        table.Close();
    };
    auto sqliteLookup = [&](int i) {
        sqlite3 *db = nullptr;
        sqlite3_open_v2(sqlitePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(db, "SELECT description, virus FROM process WHERE name = ?1 COLLATE NOCASE", -1,
                           &st, nullptr);
        sqlite3_bind_text(st, 1, utf8Keys[size_t(i)].constData(), int(utf8Keys[size_t(i)].size()),
                          SQLITE_STATIC);
        if (sqlite3_step(st) == SQLITE_ROW) {
            found += sqlite3_column_bytes(st, 0) > 0;
            risky += sqlite3_column_int(st, 1) != 0;
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
    };
    // warm both up, then measure alternately so neither gets a warmer cache
    perCallMicros(100, dictLookup);
    perCallMicros(100, sqliteLookup);
    double dict = 0, lite = 0;
    for (int round = 0; round < 3; ++round) {
        dict += perCallMicros(calls, dictLookup);
        lite += perCallMicros(calls, sqliteLookup);
    }
    dict /= 3;
    lite /= 3;
    // where a DictDB call spends its time
    qint64 tOpen = 0, tLocate = 0, tClose = 0;
    QElapsedTimer phase;
    for (int i = 0; i < calls; ++i) {
        phase.start();
        table.SetTableName(QStringLiteral("Process"));
        table.Open();
        tOpen += phase.nsecsElapsed();
        phase.start();
        if (table.Locate(QStringLiteral("ProcessName"), keys[size_t(i)], loCaseInsensitive))
            found += !table.FieldByName(QStringLiteral("Description"))->AsString().isEmpty();
        tLocate += phase.nsecsElapsed();
        phase.start();
        table.Close();
        tClose += phase.nsecsElapsed();
    }
    std::printf("lookup per call (open, Locate ignoring case, read 2 fields, close), %d records:\n",
                kRecords);
    std::printf("  DictDB  %8.1f us\n", dict);
    std::printf("  SQLite  %8.1f us\n", lite);
    std::printf("  ratio DictDB/SQLite %.2f (found %d, risky %d)\n", dict / lite, found, risky);
    std::printf("  DictDB phases: open %.1f us, locate and read %.1f us, close %.1f us\n",
                tOpen / 1000.0 / calls, tLocate / 1000.0 / calls, tClose / 1000.0 / calls);
    return 0;
}
