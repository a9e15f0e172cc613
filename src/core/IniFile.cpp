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

IniFile::IniFile(const QString &fileName)
{
    load(fileName);
}

bool IniFile::load(const QString &fileName)
{
    m_fileName = fileName;
    m_preamble.clear();
    m_sections.clear();
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
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QString text = QString::fromUtf8(data);
    std::vector<Entry> *target = &m_preamble;
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    for (QStringView line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringView trimmed = line.trimmed();
        if (trimmed.startsWith(u'[')) {
            const qsizetype close = trimmed.indexOf(u']');
            if (close > 0) {
                const QString name = trimmed.mid(1, close - 1).trimmed().toString();
                Section *existing = findSection(name);
                if (!existing) {
                    m_sections.push_back(Section {name, {}});
                    existing = &m_sections.back();
                }
                target = &existing->entries;
                continue;
            }
        }
        const qsizetype eq = trimmed.indexOf(u'=');
        if (eq > 0 && !trimmed.startsWith(u';')) {
            Entry e;
            e.key = trimmed.left(eq).trimmed().toString();
            e.value = trimmed.mid(eq + 1).trimmed().toString();
            if (!e.key.isEmpty()) {
                target->push_back(std::move(e));
                continue;
            }
        }
        if (!trimmed.isEmpty())
            target->push_back(Entry {{}, {}, line.toString()});
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
    for (const Section &s : m_sections)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

IniFile::Section *IniFile::findSection(const QString &name)
{
    return const_cast<Section *>(static_cast<const IniFile *>(this)->findSection(name));
}

const IniFile::Entry *IniFile::findEntry(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    if (!s)
        return nullptr;
    for (const Entry &e : s->entries)
        if (!e.key.isEmpty() && e.key.compare(key, Qt::CaseInsensitive) == 0)
            return &e;
    return nullptr;
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
    if (!s) {
        m_sections.push_back(Section {section, {}});
        s = &m_sections.back();
    }
    // Line breaks would split the value into two lines on the next read.
    QString clean = value;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    for (Entry &e : s->entries) {
        if (!e.key.isEmpty() && e.key.compare(key, Qt::CaseInsensitive) == 0) {
            e.value = clean;
            return;
        }
    }
    s->entries.push_back(Entry {key, clean, {}});
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
    for (auto it = m_sections.begin(); it != m_sections.end(); ++it) {
        if (it->name.compare(section, Qt::CaseInsensitive) == 0) {
            m_sections.erase(it);
            return;
        }
    }
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    Section *s = findSection(section);
    if (!s)
        return;
    for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
        if (!it->key.isEmpty() && it->key.compare(key, Qt::CaseInsensitive) == 0) {
            s->entries.erase(it);
            return;
        }
    }
}
