#include "core/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// One pair of matching quotes around a value is not part of it.
QString unquoted(const QString &value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

} // namespace

// Hashes the case-folded code points, so names that compare equal without
// regard to case hash alike, without building a folded copy per look-up.
size_t IniFile::Caseless::hashOf(const QString &t, size_t seed)
{
    size_t h = seed ^ 0x9e3779b97f4a7c15ull;
    for (qsizetype i = 0; i < t.size(); ++i) {
        char32_t c = t.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < t.size() && t.at(i + 1).isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), t.at(++i).unicode());
        h = (h ^ QChar::toCaseFolded(c)) * 0x100000001b3ull;
    }
    return h;
}

IniFile::IniFile(const QString &fileName)
{
    load(fileName);
}

bool IniFile::load(const QString &fileName)
{
    m_fileName = fileName;
    m_preamble.clear();
    m_sections.clear();
    m_sectionIndex.clear();
    m_erased = 0;
    QFile f(fileName);
    m_existed = f.exists();
    if (!f.open(QIODevice::ReadOnly))
        return false;
    parse(f.readAll());
    return true;
}

void IniFile::parse(const QByteArray &bytes)
{
    m_preamble.clear();
    m_sections.clear();
    m_sectionIndex.clear();
    m_erased = 0;
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QString text = QString::fromUtf8(data);
    // Index of the section the lines belong to; none before the first header.
    size_t current = size_t(-1);
    auto append = [&](Entry e) {
        if (current == size_t(-1))
            m_preamble.push_back(std::move(e));
        else
            addEntry(m_sections[current], std::move(e));
    };
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    for (QStringView line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringView trimmed = line.trimmed();
        if (trimmed.startsWith(u'[')) {
            const qsizetype close = trimmed.indexOf(u']');
            if (close > 0) {
                const QString name = trimmed.mid(1, close - 1).trimmed().toString();
                // A repeated header continues the section it names.
                const auto it = m_sectionIndex.constFind(folded(name));
                if (it != m_sectionIndex.constEnd()) {
                    current = it.value();
                } else {
                    addSection(name);
                    current = m_sections.size() - 1;
                }
                continue;
            }
        }
        const qsizetype eq = trimmed.indexOf(u'=');
        if (eq > 0 && !trimmed.startsWith(u';')) {
            Entry e;
            e.key = trimmed.left(eq).trimmed().toString();
            e.value = trimmed.mid(eq + 1).trimmed().toString();
            if (!e.key.isEmpty()) {
                append(std::move(e));
                continue;
            }
        }
        if (!trimmed.isEmpty())
            append(Entry {{}, {}, line.toString()});
    }
}

QByteArray IniFile::serialize() const
{
    QString out;
    auto writeEntries = [&out](const std::vector<Entry> &entries) {
        for (const Entry &e : entries) {
            if (e.key.isEmpty())
                out += e.raw;
            else
                out += e.key + u'=' + e.value;
            out += QStringLiteral("\r\n");
        }
    };
    writeEntries(m_preamble);
    for (const Section &s : m_sections) {
        if (s.erased)
            continue;
        out += u'[' + s.name + QStringLiteral("]\r\n");
        writeEntries(s.entries);
    }
    return out.toUtf8();
}

bool IniFile::save() const
{
    return saveAs(m_fileName);
}

