#include "platform/FileVersion.h"

#include <QFile>
#include <QtEndian>
#include <memory>

namespace platform {
namespace {

// Caps that keep a hostile header from making us read or loop without end.
constexpr quint32 kMaxSections = 4096;
constexpr quint32 kMaxDirEntries = 4096;
constexpr quint32 kMaxVersionBlock = 1u << 20;
constexpr int kMaxResourceDepth = 3;

class FileByteSource final : public ByteSource
{
public:
    explicit FileByteSource(const QString &fileName)
        : m_file(fileName)
    { }
    bool open() { return m_file.open(QIODevice::ReadOnly); }
    quint64 size() const override { return quint64(m_file.size()); }
    QByteArray read(quint64 offset, quint32 length) const override
    {
        if (offset >= size())
            return {};
        if (!m_file.seek(qint64(offset)))
            return {};
        return m_file.read(qint64(std::min<quint64>(length, size() - offset)));
    }

private:
    mutable QFile m_file;
};

bool has(const QByteArray &b, quint64 offset, quint64 length)
{
    return offset <= quint64(b.size()) && length <= quint64(b.size()) - offset;
}

quint16 le16(const QByteArray &b, quint64 off)
{
    return has(b, off, 2) ? qFromLittleEndian<quint16>(b.constData() + off) : 0;
}

quint32 le32(const QByteArray &b, quint64 off)
{
    return has(b, off, 4) ? qFromLittleEndian<quint32>(b.constData() + off) : 0;
}

qsizetype align4(qsizetype v)
{
    return (v + 3) & ~qsizetype(3);
}

// ---- PE ------------------------------------------------------------------

struct Section
{
    quint32 virtualAddress;
    quint32 virtualSize;
    quint32 rawSize;
    quint32 rawOffset;
};

class PeImage
{
public:
    explicit PeImage(const ByteSource &src)
        : m_src(src)
    { }

    bool load(quint32 *resourceRva)
    {
        const QByteArray dos = m_src.read(0, 64);
        if (dos.size() < 64 || !dos.startsWith("MZ"))
            return false;
        const quint32 peOffset = le32(dos, 0x3C);
        const QByteArray nt = m_src.read(peOffset, 24);
        if (nt.size() < 24 || !nt.startsWith(QByteArray("PE\0\0", 4)))
            return false;
        const quint32 sectionCount = std::min<quint32>(le16(nt, 6), kMaxSections);
        const quint16 optionalSize = le16(nt, 20);
        const QByteArray opt = m_src.read(quint64(peOffset) + 24, optionalSize);
        if (opt.size() < optionalSize || optionalSize < 2)
            return false;
        const quint16 magic = le16(opt, 0);
        const int dirBase = magic == 0x10B ? 96 : magic == 0x20B ? 112 : -1;
        if (dirBase < 0 || !has(opt, dirBase, 24) || le32(opt, dirBase - 4) < 3)
            return false;
        *resourceRva = le32(opt, dirBase + 16);
        if (*resourceRva == 0)
            return false;
        const QByteArray table = m_src.read(quint64(peOffset) + 24 + optionalSize, sectionCount * 40);
        for (quint32 i = 0; i < sectionCount && has(table, quint64(i) * 40, 40); ++i) {
            const quint64 o = quint64(i) * 40;
            m_sections.push_back(
                {le32(table, o + 12), le32(table, o + 8), le32(table, o + 16), le32(table, o + 20)});
        }
        return !m_sections.empty();
    }

