#include "platform/FileVersion.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

void put16(QByteArray &b, qsizetype at, quint16 v)
{
    qToLittleEndian(v, b.data() + at);
}
void put32(QByteArray &b, qsizetype at, quint32 v)
{
    qToLittleEndian(v, b.data() + at);
}
void pad4(QByteArray &b)
{
    while (b.size() % 4)
        b.append('\0');
}

// One node of a version resource: header, key, value, children.
QByteArray block(const QString &key, const QByteArray &value, bool text,
                 const QList<QByteArray> &children = {})
{
    QByteArray b(6, '\0');
    for (QChar c : key)
        b.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    b.append(2, '\0');
    pad4(b);
    b += value;
    for (const QByteArray &child : children) {
        pad4(b);
        b += child;
    }
    put16(b, 0, quint16(b.size()));
    put16(b, 2, quint16(text ? value.size() / 2 : value.size()));
    put16(b, 4, text ? 1 : 0);
    return b;
}

QByteArray utf16z(const QString &s)
{
    QByteArray b;
    for (QChar c : s)
        b.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return b.append(2, '\0');
}

QByteArray versionResource()
{
    QByteArray fixed(52, '\0');
    put32(fixed, 0, 0xFEEF04BDu);
    put32(fixed, 8, 0x00010000u); // 1.0
    put32(fixed, 12, 0x00000605u); // 0.1541
    put32(fixed, 16, 0x00020003u);
    put32(fixed, 20, 0x00040005u);
    const QByteArray strings
        = block(QStringLiteral("StringFileInfo"), {}, true,
                {block(QStringLiteral("040904B0"), {}, true,
                       {block(QStringLiteral("FileDescription"), utf16z(QStringLiteral("Test tool")), true),
                        block(QStringLiteral("CompanyName"), utf16z(QStringLiteral("Maker")), true)})});
    QByteArray translation(4, '\0');
    put16(translation, 0, 0x0409);
    put16(translation, 2, 0x04B0);
    const QByteArray vars = block(QStringLiteral("VarFileInfo"), {}, true,
                                  {block(QStringLiteral("Translation"), translation, false)});
    return block(QStringLiteral("VS_VERSION_INFO"), fixed, false, {strings, vars});
}

// A minimal PE32 image: headers, one .rsrc section holding
// RT_VERSION / 1 / 0x409 -> the version resource.
QByteArray peImage()
{
    constexpr quint32 kRva = 0x1000;
    QByteArray rsrc(0x58, '\0');
    put16(rsrc, 0x0E, 1);
    put32(rsrc, 0x10, 16);
    put32(rsrc, 0x14, 0x80000000u | 0x18);
    put16(rsrc, 0x18 + 0x0E, 1);
    put32(rsrc, 0x28, 1);
    put32(rsrc, 0x2C, 0x80000000u | 0x30);
    put16(rsrc, 0x30 + 0x0E, 1);
    put32(rsrc, 0x40, 0x409);
    put32(rsrc, 0x44, 0x48);
    const QByteArray ver = versionResource();
    put32(rsrc, 0x48, kRva + 0x58);
    put32(rsrc, 0x4C, quint32(ver.size()));
    rsrc += ver;

    QByteArray pe(0x200, '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    put32(pe, 0x3C, 0x40);
    pe.replace(0x40, 4, QByteArray("PE\0\0", 4));
    put16(pe, 0x44, 0x14C);
    put16(pe, 0x46, 1); // sections
    put16(pe, 0x54, 224); // optional header size
    const qsizetype opt = 0x58;
    put16(pe, opt, 0x10B);
    put32(pe, opt + 92, 16);
    put32(pe, opt + 96 + 16, kRva);
    put32(pe, opt + 96 + 20, quint32(rsrc.size()));
    const qsizetype sec = opt + 224;
    pe.replace(sec, 5, ".rsrc");
    put32(pe, sec + 8, quint32(rsrc.size()));
    put32(pe, sec + 12, kRva);
    put32(pe, sec + 16, quint32(rsrc.size()));
    put32(pe, sec + 20, 0x200);
    return pe + rsrc;
}

} // namespace

TEST(FileVersion, ReadsTheVersionResourceOfAPeFile)
{
    const auto info = platform::readPeVersionInfo(platform::BufferByteSource(peImage()));
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->hasFixedInfo);
    EXPECT_EQ(platform::formatVersion(info->fileVersionMS, info->fileVersionLS), "1.0.0.1541");
    EXPECT_EQ(platform::formatVersion(info->productVersionMS, info->productVersionLS), "2.3.4.5");
    ASSERT_EQ(info->stringTables.size(), 1);
    EXPECT_EQ(info->stringTables[0].first, "040904B0");
    const QList<QPair<QString, QString>> expected {{"FileDescription", "Test tool"},
                                                   {"CompanyName", "Maker"}};
    EXPECT_EQ(info->stringTables[0].second, expected);
    EXPECT_EQ(info->translations, QList<quint32> {0x040904B0u});

    QTemporaryDir dir;
    const QString path = dir.filePath("tool.exe");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(peImage());
    f.close();
    const auto fromFile = platform::readFileVersionInfo(path);
    ASSERT_TRUE(fromFile.has_value());
    EXPECT_EQ(fromFile->fileVersionLS, 0x605u);
}

TEST(FileVersion, DamagedFilesGiveNothingAndNeverCrash)
{
    const QByteArray good = peImage();
    // Every truncation, and single corrupted bytes across the headers and the resource tree.
    for (qsizetype n = 0; n < good.size(); n += 3)
        platform::readPeVersionInfo(platform::BufferByteSource(good.left(n)));
    EXPECT_FALSE(platform::readPeVersionInfo(platform::BufferByteSource(good.left(0x260))).has_value());
    for (qsizetype i = 0; i < good.size(); ++i) {
        for (char v : {'\x00', '\xFF', '\x7F'}) {
            QByteArray bad = good;
            bad[i] = v;
            platform::readPeVersionInfo(platform::BufferByteSource(bad));
        }
    }
    EXPECT_FALSE(platform::readPeVersionInfo(platform::BufferByteSource("MZ")).has_value());
    EXPECT_FALSE(platform::readFileVersionInfo("/nonexistent/file.exe").has_value());
}

TEST(FileVersion, ElfWithoutOurNoteHasNoVersion)
{
    // The test program is built without the version note the executable carries.
    EXPECT_FALSE(platform::readFileVersionInfo("/proc/self/exe").has_value());
    EXPECT_FALSE(platform::readFileVersionInfo("/bin/sh").has_value());
}