bool IniFile::saveAs(const QString &fileName) const
{
    if (fileName.isEmpty())
        return false;
    const QFileInfo info(fileName);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QSaveFile f(fileName);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QByteArray data = serialize();
    if (f.write(data) != data.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

const IniFile::Section *IniFile::findSection(const QString &name) const
{
    const auto it = m_sectionIndex.constFind(folded(name));
    return it == m_sectionIndex.constEnd() ? nullptr : &m_sections[it.value()];
}

IniFile::Section *IniFile::findSection(const QString &name)
{
    return const_cast<Section *>(static_cast<const IniFile *>(this)->findSection(name));
}

IniFile::Section &IniFile::addSection(const QString &name)
{
    m_sections.push_back(Section {name, {}, {}, false});
    m_sectionIndex.insert(folded(name), m_sections.size() - 1);
    return m_sections.back();
}

void IniFile::addEntry(Section &s, Entry e)
{
    if (!e.key.isEmpty()) {
        // The first line of a key is the one that counts; later ones are only kept.
        const Caseless k = folded(e.key);
        if (!s.keyIndex.contains(k))
            s.keyIndex.insert(k, s.entries.size());
    }
    s.entries.push_back(std::move(e));
}

void IniFile::reindexKeys(Section &s)
{
    s.keyIndex.clear();
    for (size_t i = 0; i < s.entries.size(); ++i) {
        if (s.entries[i].key.isEmpty())
            continue;
        const Caseless k = folded(s.entries[i].key);
        if (!s.keyIndex.contains(k))
            s.keyIndex.insert(k, i);
    }
}

// Erased sections stay as gaps so erasing is cheap; once they are the majority
// they are dropped and the index rebuilt, which keeps every erase amortised constant.
void IniFile::compactIfSparse()
{
    if (m_erased < 64 || m_erased * 2 < m_sections.size())
        return;
    std::vector<Section> live;
    live.reserve(m_sections.size() - m_erased);
    for (Section &s : m_sections)
        if (!s.erased)
            live.push_back(std::move(s));
    m_sections.swap(live);
    m_sectionIndex.clear();
    for (size_t i = 0; i < m_sections.size(); ++i)
        m_sectionIndex.insert(folded(m_sections[i].name), i);
    m_erased = 0;
}

const IniFile::Entry *IniFile::findEntry(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    if (!s)
        return nullptr;
    const auto it = s->keyIndex.constFind(folded(key));
    return it == s->keyIndex.constEnd() ? nullptr : &s->entries[it.value()];
}

bool IniFile::sectionExists(const QString &section) const
{
    return findSection(section) != nullptr;
}

bool IniFile::valueExists(const QString &section, const QString &key) const
{
    return findEntry(section, key) != nullptr;
}

QStringList IniFile::sections() const
{
    QStringList names;
    for (const Section &s : m_sections)
        if (!s.erased)
            names << s.name;
    return names;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList names;
    if (const Section *s = findSection(section))
        for (const Entry &e : s->entries)
            if (!e.key.isEmpty())
                names << e.key;
    return names;
}

std::vector<std::pair<QString, QString>> IniFile::entries(const QString &section) const
{
    std::vector<std::pair<QString, QString>> out;
    if (const Section *s = findSection(section))
        for (const Entry &e : s->entries)
            if (!e.key.isEmpty())
                out.emplace_back(e.key, unquoted(e.value));
    return out;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const Entry *e = findEntry(section, key);
    if (!e)
        return defaultValue;
    return unquoted(e->value);
}

bool IniFile::parseInteger(const QString &text, int *value)
{
    const QString t = text.trimmed();
    bool ok = false;
    int v = 0;
    if (t.startsWith(u'$'))
        v = int(t.mid(1).toUInt(&ok, 16));
    else if (t.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive))
        v = int(t.mid(2).toUInt(&ok, 16));
    else if (t.startsWith(QStringLiteral("-0x"), Qt::CaseInsensitive) || t.startsWith(QStringLiteral("-$"))) {
        const qsizetype skip = t.at(1) == u'$' ? 2 : 3;
        const uint u = t.mid(skip).toUInt(&ok, 16);
        ok = ok && u <= 0x80000000u;
        v = int(0u - u);
    } else
        v = t.toInt(&ok, 10);
    if (ok && value)
        *value = v;
    return ok;
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue) const
{
    int v = 0;
    return parseInteger(readString(section, key), &v) ? v : defaultValue;
}

bool IniFile::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    Section *s = findSection(section);
    if (!s)
        s = &addSection(section);
    // Line breaks would split the value into two lines on the next read.
    QString clean = value;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    const auto it = s->keyIndex.constFind(folded(key));
    if (it != s->keyIndex.constEnd()) {
        s->entries[it.value()].value = clean;
        return;
    }
    addEntry(*s, Entry {key, clean, {}});
}

void IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::eraseSection(const QString &section)
{
    const auto it = m_sectionIndex.constFind(folded(section));
    if (it == m_sectionIndex.constEnd())
        return;
    Section &s = m_sections[it.value()];
    m_sectionIndex.erase(it);
    s.erased = true;
    s.entries = {};
    s.keyIndex = {};
    ++m_erased;
    compactIfSparse();
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    Section *s = findSection(section);
    if (!s)
        return;
    const auto it = s->keyIndex.constFind(folded(key));
    if (it == s->keyIndex.constEnd())
        return;
    s->entries.erase(s->entries.begin() + qsizetype(it.value()));
    reindexKeys(*s);
}
