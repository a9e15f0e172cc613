#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>
#include <optional>

// The compiled help of every language: a CHM file whose directory lists every
// page of the sources. The directory is read as the format lays it out: the
// "ITSF" header points at the "ITSP" directory header, whose listing chunks
// ("PMGL") hold one entry per stored file.
namespace {

quint64 le(const QByteArray &b, qsizetype at, int bytes)
{
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | quint8(b.at(at + i));
    return v;
}

// Variable-length number, seven bits a byte, most significant first.
std::optional<quint64> encint(const QByteArray &b, qsizetype &at, qsizetype end)
{
    quint64 v = 0;
    for (int n = 0; n < 9 && at < end; ++n) {
        const quint8 c = quint8(b.at(at++));
        v = (v << 7) | (c & 0x7F);
        if (!(c & 0x80))
            return v;
    }
    return std::nullopt;
}

struct ChmDirectory
{
    quint32 lcid = 0;
    QStringList names;
    QString error;
};

ChmDirectory readDirectory(const QByteArray &chm)
{
    ChmDirectory d;
    if (chm.size() < 0x58 || !chm.startsWith("ITSF")) {
        d.error = "no ITSF header";
        return d;
    }
    d.lcid = quint32(le(chm, 0x14, 4));
    const quint64 dirAt = le(chm, 0x48, 8);
    if (dirAt + 0x54 > quint64(chm.size()) || chm.mid(qsizetype(dirAt), 4) != "ITSP") {
        d.error = "no ITSP directory header";
        return d;
    }
    const auto at = qsizetype(dirAt);
    const quint32 headerLength = quint32(le(chm, at + 0x08, 4));
    const quint32 chunkSize = quint32(le(chm, at + 0x10, 4));
    const auto first = qint32(le(chm, at + 0x20, 4));
    const quint32 chunks = quint32(le(chm, at + 0x2C, 4));
    if (chunkSize < 0x20 || first < 0) {
        d.error = "bad directory header";
        return d;
    }
    qint32 chunk = first;
    for (quint32 visited = 0; chunk >= 0 && visited < chunks; ++visited) {
        const qsizetype c = at + headerLength + qsizetype(chunk) * chunkSize;
        if (c + chunkSize > chm.size() || chm.mid(c, 4) != "PMGL") {
            d.error = "bad listing chunk";
            return d;
        }
        const quint32 freeSpace = quint32(le(chm, c + 4, 4));
        const qsizetype end = c + chunkSize - freeSpace;
        qsizetype p = c + 0x14;
        while (p < end) {
            const auto length = encint(chm, p, end);
            if (!length || p + qsizetype(*length) > end) {
                d.error = "bad entry";
                return d;
            }
            d.names << QString::fromUtf8(chm.mid(p, qsizetype(*length)));
            p += qsizetype(*length);
            for (int field = 0; field < 3; ++field) // section, offset, length
                if (!encint(chm, p, end)) {
                    d.error = "bad entry";
                    return d;
                }
        }
        chunk = qint32(le(chm, c + 0x10, 4)); // the next listing chunk, -1 after the last
    }
    return d;
}

} // namespace

TEST(HelpFile, EveryLanguageHasACompiledHelpHoldingAllItsPages)
{
    const QDir sources(QStringLiteral(ORVANE_SOURCE_DIR "/data/help"));
    const QStringList languages = sources.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_TRUE(languages.contains("1033"));
    ASSERT_TRUE(languages.contains("2052"));
    for (const QString &lcid : languages) {
        SCOPED_TRACE(lcid.toStdString());
        QFile file(QStringLiteral(ORVANE_STAGE_DIR "/Langs/") + lcid + "/Help.chm");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        const ChmDirectory d = readDirectory(file.readAll());
        ASSERT_TRUE(d.error.isEmpty()) << d.error.toStdString();
        EXPECT_EQ(d.lcid, lcid.toUInt()); // the project's Language
        const QSet<QString> stored(d.names.begin(), d.names.end());
        QStringList wanted = QDir(sources.filePath(lcid)).entryList({"*.html"}, QDir::Files);
        ASSERT_GE(wanted.size(), 8);
        wanted << "help.css"
               << "Help.hhc"
               << "Help.hhk";
        for (const QString &page : wanted)
            EXPECT_TRUE(stored.contains("/" + page)) << page.toStdString();
    }
}
