#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <optional>
#include <vector>

// The journal: what the program did to the machine, one record before each
// operation acts and one when it ends, appended to one file and flushed per
// record so that a crash loses nothing already written. An operation whose
// end never reached the file shows as interrupted afterwards.
//
// One line per record, fields separated by tabs, backslash escapes inside
// fields (\\ \t \n \r):
//   J1 S <id> <ms since 1970, UTC> <kind> <name> <version> <source> <command>
//   J1 E <id> <ms since 1970, UTC> <result> <exit status or empty> <error>
// A line without its line break (a write the crash cut) and any line that
// does not read as a record are skipped. Main thread only.
namespace journal {

enum class Kind { Download, Install, Uninstall, Terminate, RemoveEntry, CleanLeftovers };
enum class Result { Running, Succeeded, Failed, Stopped, Interrupted };

// The words the file stores ("download", "succeeded"...).
QString KindWord(Kind K);
QString ResultWord(Result R);
std::optional<Kind> KindFromWord(const QString &Word);
std::optional<Result> ResultFromWord(const QString &Word);
// The language keys of a kind's and a result's text, and the built-in English.
QString KindKey(Kind K);
QString ResultKey(Result R);

// What an operation acts on.
struct Subject
{
    QString Name;
    QString Version;
    QString Source; // where it came from: a URL, "package", "flatpak", a process id...
    QString Command; // what is run or done, as the user could repeat it
};

// One operation as the journal tells it.
struct Entry
{
    QString Id;
    Kind OperationKind = Kind::Download;
    Subject What;
    QDateTime Started; // UTC
    QDateTime Ended; // invalid while running or when interrupted
    Result Outcome = Result::Running;
    std::optional<int> ExitStatus;
    QString Error;
};

// The file written to (the program sets appfiles::JournalFile() at start).
// Until one is set nothing is written, so that code run outside the program
// (tests, tools) leaves no journal behind; ids are handed out all the same.
void SetFile(const QString &File);
QString File();

// Writes the start of an operation and returns its id for End. The record is
// on disk before this returns (when the file can be written at all; the
// operation goes ahead either way).
QString Begin(Kind K, const Subject &What);
// Writes the end of the operation Id began; ignored for an empty or ended id.
void End(const QString &Id, Result R, std::optional<int> ExitStatus = std::nullopt,
         const QString &Error = {});
// Begin and End at once, for operations that finish where they start.
inline QString Record(Kind K, const Subject &What, bool Ok, const QString &Error = {})
{
    const QString id = Begin(K, What);
    End(id, Ok ? Result::Succeeded : Result::Failed, std::nullopt, Error);
    return id;
}

// Ids begun by this process and not yet ended.
const QSet<QString> &OpenIds();

// The operations in Bytes, newest start first. A start without an end is
// Running when its id is in Open, Interrupted otherwise; an end without its
// start is ignored.
std::vector<Entry> Parse(const QByteArray &Bytes, const QSet<QString> &Open = {});
// The journal file's operations as Parse tells them (the last few MiB of a
// large file); empty when there is no file.
std::vector<Entry> Read();

// Keeps the file from growing without end: when it is larger than MaxBytes,
// it is replaced by its newest whole records of at most half that size.
void Trim(qint64 MaxBytes = 4 << 20);

// One record line, as Begin and End write them (for tests and the fuzz seeds).
QByteArray StartLine(const QString &Id, const QDateTime &At, Kind K, const Subject &What);
QByteArray EndLine(const QString &Id, const QDateTime &At, Result R, std::optional<int> ExitStatus,
                   const QString &Error);

} // namespace journal
