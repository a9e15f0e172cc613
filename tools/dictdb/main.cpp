// dictdb: the database engine's command-line tool.
//   dictdb create FILE --table NAME --field NAME:TYPE[:SIZE][:plain] ... --index NAME:F1,F2[:opt,opt] ...
//          [--password P] [--compress] [--cipher NAME --mode N] [--verify-blobs]
//   dictdb import FILE TABLE [--password P] < rows.tsv
//   dictdb dump FILE [TABLE] [--password P]
//   dictdb check FILE [--password P]
//   dictdb locate FILE TABLE FIELD VALUE [-i] [-p] [--password P]
// Rows are tab-separated, one record a line, in field order; a first line naming the
// fields maps columns to fields instead. In values \t, \n, \r and \\ are escapes, and a
// value "hex:..." is taken as bytes. Exit status: 0 done, 1 not found or damage found,
// 2 bad usage or error.
#include "db/DictDBCheck.h"
#include "db/DictDBWriter.h"
#include "db/DictTable.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <cstdio>
#include <map>

using namespace dictdb;

namespace {

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

[[noreturn]] void usage(const QString &why)
{
    std::fprintf(stderr, "dictdb: %s\n", qPrintable(why));
    std::fprintf(stderr,
                 "usage: dictdb create FILE --table NAME --field NAME:TYPE[:SIZE][:plain] ... "
                 "[--index NAME:FIELDS[:OPTIONS]] ... [--password P] [--compress] [--cipher NAME --mode N]\n"
                 "       dictdb import FILE TABLE [--password P] < rows.tsv\n"
                 "       dictdb dump FILE [TABLE] [--password P]\n"
                 "       dictdb check FILE [--password P]\n"
                 "       dictdb locate FILE TABLE FIELD VALUE [-i] [-p] [--password P]\n");
    std::exit(2);
}

int typeByName(const QString &name)
{
    static const std::map<QString, int> types = {
        {QStringLiteral("string"), ftString},     {QStringLiteral("fixedchar"), ftFixedChar},
        {QStringLiteral("smallint"), ftSmallint}, {QStringLiteral("integer"), ftInteger},
        {QStringLiteral("word"), ftWord},         {QStringLiteral("boolean"), ftBoolean},
        {QStringLiteral("float"), ftFloat},       {QStringLiteral("currency"), ftCurrency},
        {QStringLiteral("date"), ftDate},         {QStringLiteral("time"), ftTime},
        {QStringLiteral("datetime"), ftDateTime}, {QStringLiteral("autoinc"), ftAutoInc},
        {QStringLiteral("largeint"), ftLargeint}, {QStringLiteral("blob"), ftBlob},
        {QStringLiteral("memo"), ftMemo},         {QStringLiteral("graphic"), ftGraphic},
        {QStringLiteral("fmtmemo"), ftFmtMemo},   {QStringLiteral("typedbinary"), ftTypedBinary},
        {QStringLiteral("orablob"), ftOraBlob},   {QStringLiteral("oraclob"), ftOraClob},
    };
    QString key = name.toLower();
    if (key.startsWith(QLatin1String("ft")))
        key = key.mid(2);
    const auto it = types.find(key);
    return it == types.end() ? -1 : it->second;
}

uint8_t indexOptions(const QString &text)
{
    uint8_t options = 0;
    for (const QString &o : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString k = o.trimmed().toLower();
        if (k == QLatin1String("primary"))
            options |= tiPrimary;
        else if (k == QLatin1String("unique"))
            options |= tiUnique;
        else if (k == QLatin1String("descending") || k == QLatin1String("desc"))
            options |= tiDescending;
        else if (k == QLatin1String("nocase") || k == QLatin1String("caseinsensitive")
                 || k == QLatin1String("ci"))
            options |= tiCaseInsensitive;
        else
            usage(QStringLiteral("unknown index option '%1'").arg(o));
    }
    return options;
}

QString unescape(const QString &s)
{
    QString r;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('\\') && i + 1 < s.size()) {
            const QChar c = s[++i];
            r += c == QLatin1Char('t')  ? QChar('\t')
                : c == QLatin1Char('n') ? QChar('\n')
                : c == QLatin1Char('r') ? QChar('\r')
                                        : c;
        } else {
            r += s[i];
        }
    }
    return r;
}

QString escape(const QString &s)
{
    QString r;
    for (QChar c : s) {
        if (c == QLatin1Char('\\'))
            r += QLatin1String("\\\\");
        else if (c == QLatin1Char('\t'))
            r += QLatin1String("\\t");
        else if (c == QLatin1Char('\n'))
            r += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            r += QLatin1String("\\r");
        else
            r += c;
    }
    return r;
}