    // Bytes at a relative virtual address, only from the raw data of one section.
    QByteArray readRva(quint32 rva, quint32 length) const
    {
        for (const Section &s : m_sections) {
            const quint64 span = std::max(s.virtualSize, s.rawSize);
            if (rva < s.virtualAddress || quint64(rva) >= quint64(s.virtualAddress) + span)
                continue;
            const quint64 delta = rva - s.virtualAddress;
            if (delta >= s.rawSize)
                return {};
            const quint64 available = s.rawSize - delta;
            return m_src.read(quint64(s.rawOffset) + delta, quint32(std::min<quint64>(length, available)));
        }
        return {};
    }

private:
    const ByteSource &m_src;
    std::vector<Section> m_sections;
};

struct DirEntry
{
    bool named;
    quint32 id;
    bool isDirectory;
    quint32 offset; // relative to the start of the resource data
};

std::vector<DirEntry> readResourceDirectory(const PeImage &pe, quint32 resourceRva, quint32 offset)
{
    std::vector<DirEntry> entries;
    const QByteArray head = pe.readRva(resourceRva + offset, 16);
    if (head.size() < 16)
        return entries;
    const quint32 count = std::min<quint32>(quint32(le16(head, 12)) + le16(head, 14), kMaxDirEntries);
    const QByteArray body = pe.readRva(resourceRva + offset + 16, count * 8);
    for (quint32 i = 0; i < count && has(body, quint64(i) * 8, 8); ++i) {
        const quint32 name = le32(body, quint64(i) * 8);
        const quint32 target = le32(body, quint64(i) * 8 + 4);
        entries.push_back({(name & 0x80000000u) != 0, name & 0x7FFFFFFFu, (target & 0x80000000u) != 0,
                           target & 0x7FFFFFFFu});
    }
    return entries;
}

// One node of the version tree: length, value length, type, key, then value and children.
struct Block
{
    qsizetype start = 0;
    qsizetype end = 0;
    quint16 valueLength = 0;
    quint16 type = 0;
    QString key;
    qsizetype valueStart = 0;
    qsizetype childrenStart = 0;
};

bool parseBlock(const QByteArray &b, qsizetype off, qsizetype limit, Block *out)
{
    if (off < 0 || off + 6 > limit)
        return false;
    const quint16 length = le16(b, off);
    if (length < 6)
        return false;
    out->start = off;
    out->end = std::min<qsizetype>(off + length, limit);
    out->valueLength = le16(b, off + 2);
    out->type = le16(b, off + 4);
    out->key.clear();
    qsizetype p = off + 6;
    while (p + 2 <= out->end) {
        const quint16 c = le16(b, p);
        p += 2;
        if (c == 0)
            break;
        out->key += QChar(c);
    }
    out->valueStart = align4(p);
    const qsizetype valueBytes = out->type == 1 ? qsizetype(out->valueLength) * 2 : out->valueLength;
    out->childrenStart = align4(out->valueStart + valueBytes);
    return true;
}

// Calls fn for each child block of parent.
template<typename Fn> void forEachChild(const QByteArray &b, const Block &parent, Fn fn)
{
    qsizetype off = parent.childrenStart;
    Block child;
    while (parseBlock(b, off, parent.end, &child)) {
        fn(child);
        off = align4(child.start + (child.end - child.start));
        if (off <= child.start)
            break;
    }
}

QString readText(const QByteArray &b, qsizetype from, qsizetype end)
{
    QString s;
    for (qsizetype p = from; p + 2 <= end; p += 2) {
        const quint16 c = le16(b, p);
        if (c == 0)
            break;
        s += QChar(c);
    }
    return s;
}

FileVersionInfo parseVersionResource(const QByteArray &b)
{
    FileVersionInfo info;
    Block root;
    if (!parseBlock(b, 0, b.size(), &root) || root.key != QLatin1String("VS_VERSION_INFO"))
        return info;
    if (root.valueLength >= 52 && has(b, root.valueStart, 52) && le32(b, root.valueStart) == 0xFEEF04BDu) {
        info.hasFixedInfo = true;
        info.fileVersionMS = le32(b, root.valueStart + 8);
        info.fileVersionLS = le32(b, root.valueStart + 12);
        info.productVersionMS = le32(b, root.valueStart + 16);
        info.productVersionLS = le32(b, root.valueStart + 20);
    }
    forEachChild(b, root, [&](const Block &child) {
        if (child.key == QLatin1String("StringFileInfo")) {
            forEachChild(b, child, [&](const Block &table) {
                QList<QPair<QString, QString>> strings;
                forEachChild(b, table, [&](const Block &str) {
                    strings.append({str.key, readText(b, str.valueStart, str.end)});
                });
                info.stringTables.append({table.key, strings});
            });
        } else if (child.key == QLatin1String("VarFileInfo")) {
            forEachChild(b, child, [&](const Block &var) {
                if (var.key != QLatin1String("Translation"))
                    return;
                const qsizetype end = std::min<qsizetype>(var.valueStart + var.valueLength, var.end);
                for (qsizetype p = var.valueStart; p + 4 <= end; p += 4)
                    info.translations.append((quint32(le16(b, p)) << 16) | le16(b, p + 2));
            });
        }
    });
    return info;
}

// ---- ELF -----------------------------------------------------------------

class ElfReader
{
public:
    ElfReader(const QByteArray &ident)
        : m_64(ident.at(4) == 2)
        , m_le(ident.at(5) == 1)
    { }
    bool is64() const { return m_64; }
    quint64 word(const QByteArray &b, quint64 off, int size) const
    {
        if (!has(b, off, quint64(size)))
            return 0;
        const char *p = b.constData() + off;
        switch (size) {
        case 2:
            return m_le ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p);
        case 4:
            return m_le ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p);
        default:
            return m_le ? qFromLittleEndian<quint64>(p) : qFromBigEndian<quint64>(p);
        }
    }

private:
    bool m_64;
    bool m_le;
};

