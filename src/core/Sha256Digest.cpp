#include "core/Sha256Digest.h"

#include <QCryptographicHash>
#include <QFile>

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
    QCryptographicHash hash(QCryptographicHash::Sha256);
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
        hash.addData(QByteArrayView(buffer.constData(), n));
    }
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace core
