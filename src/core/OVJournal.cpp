#include "core/OVJournal.h"

#include "platform/FileIO.h"

#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <algorithm>

namespace journal {

namespace {

struct KindInfo
{
    Kind kind;
    const char *word;
    const char *key;
};
constexpr KindInfo kKinds[] = {
    {Kind::Download, "download", "Download"},
    {Kind::Install, "install", "Install"},
    {Kind::Uninstall, "uninstall", "Uninstall"},
    {Kind::Terminate, "terminate", "Terminate"},
    {Kind::RemoveEntry, "remove-entry", "RemoveEntry"},
    {Kind::CleanLeftovers, "clean-leftovers", "CleanLeftovers"},
};

struct ResultInfo
{
    Result result;
    const char *word;
    const char *key;
};
constexpr ResultInfo kResults[] = {
    {Result::Running, "running", "Running"},
    {Result::Succeeded, "succeeded", "Succeeded"},
    {Result::Failed, "failed", "Failed"},
    {Result::Stopped, "stopped", "Stopped"},
    {Result::Interrupted, "interrupted", "Interrupted"},
};

// A hostile or runaway text must not make one record huge.
constexpr qsizetype kMaxField = 8192;
// Reading looks at no more than this much of the file's end.
constexpr qint64 kMaxRead = 8 << 20;

QString g_file;
QSet<QString> g_open;

// At most kMaxField code units, never half a surrogate pair.
QString capped(const QString &text)
{
    if (text.size() <= kMaxField)
        return text;
    QString cut = text.left(kMaxField);
    if (cut.back().isHighSurrogate())
        cut.chop(1);
    return cut;
}

QByteArray escape(const QString &text)
{
    const QByteArray utf8 = capped(text).toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<QString> unescape(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= field.size())
            return std::nullopt;
        switch (field.at(i)) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return capped(QString::fromUtf8(out));
}

std::optional<QDateTime> timeFrom(const QByteArray &field)
{
    bool ok = false;
    const qint64 ms = field.toLongLong(&ok);
    // Years 1970 to 9999: anything else is no time this program wrote.
    if (!ok || ms < 0 || ms > 253402300799999LL)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QByteArray timeText(const QDateTime &at)
{
    return QByteArray::number(at.toMSecsSinceEpoch());
}

QString newId()
{
    return QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0');
}

void append(const QByteArray &line)
{
    const QString file = File();
    if (file.isEmpty())
        return;
    platform::makeDirectories(QFileInfo(file).absolutePath());
    // After a record the crash cut, a new one starts on a line of its own
    // rather than being read as the rest of the torn one.
    const QByteArray last = platform::readFileTail(file, 1);
    platform::appendDurably(file, last.isEmpty() || last == "\n" ? line : '\n' + line);
}

} // namespace

QString KindWord(Kind K)
{
    for (const KindInfo &k : kKinds)
        if (k.kind == K)
            return QString::fromLatin1(k.word);
    return {};
}

QString ResultWord(Result R)
{
    for (const ResultInfo &r : kResults)
        if (r.result == R)
            return QString::fromLatin1(r.word);
    return {};
}

std::optional<Kind> KindFromWord(const QString &Word)
{
    for (const KindInfo &k : kKinds)
        if (Word == QLatin1String(k.word))
            return k.kind;
    return std::nullopt;
}

std::optional<Result> ResultFromWord(const QString &Word)
{
    for (const ResultInfo &r : kResults)
        if (Word == QLatin1String(r.word))
            return r.result;
    return std::nullopt;
}

QString KindKey(Kind K)
{
    for (const KindInfo &k : kKinds)
        if (k.kind == K)
            return QStringLiteral("String.JournalKind.") + QLatin1String(k.key);
    return {};
}

QString ResultKey(Result R)
{
    for (const ResultInfo &r : kResults)
        if (r.result == R)
            return QStringLiteral("String.JournalResult.") + QLatin1String(r.key);
    return {};
}

void SetFile(const QString &File)
{
    g_file = File;
}

QString File()
{
    return g_file;
}

QByteArray StartLine(const QString &Id, const QDateTime &At, Kind K, const Subject &What)
{
    QByteArrayList fields {"J1",
                           "S",
                           escape(Id),
                           timeText(At),
                           KindWord(K).toLatin1(),
                           escape(What.Name),
                           escape(What.Version),
                           escape(What.Source),
                           escape(What.Command)};
    return fields.join('\t') + '\n';
}

QByteArray EndLine(const QString &Id, const QDateTime &At, Result R, std::optional<int> ExitStatus,
                   const QString &Error)
{
    QByteArrayList fields {"J1",
                           "E",
                           escape(Id),
                           timeText(At),
                           ResultWord(R).toLatin1(),
                           ExitStatus ? QByteArray::number(*ExitStatus) : QByteArray(),
                           escape(Error)};
    return fields.join('\t') + '\n';
}

QString Begin(Kind K, const Subject &What)
{
    const QString id = newId();
    append(StartLine(id, QDateTime::currentDateTimeUtc(), K, What));
    g_open.insert(id);
    return id;
}

void End(const QString &Id, Result R, std::optional<int> ExitStatus, const QString &Error)
{
    // Once only: a second end (a stop reported after a failure) would tell another story.
    if (Id.isEmpty() || !g_open.remove(Id))
        return;
    append(EndLine(Id, QDateTime::currentDateTimeUtc(), R, ExitStatus, Error));
}

const QSet<QString> &OpenIds()
{
    return g_open;
}

std::vector<Entry> Parse(const QByteArray &Bytes, const QSet<QString> &Open)
{
    std::vector<Entry> entries;
    QHash<QString, size_t> byId;
    qsizetype from = 0;
    for (;;) {
        const qsizetype lineEnd = Bytes.indexOf('\n', from);
        if (lineEnd < 0)
            break; // what follows the last line break is a record the crash cut
        const QByteArray line = Bytes.mid(from, lineEnd - from);
        from = lineEnd + 1;
        const QByteArrayList f = line.split('\t');
        if (f.size() < 4 || f.at(0) != "J1")
            continue;
        const std::optional<QString> id = unescape(f.at(2));
        const std::optional<QDateTime> at = timeFrom(f.at(3));
        if (!id || id->isEmpty() || !at)
            continue;
        if (f.at(1) == "S" && f.size() == 9) {
            const std::optional<Kind> kind = KindFromWord(QString::fromLatin1(f.at(4)));
            const std::optional<QString> name = unescape(f.at(5));
            const std::optional<QString> version = unescape(f.at(6));
            const std::optional<QString> source = unescape(f.at(7));
            const std::optional<QString> command = unescape(f.at(8));
            if (!kind || !name || !version || !source || !command || byId.contains(*id))
                continue;
            Entry e;
            e.Id = *id;
            e.OperationKind = *kind;
            e.What = {*name, *version, *source, *command};
            e.Started = *at;
            byId.insert(e.Id, entries.size());
            entries.push_back(std::move(e));
        } else if (f.at(1) == "E" && f.size() == 7) {
            const auto it = byId.constFind(*id);
            if (it == byId.constEnd())
                continue;
            Entry &e = entries[*it];
            const std::optional<Result> result = ResultFromWord(QString::fromLatin1(f.at(4)));
            const std::optional<QString> error = unescape(f.at(6));
            if (!result || *result == Result::Running || !error || e.Ended.isValid())
                continue;
            std::optional<int> status;
            if (!f.at(5).isEmpty()) {
                bool ok = false;
                const int n = f.at(5).toInt(&ok);
                if (!ok)
                    continue;
                status = n;
            }
            e.Ended = *at;
            e.Outcome = *result;
            e.ExitStatus = status;
            e.Error = *error;
        }
    }
    for (Entry &e : entries)
        if (!e.Ended.isValid())
            e.Outcome = Open.contains(e.Id) ? Result::Running : Result::Interrupted;
    // Newest first; records of the same moment keep the file's order reversed.
    std::reverse(entries.begin(), entries.end());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry &a, const Entry &b) { return a.Started > b.Started; });
    return entries;
}

std::vector<Entry> Read()
{
    bool ok = false;
    QByteArray bytes = File().isEmpty() ? QByteArray() : platform::readFileTail(File(), kMaxRead, &ok);
    if (!ok)
        return {};
    if (QFileInfo(File()).size() > kMaxRead) {
        // The cut went through a record: start at the first whole one.
        const qsizetype first = bytes.indexOf('\n');
        bytes = first < 0 ? QByteArray() : bytes.mid(first + 1);
    }
    return Parse(bytes, g_open);
}

void Trim(qint64 MaxBytes)
{
    const QString file = File();
    if (file.isEmpty() || QFileInfo(file).size() <= MaxBytes)
        return;
    bool ok = false;
    QByteArray bytes = platform::readFileTail(file, MaxBytes / 2, &ok);
    if (!ok)
        return;
    const qsizetype first = bytes.indexOf('\n');
    const qsizetype last = bytes.lastIndexOf('\n');
    bytes = first < 0 || last <= first ? QByteArray() : bytes.mid(first + 1, last - first);
    QString error;
    platform::writeFileAtomically(file, bytes, error);
}

} // namespace journal
