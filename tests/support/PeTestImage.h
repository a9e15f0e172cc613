#pragma once

// Small Windows PE files with a version resource, built in memory for tests.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QtEndian>

namespace petest {

inline void put16(QByteArray &b, qsizetype at, quint16 v)
{
    qToLittleEndian(v, b.data() + at);
}
inline void put32(QByteArray &b, qsizetype at, quint32 v)
{
    qToLittleEndian(v, b.data() + at);
}
inline void pad4(QByteArray &b)
{
    while (b.size() % 4)
        b.append('\0');
}

// One node of a version resource: header, key, value, children.
inline QByteArray block(const QString &key, const QByteArray &value, bool text,
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

inline QByteArray utf16z(const QString &s)
{
    QByteArray b;
    for (QChar c : s)
        b.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return b.append(2, '\0');
}

using StringList = QList<QPair<QString, QString>>;

// VS_VERSION_INFO with file version 1.0.0.1541, product version 2.3.4.5, one
// string table under tableKey and one translation entry.
inline QByteArray versionResource(const QString &tableKey = QStringLiteral("040904B0"),
                                  const StringList &strings
                                  = {{QStringLiteral("FileDescription"), QStringLiteral("Test tool")},
                                     {QStringLiteral("CompanyName"), QStringLiteral("Maker")}},
                                  quint32 translation = 0x040904B0u)
{
    QByteArray fixed(52, '\0');
    put32(fixed, 0, 0xFEEF04BDu);
    put32(fixed, 8, 0x00010000u); // 1.0
    put32(fixed, 12, 0x00000605u); // 0.1541
    put32(fixed, 16, 0x00020003u);
    put32(fixed, 20, 0x00040005u);
    QList<QByteArray> entries;
    for (const auto &s : strings)
        entries << block(s.first, utf16z(s.second), true);
    const QByteArray table
        = block(QStringLiteral("StringFileInfo"), {}, true, {block(tableKey, {}, true, entries)});
    QByteArray lang(4, '\0');
    put16(lang, 0, quint16(translation >> 16));
    put16(lang, 2, quint16(translation & 0xFFFF));
    const QByteArray vars
        = block(QStringLiteral("VarFileInfo"), {}, true, {block(QStringLiteral("Translation"), lang, false)});
    return block(QStringLiteral("VS_VERSION_INFO"), fixed, false, {table, vars});
}

// A minimal PE32 image: headers, one .rsrc section holding
// RT_VERSION / 1 / 0x409 -> the version resource.
inline QByteArray peImage(const QByteArray &ver = versionResource())
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

} // namespace petest
