#pragma once
// Small helpers shared by the database tests.

#include <QByteArray>
#include <QString>

inline QByteArray fromHex(const char *hex) { return QByteArray::fromHex(QByteArray(hex)); }
inline QString toHexUpper(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex().toUpper()); }
