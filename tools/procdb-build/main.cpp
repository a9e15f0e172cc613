// procdb-build: makes the process knowledge base file from its readable source.
//   procdb-build SOURCE OUTPUT
// SOURCE is UTF-8 text, one process a line: name, risk flag (0 or 1) and description,
// separated by tabs. Blank lines and lines starting with '#' are skipped; the first other
// line names the columns. Names are lower case, printable ASCII, each once. The
// descriptions are enciphered the way the program deciphers them. OUTPUT is replaced only
// when the whole file was written. Exit status: 0 done, 1 bad source, 2 bad usage or error.
#include "db/AESCipher.h"
#include "db/DictDBWriter.h"
#include "db/DictTable.h"
#include "procmon/OVProcDB.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <QStringList>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>

namespace {

constexpr int NameSize = 64;
// Room for every description of the source, in steps so small edits keep the layout.
constexpr int DescriptionStep = 256;

struct Entry
{
    QString Name;
    bool Risk = false;
    QString Description;
    int Line = 0;
};

struct SourceError
{
    QString Message;
};

[[noreturn]] void bad(int line, const QString &why)
{
    throw SourceError {QStringLiteral("line %1: %2").arg(line).arg(why)};
}

QList<Entry> readSource(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw SourceError {QStringLiteral("cannot read %1").arg(fileName)};
    const QByteArray bytes = file.readAll();
    QStringDecoder decode(QStringDecoder::Utf8);
    const QString text = decode(bytes);
    if (decode.hasError())
        throw SourceError {QStringLiteral("%1 is not UTF-8 text").arg(fileName)};

    QList<Entry> entries;
    QHash<QString, int> seen;
    bool header = true;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int lineNo = i + 1;
        const QStringList cells = line.split(QLatin1Char('\t'));
        if (cells.size() != 3)
            bad(lineNo, QStringLiteral("needs name, risk flag and description separated by tabs"));
        if (header) {
            header = false;
            continue;
        }
        Entry e {cells[0], false, cells[2], lineNo};
        if (e.Name.isEmpty() || e.Name.size() > NameSize || e.Name.front() == QLatin1Char(' ')
            || e.Name.back() == QLatin1Char(' '))
            bad(lineNo,
                QStringLiteral("name must have 1 to %1 characters and no outer blanks").arg(NameSize));
        for (QChar c : e.Name) {
            if (c.unicode() < 0x20 || c.unicode() > 0x7E)
                bad(lineNo, QStringLiteral("name '%1' must be printable ASCII").arg(e.Name));
            if (c.unicode() >= u'A' && c.unicode() <= u'Z')
                bad(lineNo, QStringLiteral("name '%1' must be lower case").arg(e.Name));
        }
        if (cells[1] == QLatin1String("1"))
            e.Risk = true;
        else if (cells[1] != QLatin1String("0"))
            bad(lineNo, QStringLiteral("risk flag must be 0 or 1"));
        for (QChar c : e.Description)
            if (c.unicode() < 0x20)
                bad(lineNo, QStringLiteral("description holds a control character"));
        if (seen.contains(e.Name))
            bad(lineNo, QStringLiteral("'%1' is already on line %2").arg(e.Name).arg(seen.value(e.Name)));
        seen.insert(e.Name, lineNo);
        entries << e;
    }
    if (entries.isEmpty())
        throw SourceError {QStringLiteral("%1 lists no process").arg(fileName)};
    return entries;
}

struct CtxDeleter
{
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};

// The stored form of a description: UTF-16LE, zero-filled to whole AES blocks, enciphered
// block by block, then written as 64-bit words of hexadecimal digits.
QString encipher(const QString &description)
{
    if (description.isEmpty())
        return {};
    QByteArray plain;
    for (QChar c : description) {
        plain.append(char(c.unicode() & 0xFF));
        plain.append(char(c.unicode() >> 8));
    }
    plain.append(QByteArray((16 - plain.size() % 16) % 16, '\0'));

    const QByteArray key = dictdb::AESKeyFromText(procmon::ProcDBKeyText(), 0);
    const EVP_CIPHER *cipher = key.size() == 16 ? EVP_aes_128_ecb()
        : key.size() == 24                      ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
    std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
    QByteArray sealed(plain.size(), '\0');
    int outLen = 0;
    if (!ctx
        || EVP_EncryptInit_ex(ctx.get(), cipher, nullptr,
                              reinterpret_cast<const unsigned char *>(key.constData()), nullptr)
            != 1
        || EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1
        || EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char *>(sealed.data()), &outLen,
                             reinterpret_cast<const unsigned char *>(plain.constData()), int(plain.size()))
            != 1
        || outLen != plain.size())
        throw SourceError {QStringLiteral("AES encryption failed")};

    QString hex;
    for (qsizetype w = 0; w < sealed.size(); w += 8) {
        quint64 word = 0;
        for (int b = 7; b >= 0; --b)
            word = word << 8 | uchar(sealed[w + b]);
        hex += QStringLiteral("%1").arg(word, 16, 16, QLatin1Char('0')).toUpper();
    }
    return hex;
}

void writeDatabase(const QString &fileName, const QList<Entry> &entries)
{
    QList<QString> stored;
    qsizetype longest = 0;
    for (const Entry &e : entries) {
        stored << encipher(e.Description);
        longest = std::max(longest, stored.last().size());
    }
    const int descriptionSize = int((longest / DescriptionStep + 1) * DescriptionStep);

    TDictTableSchema table;
    table.Name = QStringLiteral("Process");
    table.Fields = {
        {QStringLiteral("ProcessName"), ftString, NameSize},
        {QStringLiteral("Description"), ftString, descriptionSize},
        {QStringLiteral("Virus"), ftBoolean},
    };
    table.Indexes = {
        {QStringLiteral("ByProcessName"),
         uint8_t(tiPrimary | tiUnique | tiCaseInsensitive),
         {QStringLiteral("ProcessName")}},
    };
    dictdb::CreateDatabaseFile(fileName, TDictCreateOptions {}, {table});

    TDictTable t;
    t.SetDatabaseName(fileName);
    t.SetTableName(table.Name);
    t.Open();
    for (int i = 0; i < entries.size(); ++i) {
        t.Append();
        t.FieldByName(QStringLiteral("ProcessName"))->SetAsString(entries[i].Name);
        t.FieldByName(QStringLiteral("Description"))->SetAsString(stored[i]);
        t.FieldByName(QStringLiteral("Virus"))->SetAsBoolean(entries[i].Risk);
        t.Post();
    }
    t.Close();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: procdb-build SOURCE OUTPUT\n");
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const QString partial = output + QStringLiteral(".part");
    try {
        const QList<Entry> entries = readSource(source);
        QFile::remove(partial);
        writeDatabase(partial, entries);
        std::filesystem::rename(QFile::encodeName(partial).toStdString(),
                                QFile::encodeName(output).toStdString());
        int risky = 0;
        for (const Entry &e : entries)
            risky += e.Risk ? 1 : 0;
        std::printf("procdb-build: %lld processes (%d flagged) written to %s\n", qlonglong(entries.size()),
                    risky, qPrintable(output));
        return 0;
    } catch (const SourceError &e) {
        QFile::remove(partial);
        std::fprintf(stderr, "procdb-build: %s: %s\n", qPrintable(source), qPrintable(e.Message));
        return 1;
    } catch (const std::exception &e) {
        QFile::remove(partial);
        std::fprintf(stderr, "procdb-build: %s\n", e.what());
        return 2;
    }
}
