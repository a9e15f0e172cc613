// Feeds arbitrary bytes to the process knowledge base: as a stored description to decode
// and as a process name (read as UTF-8, Latin-1 and UTF-16) to look up in a small database.
// Neither may crash; a name other than the stored ones must not be found.
#include "db/DictDBWriter.h"
#include "db/DictTable.h"
#include "procmon/OVProcDB.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

const QString StoredName = QStringLiteral("svchost.exe");

procmon::OVProcDB &knowledgeBase()
{
    static const QString file = [] {
        const QString path = QDir::tempPath() + QStringLiteral("/orvane-fuzz-procdb-%1.db").arg(getpid());
        TDictTableSchema t {QStringLiteral("Process"),
                            {{QStringLiteral("ProcessName"), ftString, 16},
                             {QStringLiteral("Description"), ftString, 64},
                             {QStringLiteral("Virus"), ftBoolean}},
                            {{QStringLiteral("ByName"),
                              uint8_t(tiPrimary | tiCaseInsensitive),
                              {QStringLiteral("ProcessName")}}}};
        dictdb::CreateDatabaseFile(path, {}, {t});
        TDictTable table;
        table.SetDatabaseName(path);
        table.SetTableName(t.Name);
        table.Open();
        table.AppendRecord({StoredName, QStringLiteral("8935AC60C042F82C6C25CD045A12D13F"), false});
        table.AppendRecord({QStringLiteral("?.exe"), QString(), true});
        std::atexit([] {
            QFile::remove(QDir::tempPath() + QStringLiteral("/orvane-fuzz-procdb-%1.db").arg(getpid()));
        });
        return path;
    }();
    static procmon::OVProcDB db(file);
    return db;
}

void lookup(const QString &name)
{
    QString description;
    bool risk = false;
    if (!knowledgeBase().Lookup(name, description, risk))
        return;
    qsizetype begin = 0, end = name.size();
    while (begin < end && name.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && name.at(end - 1).unicode() <= 0x20)
        --end;
    const QString key = name.mid(begin, end - begin);
    if (key.compare(StoredName, Qt::CaseInsensitive) != 0
        && key.compare(QLatin1String("?.exe"), Qt::CaseInsensitive) != 0)
        std::abort(); // found under a name that is not stored
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)procmon::DecryptDescription(QString::fromLatin1(bytes));
    (void)procmon::DecryptDescription(QString::fromUtf8(bytes));
    lookup(QString::fromUtf8(bytes));
    lookup(QString::fromLatin1(bytes));
    QString units(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(units.data(), bytes.constData(), size_t(units.size()) * 2);
    lookup(units);
    return 0;
}