std::optional<FileVersionInfo> parseVersionNotes(const ElfReader &elf, const QByteArray &notes)
{
    quint64 off = 0;
    while (has(notes, off, 12)) {
        const quint64 nameSize = elf.word(notes, off, 4);
        const quint64 descSize = elf.word(notes, off + 4, 4);
        const quint64 type = elf.word(notes, off + 8, 4);
        const quint64 nameOff = off + 12;
        const quint64 descOff = nameOff + ((nameSize + 3) & ~quint64(3));
        if (!has(notes, nameOff, nameSize) || !has(notes, descOff, descSize))
            break;
        const QByteArray name = notes.mid(qsizetype(nameOff), qsizetype(nameSize));
        if (type == kVersionNoteType && descSize >= 8
            && name == QByteArray(kVersionNoteName, sizeof kVersionNoteName)) {
            FileVersionInfo info;
            info.hasFixedInfo = true;
            info.fileVersionMS = info.productVersionMS = quint32(elf.word(notes, descOff, 4));
            info.fileVersionLS = info.productVersionLS = quint32(elf.word(notes, descOff + 4, 4));
            return info;
        }
        off = descOff + ((descSize + 3) & ~quint64(3));
    }
    return std::nullopt;
}

} // namespace

QByteArray BufferByteSource::read(quint64 offset, quint32 length) const
{
    if (offset >= quint64(m_data.size()))
        return {};
    return m_data.mid(qsizetype(offset),
                      qsizetype(std::min<quint64>(length, quint64(m_data.size()) - offset)));
}

std::optional<FileVersionInfo> readPeVersionInfo(const ByteSource &source)
{
    PeImage pe(source);
    quint32 resourceRva = 0;
    if (!pe.load(&resourceRva))
        return std::nullopt;
    // Type RT_VERSION (16), then the first name and the first language under it.
    DirEntry found {};
    bool ok = false;
    for (const DirEntry &e : readResourceDirectory(pe, resourceRva, 0)) {
        if (!e.named && e.id == 16 && e.isDirectory) {
            found = e;
            ok = true;
            break;
        }
    }
    for (int depth = 1; ok && found.isDirectory; ++depth) {
        const std::vector<DirEntry> next = readResourceDirectory(pe, resourceRva, found.offset);
        if (next.empty() || depth > kMaxResourceDepth) {
            ok = false;
            break;
        }
        found = next.front();
    }
    if (!ok)
        return std::nullopt;
    const QByteArray dataEntry = pe.readRva(resourceRva + found.offset, 16);
    if (dataEntry.size() < 16)
        return std::nullopt;
    const quint32 size = std::min(le32(dataEntry, 4), kMaxVersionBlock);
    const QByteArray block = pe.readRva(le32(dataEntry, 0), size);
    if (block.isEmpty())
        return std::nullopt;
    FileVersionInfo info = parseVersionResource(block);
    if (!info.hasFixedInfo && info.stringTables.isEmpty())
        return std::nullopt;
    return info;
}

namespace {

// The data of the first language of a resource directory entry (one level
// of names, one of languages), as the PE file stores it.
QByteArray resourceData(const PeImage &pe, quint32 resourceRva, DirEntry entry, quint32 cap)
{
    for (int depth = 0; entry.isDirectory; ++depth) {
        const std::vector<DirEntry> next = readResourceDirectory(pe, resourceRva, entry.offset);
        if (next.empty() || depth > kMaxResourceDepth)
            return {};
        entry = next.front();
    }
    const QByteArray dataEntry = pe.readRva(resourceRva + entry.offset, 16);
    if (dataEntry.size() < 16)
        return {};
    return pe.readRva(le32(dataEntry, 0), std::min(le32(dataEntry, 4), cap));
}

std::vector<DirEntry> resourcesOfType(const PeImage &pe, quint32 resourceRva, quint32 type)
{
    for (const DirEntry &e : readResourceDirectory(pe, resourceRva, 0))
        if (!e.named && e.id == type && e.isDirectory)
            return readResourceDirectory(pe, resourceRva, e.offset);
    return {};
}

void appendLe32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian<quint32>(v, b);
    out.append(b, 4);
}

constexpr quint32 kRtIcon = 3;
constexpr quint32 kRtGroupIcon = 14;
constexpr quint32 kMaxIconImage = 4u << 20;

} // namespace

