#include "procmon/OVProcDB.h"

#include "core/AppFiles.h"
#include "db/AESCipher.h"
#include "db/DictTable.h"
#include "platform/TextHelpers.h"

#include <QBuffer>
#include <exception>

namespace procmon {

namespace {

const QString TableName = QStringLiteral("Process");
const QString NameField = QStringLiteral("ProcessName");
const QString DescriptionField = QStringLiteral("Description");
const QString RiskField = QStringLiteral("Virus");

// Blanks and control characters at either end go, as the names are reported with them
// at times; inside the name they stay and simply match nothing.
QString trimName(const QString &name)
{
    qsizetype begin = 0, end = name.size();
    while (begin < end && name.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && name.at(end - 1).unicode() <= 0x20)
        --end;
    return name.mid(begin, end - begin);
}

QString lowerAsciiLetters(QString name)
{
    for (QChar &c : name)
        if (c.unicode() >= u'A' && c.unicode() <= u'Z')
            c = QChar(char16_t(c.unicode() + (u'a' - u'A')));
    return name;
}

} // namespace

QString ProcDBKeyText()
{
    return QStringLiteral("4m7r2k6w5t9");
}

QString ProcDBFileName()
{
    return QStringLiteral("ProcDB.db");
}

QString DecryptDescription(const QString &hexText, const QString &keyText)
{
    // Every character takes part: a trailing digit that does not fill a word still counts,
    // so a text with a stray digit at its end is refused rather than cut short.
    QByteArray cipher;
    cipher.reserve((hexText.size() + 15) / 16 * 8);
    for (qsizetype p = 0; p < hexText.size(); p += 16) {
        quint64 word = 0;
        const qsizetype end = std::min<qsizetype>(p + 16, hexText.size());
        for (qsizetype i = p; i < end; ++i) {
            const int d = textutil::hexDigit(hexText.at(i));
            if (d < 0)
                return {};
            word = word << 4 | quint64(d);
        }
        for (int b = 0; b < 8; ++b)
            cipher.append(char((word >> (8 * b)) & 0xFF));
    }

    QByteArray plain;
    try {
        QBuffer source(&cipher);
        QBuffer dest(&plain);
        source.open(QIODevice::ReadOnly);
        dest.open(QIODevice::WriteOnly);
        dictdb::DecryptStream(source, dest, 0, 0, keyText);
    } catch (const std::exception &) {
        return {};
    }
    const auto *units = reinterpret_cast<const uchar *>(plain.constData());
    QString text;
    text.reserve(plain.size() / 2);
    for (qsizetype i = 0; i + 1 < plain.size(); i += 2) {
        const char16_t u = char16_t(units[i] | units[i + 1] << 8);
        if (u == 0)
            break;
        text.append(QChar(u));
    }
    return text;
}

OVProcDB::OVProcDB(const QString &databaseName)
    : m_table(std::make_unique<TDictTable>())
{
    m_table->SetDatabaseName(databaseName);
}

OVProcDB::~OVProcDB() = default; // the table closes itself

QString OVProcDB::DatabaseName() const
{
    return m_table->DatabaseName();
}

bool OVProcDB::Lookup(const QString &processName, QString &description, bool &isRisk)
{
    const QString name = lowerAsciiLetters(trimName(processName));
    if (name.isEmpty())
        return false;

    QString foundDescription;
    bool foundRisk = false;
    bool found = false;
    try {
        m_table->Close();
        m_table->SetTableName(TableName);
        ++m_openCount;
        m_table->Open();
        if (m_table->Locate(NameField, name, loCaseInsensitive)) {
            // The key is cut to the field's size and converted to the file's 8-bit code
            // page on its way into the search, so a long name, or one with characters the
            // code page lacks, could land on a different record: only the same name counts.
            const QString stored = m_table->FieldByName(NameField)->AsString();
            if (stored.compare(name, Qt::CaseInsensitive) == 0) {
                foundDescription = DecryptDescription(m_table->FieldByName(DescriptionField)->AsString());
                foundRisk = m_table->FieldByName(RiskField)->AsBoolean();
                found = true;
            }
        }
    } catch (const std::exception &) {
        found = false;
    }
    try {
        m_table->Close();
    } catch (const std::exception &) {
        found = false;
    }
    if (!found)
        return false;
    description = foundDescription;
    isRisk = foundRisk;
    return true;
}

OVProcDB &ProcDB()
{
    static OVProcDB db(appfiles::ProcDBFile());
    return db;
}

namespace {
// The file's description, else the other one.
QString OwnDescription(const ProcessDescRequest &request, const FileDescriptionGetter &fileDescription)
{
    QString description;
    if (!request.ImagePath.isEmpty() && fileDescription)
        description = fileDescription(request.ImagePath);
    if (description.trimmed().isEmpty() && request.OtherDescription)
        description = request.OtherDescription();
    return description;
}
} // namespace

QString ChooseProcessDescription(const ProcessDescRequest &request, OVProcDB &knowledgeBase,
                                 const TextGetter &getText, const FileDescriptionGetter &fileDescription)
{
    if (request.LCID == QLatin1String("2052")) {
        auto text = [&](const char *key, const char *fallback) {
            return getText ? getText(QLatin1String(key)) : QString::fromLatin1(fallback);
        };
        QString description;
        bool risk = false;
        if (knowledgeBase.Lookup(request.ProcessName, description, risk))
            return risk ? text("String.ProcessDesc.Risk", "(Risk)") + description : description;
        // Most programs of a Linux desktop have no record; what they say of themselves beats "unknown".
        const QString own = OwnDescription(request, fileDescription);
        return own.isEmpty() ? text("String.ProcessDesc.Unknown", "(Unknown)") : own;
    }
    return OwnDescription(request, fileDescription);
}

} // namespace procmon
