#include "core/Sha256Digest.h"

#include <QFile>
#include <memory>
#include <openssl/evp.h>

namespace core {

QString NormalisedSha256(QStringView Text)
{
    if (Text.size() != Sha256TextLength)
        return {};
    QString out;
    out.reserve(Sha256TextLength);
    for (const QChar c : Text) {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            out += c;
        else if (u >= u'a' && u <= u'f')
            out += c;
        else if (u >= u'A' && u <= u'F')
            out += QChar(u - u'A' + u'a');
        else
            return {};
    }
    return out;
}

std::optional<QString> FileSha256(const QString &Path, const std::atomic<bool> *Cancel)
{
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // libcrypto's digest uses the processor's SHA instructions where there are
    // any: about twice the rate of a portable implementation, which matters
    // for installers of hundreds of megabytes.
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    constexpr qint64 kPiece = 256 * 1024;
    QByteArray buffer(kPiece, Qt::Uninitialized);
    for (;;) {
        if (Cancel && Cancel->load())
            return std::nullopt;
        const qint64 n = file.read(buffer.data(), kPiece);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        if (EVP_DigestUpdate(ctx.get(), buffer.constData(), size_t(n)) != 1)
            return std::nullopt;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
        return std::nullopt;
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

} // namespace core
