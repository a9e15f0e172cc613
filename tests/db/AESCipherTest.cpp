#include "db/AESCipher.h"

#include <QBuffer>
#include <gtest/gtest.h>

using dictdb::DecryptStream;

namespace {

// A key text whose UTF-16LE bytes are 00 01 02 ... (n bytes, n even).
QString countingKeyText(int bytes)
{
    QString text;
    for (int i = 0; i < bytes; i += 2)
        text += QChar(char16_t(i | ((i + 1) << 8)));
    return text;
}

QByteArray decrypt(const QByteArray &cipher, int keySize, const QString &keyText, qint64 count = 0)
{
    QByteArray source = cipher;
    QBuffer in(&source);
    in.open(QIODevice::ReadOnly);
    QByteArray out;
    QBuffer dest(&out);
    dest.open(QIODevice::WriteOnly);
    DecryptStream(in, dest, keySize, count, keyText);
    return out;
}

} // namespace

TEST(AESCipher, Fips197Vectors)
{
    const QByteArray plain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    struct Case
    {
        int keyBytes;
        const char *cipher;
    } cases[] = {
        {16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {32, "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const Case &c : cases) {
        const QString key = countingKeyText(c.keyBytes);
        const QByteArray cipher = QByteArray::fromHex(c.cipher);
        EXPECT_EQ(decrypt(cipher, c.keyBytes, key).toHex(), plain.toHex()) << c.keyBytes;
        EXPECT_EQ(decrypt(cipher, 0, key).toHex(), plain.toHex()) << "size chosen from " << c.keyBytes;
    }
}

TEST(AESCipher, KeyFromText)
{
    struct Case
    {
        QString text;
        int keySize;
        QByteArray key;
    } cases[] = {
        {"abcdefgh", 0, QByteArray("a\0b\0c\0d\0e\0f\0g\0h\0", 16)},
        {"abcdefghijk", 0, QByteArray("a\0b\0c\0d\0e\0f\0g\0h\0i\0j\0k\0\0\0", 24)},
        {"abcdefghijklmnopqrst", 0, QByteArray("a\0b\0c\0d\0e\0f\0g\0h\0i\0j\0k\0l\0m\0n\0o\0p\0", 32)},
        {"abcdefghijklm", 0, QByteArray("a\0b\0c\0d\0e\0f\0g\0h\0i\0j\0k\0l\0m\0\0\0\0\0\0\0", 32)},
        {"", 0, QByteArray(16, '\0')},
        {"abcdefghijklmnopqrst", 16, QByteArray("a\0b\0c\0d\0e\0f\0g\0h\0", 16)},
        {"ab", 32, QByteArray("a\0b\0", 4) + QByteArray(28, '\0')},
        {QString(QChar(0x20AC)), 16, QByteArray("\xAC\x20", 2) + QByteArray(14, '\0')},
    };
    for (const Case &c : cases)
        EXPECT_EQ(dictdb::AESKeyFromText(c.text, c.keySize).toHex(), c.key.toHex()) << c.text.toStdString();
}

TEST(AESCipher, BlocksAreIndependentAndCountsAreChecked)
{
    const QString key = countingKeyText(16);
    const QByteArray a = QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    const QByteArray b = QByteArray::fromHex("00000000000000000000000000000000");
    const QByteArray ab = decrypt(a + b, 0, key);
    const QByteArray ba = decrypt(b + a, 0, key);
    ASSERT_EQ(ab.size(), 32);
    EXPECT_EQ(ab.left(16), ba.mid(16));
    EXPECT_EQ(ab.mid(16), ba.left(16));

    EXPECT_EQ(decrypt(a + b, 0, key, 16), ab.left(16)); // Count limits the bytes
    EXPECT_EQ(decrypt(a + b, 0, key, 64), ab); // more than the source: what is there
    EXPECT_TRUE(decrypt(QByteArray(), 0, key).isEmpty());
    EXPECT_TRUE(decrypt(a, 20, key).isEmpty()); // an unknown key size decrypts nothing
    EXPECT_TRUE(decrypt(a, 0, key, -16).isEmpty());

    try {
        decrypt(QByteArray(20, 'x'), 0, key);
        FAIL() << "no error";
    } catch (const dictdb::EAESError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid buffer size for decryption"));
    }
    EXPECT_THROW(decrypt(a + b, 0, key, 24), dictdb::EAESError);
}

TEST(AESCipher, AppendsAtTheDestinationPositionAndReportsShortWrites)
{
    const QString key = countingKeyText(16);
    QByteArray source = QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QBuffer in(&source);
    in.open(QIODevice::ReadOnly);
    in.seek(10); // the source is read from its start regardless

    QByteArray out("head");
    QBuffer dest(&out);
    dest.open(QIODevice::ReadWrite);
    dest.seek(4);
    DecryptStream(in, dest, 16, 0, key);
    EXPECT_EQ(out.toHex(),
              (QByteArray("head") + QByteArray::fromHex("00112233445566778899aabbccddeeff")).toHex());

    QByteArray none;
    QBuffer readOnly(&none);
    readOnly.open(QIODevice::ReadOnly);
    try {
        DecryptStream(in, readOnly, 16, 0, key);
        FAIL() << "no error";
    } catch (const dictdb::EStreamError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Stream write error"));
    }
}
