#include "db/AESCipher.h"

#include <memory>
#include <openssl/evp.h>

namespace dictdb {

namespace {

constexpr int Block = 16;

struct CtxDeleter
{
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};

} // namespace

QByteArray AESKeyFromText(const QString &KeyText, int KeySize)
{
    const qsizetype textBytes = KeyText.size() * 2;
    if (KeySize == 0)
        KeySize = textBytes <= 16 ? 16 : textBytes <= 24 ? 24 : 32;
    QByteArray key(KeySize, '\0');
    const qsizetype n = qMin<qsizetype>(textBytes, KeySize);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = KeyText.at(i / 2).unicode();
        key[i] = char(i % 2 == 0 ? (u & 0xFF) : (u >> 8));
    }
    return key;
}

void DecryptStream(QIODevice &Source, QIODevice &Dest, int KeySize, qint64 Count, const QString &KeyText)
{
    if (KeySize != 0 && KeySize != 16 && KeySize != 24 && KeySize != 32)
        return;
    if (Count == 0)
        Count = Source.size();
    Source.seek(0);
    const QByteArray key = AESKeyFromText(KeyText, KeySize);

    qint64 n = qMin(Count, Source.size() - Source.pos());
    if (n <= 0)
        return;
    if (n % Block != 0)
        throw EAESError(QStringLiteral("Invalid buffer size for decryption"));

    const EVP_CIPHER *cipher = key.size() == 16 ? EVP_aes_128_ecb()
        : key.size() == 24                      ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
    std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx
        || EVP_DecryptInit_ex(ctx.get(), cipher, nullptr,
                              reinterpret_cast<const unsigned char *>(key.constData()), nullptr)
            != 1)
        throw EAESError(QStringLiteral("AES initialisation failed"));
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);

    char in[Block];
    unsigned char out[Block * 2];
    while (n >= Block) {
        if (Source.read(in, Block) != Block)
            throw EStreamError(QStringLiteral("Stream read error"));
        int outLen = 0;
        if (EVP_DecryptUpdate(ctx.get(), out, &outLen, reinterpret_cast<const unsigned char *>(in), Block)
                != 1
            || outLen != Block)
            throw EAESError(QStringLiteral("AES block decryption failed"));
        if (Dest.write(reinterpret_cast<const char *>(out), Block) != Block)
            throw EStreamError(QStringLiteral("Stream write error"));
        n -= Block;
    }
}

} // namespace dictdb
