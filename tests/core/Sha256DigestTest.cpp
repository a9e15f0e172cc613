#include "core/Sha256Digest.h"

#include "support/Files.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

TEST(Sha256Digest, OnlySixtyFourHexadecimalDigitsAreADigest)
{
    const QString lower = QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const struct
    {
        QString text;
        QString normal;
    } cases[] = {
        {lower, lower},
        {lower.toUpper(), lower},
        {QString(), QString()},
        {lower.left(63), QString()},
        {lower + "0", QString()},
        {" " + lower.left(63), QString()},
        {lower.left(63) + "g", QString()},
        {lower.left(63) + QChar(0xFF10), QString()}, // a full-width digit
        {QString(64, u'-'), QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(core::NormalisedSha256(c.text), c.normal) << c.text.toStdString();
}

TEST(Sha256Digest, FilesAreHashedPieceByPiece)
{
    testsupport::ScratchDir dir;
    EXPECT_EQ(core::FileSha256(dir.file("abc", "abc")),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(core::FileSha256(dir.file("empty", "")),
              QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    // Several pieces, the last one short.
    QByteArray big(3 * 256 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) % 251);
    EXPECT_EQ(core::FileSha256(dir.file("big", big)),
              QString::fromLatin1(QCryptographicHash::hash(big, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(core::FileSha256(dir.path("missing")), std::nullopt);
    EXPECT_EQ(core::FileSha256(dir.path()), std::nullopt); // a folder
    const std::atomic<bool> cancelled {true};
    EXPECT_EQ(core::FileSha256(dir.path("big"), &cancelled), std::nullopt);
}

} // namespace
