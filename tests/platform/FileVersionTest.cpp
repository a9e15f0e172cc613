#include "platform/FileVersion.h"

#include "support/PeTestImage.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using petest::peImage;

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
