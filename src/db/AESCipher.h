#pragma once

// AES decryption of a byte stream in electronic-code-book mode, the key given
// as a text. Used for the encrypted descriptions of the process knowledge base.

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <exception>

namespace dictdb {

// Base of the helper's errors.
class ECipherError : public std::exception
{
public:
    explicit ECipherError(const QString &message)
        : m_message(message)
        , m_utf8(message.toUtf8())
    { }

    const QString &Message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

class EAESError : public ECipherError
{
    using ECipherError::ECipherError;
};

class EStreamError : public ECipherError
{
    using ECipherError::ECipherError;
};

// The key bytes for a key text: its UTF-16LE bytes cut or zero-filled to the
// key size; KeySize 0 chooses 16, 24 or 32 from the text's length.
QByteArray AESKeyFromText(const QString &KeyText, int KeySize);

// Decrypts Count bytes (0: all) of Source from its start, block by block, and
// appends the result to Dest at its current position. KeySize is 16, 24, 32
// or 0 (chosen from KeyText); any other size decrypts nothing. Raises
// EAESError when the byte count is not a multiple of 16 and EStreamError on a
// short read or write; blocks already written stay in Dest.
void DecryptStream(QIODevice &Source, QIODevice &Dest, int KeySize, qint64 Count, const QString &KeyText);

} // namespace dictdb
