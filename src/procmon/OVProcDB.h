#pragma once
// The process knowledge base: for a process file name, a description and a risk flag
// read from the database file shipped beside the executable. Main thread only.

#include <QString>
#include <functional>
#include <memory>

class TDictTable;

namespace procmon {

// The key text the stored descriptions are enciphered with.
QString ProcDBKeyText();
// The database file name of the knowledge base, relative to the application folder.
QString ProcDBFileName();

// Decodes a stored description: hexadecimal text, 16 digits per 64-bit word, each word
// written least significant byte first, the bytes AES (ECB) cipher text of UTF-16LE plain
// text that ends at its first zero character. Empty on any failure.
QString DecryptDescription(const QString &hexText, const QString &keyText = ProcDBKeyText());

// Name lookups in one knowledge base file. The table is opened and closed for every
// lookup, so the file may be replaced, removed or damaged while the program runs.
class OVProcDB
{
public:
    explicit OVProcDB(const QString &databaseName);
    ~OVProcDB();
    OVProcDB(const OVProcDB &) = delete;
    OVProcDB &operator=(const OVProcDB &) = delete;

    QString DatabaseName() const;

    // True when the knowledge base has a record for the name (surrounding blanks and the
    // case of A to Z do not matter); then both outputs are set. False leaves them alone;
    // a missing or damaged file is "not found".
    bool Lookup(const QString &processName, QString &description, bool &isRisk);

    // How many times a lookup has opened (or tried to open) the file.
    int OpenCount() const { return m_openCount; }

private:
    std::unique_ptr<TDictTable> m_table;
    int m_openCount = 0;
};

// The program's knowledge base: <app>ProcDB.db, created on first use and kept for the run.
OVProcDB &ProcDB();

// What the description column shows for a process.
struct ProcessDescRequest
{
    // LCID of the current language; empty when there is no current language.
    QString LCID;
    // The name as the process list reports it, for example "svchost.exe".
    QString ProcessName;
    // The executable's full path; may be empty.
    QString ImagePath;
    // What else says what runs (the application the process belongs to, its
    // desktop entry, this program itself): asked where neither the knowledge
    // base nor the file has a description. May be empty.
    std::function<QString()> OtherDescription = {};
};

// Texts of the language component ("String.ProcessDesc.Risk", "String.ProcessDesc.Unknown").
using TextGetter = std::function<QString(const QString &key)>;
// The file's "FileDescription" version string; empty when the file has none or cannot be read.
using FileDescriptionGetter = std::function<QString(const QString &imagePath)>;

// Under the Simplified Chinese language (LCID "2052") the knowledge base's description,
// after the risk mark when the name is flagged; without a record the file's own
// description, then the other description, and the unknown mark only when neither
// says anything. Under any other language (or none) the executable's own file
// description, else the other one, and the knowledge base is not touched.
QString ChooseProcessDescription(const ProcessDescRequest &request, OVProcDB &knowledgeBase,
                                 const TextGetter &getText, const FileDescriptionGetter &fileDescription);

} // namespace procmon