QString fieldOutput(TDictField *f)
{
    // binary blob types are shown as hex so a dump imports back unchanged
    const int type = f->DataType();
    if (f->IsBlob() && type != ftMemo && type != ftFmtMemo && type != ftOraClob)
        return QStringLiteral("hex:") + QString::fromLatin1(f->AsBytes().toHex());
    return escape(f->AsString());
}

void openWithPassword(TDictDatabase &db, const QString &file, const QString &password)
{
    db.DatabaseName = file;
    db.KeepConnection = true;
    if (!password.isEmpty())
        db.SetPassword(password);
}

int cmdCreate(const QString &file, const QStringList &args)
{
    TDictCreateOptions options;
    QList<TDictTableSchema> tables;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                usage(QStringLiteral("%1 needs a value").arg(a));
            return args[++i];
        };
        if (a == QLatin1String("--table")) {
            tables << TDictTableSchema {value(), {}, {}};
        } else if (a == QLatin1String("--field")) {
            if (tables.isEmpty())
                usage(QStringLiteral("--field before --table"));
            const QStringList parts = value().split(QLatin1Char(':'));
            if (parts.size() < 2)
                usage(QStringLiteral("--field needs NAME:TYPE"));
            TDictFieldSchema f;
            f.Name = parts[0];
            f.FieldType = typeByName(parts[1]);
            if (f.FieldType < 0)
                usage(QStringLiteral("unknown field type '%1'").arg(parts[1]));
            for (int p = 2; p < parts.size(); ++p) {
                bool ok = false;
                const int size = parts[p].toInt(&ok);
                if (ok)
                    f.FieldSize = size;
                else if (parts[p].compare(QLatin1String("plain"), Qt::CaseInsensitive) == 0)
                    f.DataProcessMode = 1;
                else
                    usage(QStringLiteral("bad field part '%1'").arg(parts[p]));
            }
            if (isStringType(f.FieldType) && f.FieldSize <= 0)
                usage(QStringLiteral("string field '%1' needs a size").arg(f.Name));
            tables.last().Fields << f;
        } else if (a == QLatin1String("--index")) {
            if (tables.isEmpty())
                usage(QStringLiteral("--index before --table"));
            const QStringList parts = value().split(QLatin1Char(':'));
            if (parts.size() < 2 || parts.size() > 3)
                usage(QStringLiteral("--index needs NAME:FIELDS[:OPTIONS]"));
            tables.last().Indexes << TDictIndexSchema {
                parts[0], parts.size() == 3 ? indexOptions(parts[2]) : uint8_t(0),
                parts[1].split(QRegularExpression(QStringLiteral("[,;]")), Qt::SkipEmptyParts)};
        } else if (a == QLatin1String("--password")) {
            options.Password = value();
            options.Encrypted = true;
        } else if (a == QLatin1String("--compress")) {
            options.Compressed = true;
        } else if (a == QLatin1String("--cipher")) {
            options.EncryptAlgoName = value();
        } else if (a == QLatin1String("--mode")) {
            bool ok = false;
            options.EncryptMode = value().toInt(&ok);
            if (!ok)
                usage(QStringLiteral("--mode needs a number"));
        } else if (a == QLatin1String("--verify-blobs")) {
            options.VerifyBlobWrites = true;
        } else {
            usage(QStringLiteral("unknown option '%1'").arg(a));
        }
    }
    CreateDatabaseFile(file, options, tables);
    return 0;
}

int cmdImport(const QString &file, const QString &table, const QString &password)
{
    TDictDatabase db;
    openWithPassword(db, file, password);
    TDictTable t;
    t.SetDatabaseName(file);
    t.SetTableName(table);
    t.Open();
    QTextStream in(stdin);
    in.setEncoding(QStringConverter::Utf8);
    QList<int> columns;
    int count = 0;
    for (int lineNo = 1; !in.atEnd(); ++lineNo) {
        const QString line = in.readLine();
        if (line.isEmpty())
            continue;
        const QStringList cells = line.split(QLatin1Char('\t'));
        if (lineNo == 1) {
            bool header = true;
            QList<int> mapped;
            for (const QString &c : cells) {
                TDictField *f = t.FindField(c.trimmed());
                header = header && f;
                mapped << (f ? f->FieldNo() : -1);
            }
            if (header) {
                columns = mapped;
                continue;
            }
        }
        if (columns.isEmpty())
            for (int i = 0; i < t.FieldCount(); ++i)
                columns << i;
        t.Append();
        try {
            for (int i = 0; i < cells.size() && i < columns.size(); ++i) {
                if (cells[i].isEmpty())
                    continue;
                TDictField *f = t.Field(columns[i]);
                if (cells[i].startsWith(QLatin1String("hex:")))
                    f->SetAsBytes(QByteArray::fromHex(cells[i].mid(4).toLatin1()));
                else
                    f->SetAsString(unescape(cells[i]));
            }
            t.Post();
        } catch (const EDictDBError &e) {
            t.Cancel();
            throw EDictDBError(QStringLiteral("line %1: %2").arg(lineNo).arg(e.Message()));
        }
        ++count;
    }
    std::fprintf(stderr, "dictdb: %d records imported into %s\n", count, qPrintable(table));
    return 0;
}