QByteArray readPeIcon(const ByteSource &source, int index)
{
    PeImage pe(source);
    quint32 resourceRva = 0;
    if (!pe.load(&resourceRva))
        return {};
    const std::vector<DirEntry> groups = resourcesOfType(pe, resourceRva, kRtGroupIcon);
    const DirEntry *group = nullptr;
    if (index >= 0) {
        if (size_t(index) < groups.size())
            group = &groups[size_t(index)];
    } else {
        for (const DirEntry &g : groups)
            if (!g.named && qint64(g.id) == -qint64(index))
                group = &g;
    }
    if (!group)
        return {};
    // GRPICONDIR: reserved, type 1, count, then 14-byte entries ending in the RT_ICON id.
    const QByteArray dir = resourceData(pe, resourceRva, *group, 6 + 14 * 256);
    const quint16 count = le16(dir, 4);
    if (le16(dir, 2) != 1 || count == 0 || !has(dir, 6, quint64(count) * 14))
        return {};
    const std::vector<DirEntry> icons = resourcesOfType(pe, resourceRva, kRtIcon);
    QList<QPair<QByteArray, QByteArray>> images; // 12 header bytes (without offset), image
    for (quint16 i = 0; i < count; ++i) {
        const qsizetype at = 6 + qsizetype(i) * 14;
        const quint16 id = le16(dir, at + 12);
        for (const DirEntry &e : icons) {
            if (e.named || e.id != id)
                continue;
            const QByteArray image = resourceData(pe, resourceRva, e, kMaxIconImage);
            if (image.isEmpty())
                break;
            QByteArray head = dir.mid(at, 8);
            appendLe32(head, quint32(image.size()));
            images.append({head, image});
            break;
        }
    }
    if (images.isEmpty())
        return {};
    QByteArray out;
    const quint16 n = quint16(images.size());
    out.append("\0\0\1\0", 4);
    out.append(char(n & 0xFF));
    out.append(char(n >> 8));
    quint32 offset = 6 + 16u * n;
    for (const auto &img : images) {
        out += img.first;
        appendLe32(out, offset);
        offset += quint32(img.second.size());
    }
    for (const auto &img : images)
        out += img.second;
    return out;
}

QByteArray readPeIconFile(const QString &fileName, int index)
{
    FileByteSource source(fileName);
    if (!source.open())
        return {};
    return readPeIcon(source, index);
}

std::optional<FileVersionInfo> readElfVersionNote(const ByteSource &source)
{
    const QByteArray ident = source.read(0, 64);
    if (ident.size() < 52
        || !ident.startsWith("\x7F"
                             "ELF")
        || (ident.at(4) != 1 && ident.at(4) != 2) || (ident.at(5) != 1 && ident.at(5) != 2))
        return std::nullopt;
    const ElfReader elf(ident);
    const bool w = elf.is64();
    const quint64 shoff = elf.word(ident, w ? 0x28 : 0x20, w ? 8 : 4);
    const quint64 shentsize = elf.word(ident, w ? 0x3A : 0x2E, 2);
    const quint64 shnum = elf.word(ident, w ? 0x3C : 0x30, 2);
    const quint64 shstrndx = elf.word(ident, w ? 0x3E : 0x32, 2);
    if (shoff == 0 || shnum == 0 || shnum > kMaxSections || shstrndx >= shnum || shentsize < (w ? 64u : 40u)
        || shentsize > 256)
        return std::nullopt;
    const QByteArray headers = source.read(shoff, quint32(shnum * shentsize));
    auto field = [&](quint64 index, quint64 off64, quint64 off32, bool wide) {
        const quint64 base = index * shentsize;
        return elf.word(headers, base + (w ? off64 : off32), w && wide ? 8 : 4);
    };
    auto sectionBytes = [&](quint64 index, quint32 cap) -> QByteArray {
        const quint64 size = field(index, 32, 20, true);
        if (size > cap)
            return {};
        return source.read(field(index, 24, 16, true), quint32(size));
    };
    const QByteArray names = sectionBytes(shstrndx, 1u << 22);
    for (quint64 i = 0; i < shnum && has(headers, i * shentsize, shentsize); ++i) {
        const quint64 nameOff = field(i, 0, 0, false);
        if (nameOff >= quint64(names.size()))
            continue;
        const char *name = names.constData() + nameOff;
        if (qstrnlen(name, uint(quint64(names.size()) - nameOff)) == sizeof kVersionNoteSection - 1
            && qstrncmp(name, kVersionNoteSection, sizeof kVersionNoteSection - 1) == 0)
            return parseVersionNotes(elf, sectionBytes(i, 4096));
    }
    return std::nullopt;
}

std::optional<FileVersionInfo> readFileVersionInfo(const QString &fileName)
{
    FileByteSource source(fileName);
    if (!source.open())
        return std::nullopt;
    const QByteArray magic = source.read(0, 4);
    if (magic.startsWith("MZ"))
        return readPeVersionInfo(source);
    if (magic
        == "\x7F"
           "ELF")
        return readElfVersionNote(source);
    return std::nullopt;
}

QString formatVersion(quint32 ms, quint32 ls)
{
    return QStringLiteral("%1.%2.%3.%4").arg(ms >> 16).arg(ms & 0xFFFF).arg(ls >> 16).arg(ls & 0xFFFF);
}

} // namespace platform
