#include "db/DictDBCheck.h"

#include "db/DictTable.h"

namespace dictdb {

namespace {

QString describe(const std::exception &e)
{
    if (const auto *db = dynamic_cast<const EDictDBError *>(&e))
        return db->Message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

CheckReport CheckDatabase(const QString &databaseName, TDictDBMediumType medium, const QString &password)
{
    CheckReport report;
    TDictSession session(QStringLiteral("Check%1").arg(quintptr(&report), 0, 16));
    session.LockRetryCount = 20;
    TDictDatabase db(&session);
    db.DatabaseName = databaseName;
    db.MediumType = medium;
    db.KeepConnection = true;
    if (!password.isEmpty())
        db.SetPassword(password);
    QStringList tables;
    try {
        db.Open();
        tables = db.GetTableNames();
    } catch (const std::exception &e) {
        report.Problems << describe(e);
        return report;
    }
    if (!db.CanAccess()) {
        // not damage, but nothing behind the headers can be read
        report.Problems << QStringLiteral("the database is encrypted and no fitting password was given");
        report.Tables = int(tables.size());
        return report;
    }
    report.Tables = int(tables.size());
    for (const QString &name : tables) {
        TDictTable t;
        t.SetSessionName(session.SessionName);
        t.SetDatabaseName(databaseName);
        t.SetMediumType(medium);
        t.SetTableName(name);
        try {
            t.Open();
        } catch (const std::exception &e) {
            report.Problems << QStringLiteral("table '%1': %2").arg(name, describe(e));
            continue;
        }
        TDictTableIO *io = t.TableIO();
        // every order must hold only live records that exist
        for (int order = 1; order < io->OrderCount(); ++order)
            for (const auto &entry : io->Order(order))
                if (entry.RecordNo < 0 || entry.RecordNo >= io->RecordTabCount()
                    || io->Items()[size_t(entry.RecordNo)].Deleted)
                    report.Problems << QStringLiteral("table '%1': index %2 holds a record that is not live")
                                           .arg(name, io->IndexDefs()[order - 1].Name);
        // an index must list its records in key order, or searches by key miss them
        for (int order = 1; order < io->OrderCount(); ++order) {
            const TDictOrder &entries = io->Order(order);
            try {
                std::vector<FieldBytes> previous;
                for (size_t p = 0; p < entries.size(); ++p) {
                    if (p > 0
                        && io->CompareKeyWithRecord(order - 1, previous, entries[p].RecordNo, false) > 0) {
                        report.Problems
                            << QStringLiteral("table '%1': index '%2' is out of key order at record %3")
                                   .arg(name, io->IndexDefs()[order - 1].Name)
                                   .arg(entries[p].RecordNo);
                        break;
                    }
                    previous = io->RecordKey(order - 1, entries[p].RecordNo);
                }
            } catch (const std::exception &e) {
                report.Problems << QStringLiteral("table '%1': index '%2': %3")
                                       .arg(name, io->IndexDefs()[order - 1].Name, describe(e));
            }
        }
        for (int order = 1; order < io->OrderCount(); ++order)
            if (io->Order(order).size() != io->Order(0).size())
                report.Problems << QStringLiteral("table '%1': index '%2' lists %3 of %4 records")
                                       .arg(name, io->IndexDefs()[order - 1].Name)
                                       .arg(io->Order(order).size())
                                       .arg(io->Order(0).size());
        try {
            for (t.First(); !t.Eof(); t.Next()) {
                ++report.Records;
                for (int f = 0; f < t.FieldCount(); ++f) {
                    TDictField *field = t.Field(f);
                    if (field->IsBlob())
                        ++report.Blobs;
                    (void)field->AsString();
                }
            }
        } catch (const std::exception &e) {
            report.Problems << QStringLiteral("table '%1', record %2: %3")
                                   .arg(name)
                                   .arg(t.GetBookmark())
                                   .arg(describe(e));
        }
    }
    return report;
}

} // namespace dictdb