void dumpTable(const QString &file, const QString &table)
{
    TDictTable t;
    t.SetDatabaseName(file);
    t.SetTableName(table);
    t.Open();
    QStringList names;
    for (int i = 0; i < t.FieldCount(); ++i)
        names << t.Field(i)->FieldName();
    out() << "# " << table << " (" << t.RecordCount() << " records)\n"
          << names.join(QLatin1Char('\t')) << "\n";
    for (t.First(); !t.Eof(); t.Next()) {
        QStringList row;
        for (int i = 0; i < t.FieldCount(); ++i)
            row << fieldOutput(t.Field(i));
        out() << row.join(QLatin1Char('\t')) << "\n";
    }
}

int cmdDump(const QString &file, const QString &table, const QString &password)
{
    TDictDatabase db;
    openWithPassword(db, file, password);
    db.Open();
    const QStringList tables = table.isEmpty() ? db.GetTableNames() : QStringList {table};
    for (const QString &name : tables)
        dumpTable(file, name);
    return 0;
}

int cmdCheck(const QString &file, const QString &password)
{
    const CheckReport report = CheckDatabase(file, mtDisk, password);
    out() << file << ": " << report.Tables << " tables, " << report.Records << " records, " << report.Blobs
          << " blob values\n";
    for (const QString &p : report.Problems)
        out() << "damaged: " << p << "\n";
    if (report.Problems.isEmpty())
        out() << "no damage found\n";
    return report.Problems.isEmpty() ? 0 : 1;
}

int cmdLocate(const QString &file, const QStringList &args, const QString &password)
{
    QStringList positional;
    unsigned options = 0;
    for (const QString &a : args) {
        if (a == QLatin1String("-i"))
            options |= loCaseInsensitive;
        else if (a == QLatin1String("-p"))
            options |= loPartialKey;
        else
            positional << a;
    }
    if (positional.size() != 3)
        usage(QStringLiteral("locate needs TABLE FIELD VALUE"));
    TDictDatabase db;
    openWithPassword(db, file, password);
    TDictTable t;
    t.SetDatabaseName(file);
    t.SetTableName(positional[0]);
    t.Open();
    if (!t.Locate(positional[1], positional[2], options)) {
        out() << "not found\n";
        return 1;
    }
    for (int i = 0; i < t.FieldCount(); ++i)
        out() << t.Field(i)->FieldName() << "=" << fieldOutput(t.Field(i)) << "\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.size() < 2)
        usage(QStringLiteral("missing command or file"));
    const QString command = args.takeFirst();
    const QString file = args.takeFirst();
    QString password;
    const int p = args.indexOf(QStringLiteral("--password"));
    if (command != QLatin1String("create") && p >= 0) {
        if (p + 1 >= args.size())
            usage(QStringLiteral("--password needs a value"));
        password = args[p + 1];
        args.remove(p, 2);
    }
    try {
        if (command == QLatin1String("create"))
            return cmdCreate(file, args);
        if (command == QLatin1String("import")) {
            if (args.size() != 1)
                usage(QStringLiteral("import needs TABLE"));
            return cmdImport(file, args[0], password);
        }
        if (command == QLatin1String("dump"))
            return cmdDump(file, args.value(0), password);
        if (command == QLatin1String("check"))
            return cmdCheck(file, password);
        if (command == QLatin1String("locate"))
            return cmdLocate(file, args, password);
        usage(QStringLiteral("unknown command '%1'").arg(command));
    } catch (const EDictDBAbort &) {
        std::fprintf(stderr, "dictdb: the database is encrypted; give --password\n");
        return 2;
    } catch (const EDictDBError &e) {
        out().flush();
        std::fprintf(stderr, "dictdb: %s\n", qPrintable(e.Message()));
        return 2;
    }
}
