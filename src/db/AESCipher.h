#pragma once

// AES decryption of a byte stream in electronic-code-book mode, the key given
// as a text. Used for the encrypted descriptions of the process knowledge base.

#include "platform/MessageError.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace dictdb {

// Base of the helper's errors.
class ECipherError : public EMessageError
{
    using EMessageError::EMessageError;
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
