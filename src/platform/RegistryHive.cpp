#include "platform/RegistryHive.h"

#include "platform/TextHelpers.h"

#include <QDateTime>
#include <cstdio>
#include <map>

namespace platform {

namespace {

const QByteArray kHeader = QByteArrayLiteral("WINE REGISTRY Version 2");

// Reads a quoted string starting at pos (on the opening quote) or, for key
// names, the text up to an unescaped ']' (pos just after '['). On success pos
// is just past the closing character.
bool readEscaped(const QString &line, qsizetype &pos, QChar close, QString &out)
{
    out.clear();
    qsizetype i = pos;
    while (i < line.size()) {
        const QChar c = line.at(i);
        if (c == close) {
            pos = i + 1;
            return true;
        }
        if (c != u'\\') {
            out += c;
            ++i;
            continue;
        }
        if (++i >= line.size())
            return false;
        const QChar e = line.at(i++);
        switch (e.unicode()) {
        case 'n':
            out += u'\n';
            break;
        case 'r':
            out += u'\r';
            break;
        case 't':
            out += u'\t';
            break;
        case 'a':
            out += QChar(7);
            break;
        case 'b':
            out += QChar(8);
            break;
        case 'f':
            out += QChar(12);
            break;
        case 'v':
            out += QChar(11);
            break;
        case 'e':
            out += QChar(27);
            break;
        case 'x': {
            int digits = 0;
            char16_t v = 0;
            while (digits < 4 && i < line.size() && textutil::hexDigit(line.at(i)) >= 0) {
                v = char16_t(v * 16 + textutil::hexDigit(line.at(i)));
                ++i;
                ++digits;
            }
            if (digits == 0)
                return false;
            out += QChar(v);
            break;
        }
        default:
            if (e >= u'0' && e <= u'7') {
                int v = e.unicode() - '0';
                for (int k = 0; k < 2 && i < line.size() && line.at(i) >= u'0' && line.at(i) <= u'7'; ++k)
                    v = v * 8 + (line.at(i++).unicode() - '0');
                out += QChar(char16_t(v));
            } else {
                out += e;
            }
        }
    }
    return false;
}

void skipBlanks(const QString &s, qsizetype &pos)
{
    while (pos < s.size() && (s.at(pos) == u' ' || s.at(pos) == u'\t'))
        ++pos;
}

bool onlyBlanksFrom(const QString &s, qsizetype pos)
{
    skipBlanks(s, pos);
    return pos == s.size();
}

bool readHexNumber(const QString &s, qsizetype &pos, int maxDigits, quint32 &out)
{
    int digits = 0;
    quint32 v = 0;
    while (pos < s.size() && digits < maxDigits && textutil::hexDigit(s.at(pos)) >= 0) {
        v = v * 16 + quint32(textutil::hexDigit(s.at(pos)));
        ++pos;
        ++digits;
    }
    out = v;
    return digits > 0;
}

bool readHexBytes(const QString &s, qsizetype &pos, QByteArray &out)
{
    out.clear();
    skipBlanks(s, pos);
    if (pos >= s.size())
        return true;
    for (;;) {
        skipBlanks(s, pos);
        quint32 b = 0;
        const qsizetype start = pos;
        if (!readHexNumber(s, pos, 2, b) || pos - start != 2)
            return false;
        out.append(char(b));
        skipBlanks(s, pos);
        if (pos >= s.size())
            return true;
        if (s.at(pos) != u',')
            return false;
        ++pos;
        skipBlanks(s, pos);
        if (pos >= s.size())
            return true; // a trailing comma is what a wrapped list leaves behind
    }
}

// The data after "=" of a value line.
bool parseData(const QString &s, qsizetype pos, RegValue &v)
{
    skipBlanks(s, pos);
    auto rest = [&](const char *prefix) {
        const QLatin1StringView p(prefix);
        if (QStringView(s).mid(pos).startsWith(p, Qt::CaseInsensitive)) {
            pos += p.size();
            return true;
        }
        return false;
    };
    if (pos < s.size() && s.at(pos) == u'"') {
        ++pos;
        v.type = REG_SZ;
        v.isText = true;
        return readEscaped(s, pos, u'"', v.text) && onlyBlanksFrom(s, pos);
    }
    if (rest("str(")) {
        quint32 type = 0;
        if (!readHexNumber(s, pos, 8, type) || !rest("):\""))
            return false;
        v.type = type;
        v.isText = true;
        return readEscaped(s, pos, u'"', v.text) && onlyBlanksFrom(s, pos);
    }
    if (rest("dword:")) {
        quint32 n = 0;
        if (!readHexNumber(s, pos, 8, n) || !onlyBlanksFrom(s, pos))
            return false;
        v.type = REG_DWORD;
        v.bytes = QByteArray(4, '\0');
        for (int k = 0; k < 4; ++k)
            v.bytes[k] = char((n >> (8 * k)) & 0xFF);
        return true;
    }
    if (rest("hex(")) {
        quint32 type = 0;
        if (!readHexNumber(s, pos, 8, type) || !rest("):"))
            return false;
        v.type = type;
        return readHexBytes(s, pos, v.bytes);
    }
    if (rest("hex:")) {
        v.type = REG_BINARY;
        return readHexBytes(s, pos, v.bytes);
    }
    return false;
}

bool parseValueLine(const QString &s, RegValue &v)
{
    qsizetype pos = 0;
    skipBlanks(s, pos);
    if (pos < s.size() && s.at(pos) == u'@') {
        ++pos;
    } else if (pos < s.size() && s.at(pos) == u'"') {
        ++pos;
        if (!readEscaped(s, pos, u'"', v.name))
            return false;
    } else {
        return false;
    }
    skipBlanks(s, pos);
    if (pos >= s.size() || s.at(pos) != u'=')
        return false;
    return parseData(s, pos + 1, v);
}

QString stripLineEnd(const QByteArray &raw)
{
    QByteArray b = raw;
    while (!b.isEmpty() && (b.endsWith('\n') || b.endsWith('\r')))
        b.chop(1);
    return QString::fromUtf8(b);
}

QByteArray hexList(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() * 3);
    static const char digits[] = "0123456789abcdef";
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i)
            out += ',';
        out += digits[(uchar(bytes[i]) >> 4) & 0xF];
        out += digits[uchar(bytes[i]) & 0xF];
    }
    return out;
}

QByteArray valueLine(const RegValue &v)
{
    QByteArray line = v.name.isEmpty() ? QByteArray("@") : '"' + regEscape(v.name) + '"';
    line += '=';
    if (v.isText) {
        if (v.type != REG_SZ)
            line += "str(" + QByteArray::number(v.type, 16) + "):";
        line += '"' + regEscape(v.text) + '"';
    } else if (v.type == REG_DWORD && v.bytes.size() == 4) {
        quint32 n = 0;
        for (int k = 3; k >= 0; --k)
            n = (n << 8) | uchar(v.bytes[k]);
        line += "dword:" + QByteArray::number(n, 16).rightJustified(8, '0');
    } else if (v.type == REG_BINARY) {
        line += "hex:" + hexList(v.bytes);
    } else {
        line += "hex(" + QByteArray::number(v.type, 16) + "):" + hexList(v.bytes);
    }
    return line + '\n';
}

bool isBlankRaw(const QByteArray &raw)
{
    return raw.trimmed().isEmpty();
}

} // namespace

QByteArray regEscape(const QString &text, bool keyName)
{
    QByteArray out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case 0:
            out += "\\0";
            break;
        default:
            if (keyName && u == ']') {
                out += "\\]";
            } else if (u < 0x20 || u >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%04x", unsigned(u));
                out += buf;
            } else {
                out += char(u);
            }
        }
    }
    return out;
}

std::optional<QString> RegValue::stringValue() const
{
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::nullopt;
    if (isText)
        return text;
    QString s;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t u = char16_t(uchar(bytes[i]) | (uchar(bytes[i + 1]) << 8));
        if (u == 0)
            break;
        s += QChar(u);
    }
    return s;
}

std::optional<quint32> RegValue::dwordValue() const
{
    if (type != REG_DWORD || isText || bytes.size() < 4)
        return std::nullopt;
    quint32 n = 0;
    for (int k = 3; k >= 0; --k)
        n = (n << 8) | uchar(bytes[k]);
    return n;
}

QString RegValue::typeName() const
{
    switch (type) {
    case REG_NONE:
        return QStringLiteral("REG_NONE");
    case REG_SZ:
        return QStringLiteral("REG_SZ");
    case REG_EXPAND_SZ:
        return QStringLiteral("REG_EXPAND_SZ");
    case REG_BINARY:
        return QStringLiteral("REG_BINARY");
    case REG_DWORD:
        return QStringLiteral("REG_DWORD");
    case REG_DWORD_BIG_ENDIAN:
        return QStringLiteral("REG_DWORD_BIG_ENDIAN");
    case REG_LINK:
        return QStringLiteral("REG_LINK");
    case REG_MULTI_SZ:
        return QStringLiteral("REG_MULTI_SZ");
    case REG_QWORD:
        return QStringLiteral("REG_QWORD");
    default:
        return QStringLiteral("REG_0x%1").arg(type, 0, 16);
    }
}

QString RegValue::dataText() const
{
    if (auto s = stringValue())
        return *s;
    if (auto n = dwordValue())
        return QStringLiteral("0x%1").arg(*n, 8, 16, QLatin1Char('0'));
    if (isText) {
        QString t = text;
        return t.replace(QChar(0), QLatin1String("\\0"));
    }
    return QString::fromLatin1(hexList(bytes).replace(',', ""));
}

struct RegHive::Key
{
    QString path; // normalised, as spelled in the file
    QByteArray header; // raw header line; empty for a key made here
    struct Item
    {
        QByteArray raw; // raw line(s); empty: written from the value
        int value = -1; // index into values, or -1 for a line kept as is
    };
    QList<Item> items;
    QList<RegValue> values;
    bool damaged = false;
};

struct RegHive::Node
{
    QString name; // as first spelled
    std::map<QString, std::unique_ptr<Node>> children; // lower-cased name -> node
    Key *key = nullptr;
};

RegHive::RegHive()
    : m_root(std::make_unique<Node>())
{ }

RegHive::~RegHive()
{
    qDeleteAll(m_keys);
}

std::unique_ptr<RegHive> RegHive::createEmpty()
{
    auto hive = std::make_unique<RegHive>();
    hive->m_preamble = kHeader + "\n";
    return hive;
}

std::unique_ptr<RegHive> RegHive::parse(const QByteArray &data)
{
    if (data.trimmed().isEmpty())
        return createEmpty();
    auto hive = std::make_unique<RegHive>();
    hive->parseInto(data);
    return hive;
}

QString RegHive::normalisePath(const QString &path)
{
    if (!path.startsWith(u'\\') && !path.endsWith(u'\\') && !path.contains(QLatin1String("\\\\")))
        return path;
    const QStringList parts = path.split(u'\\', Qt::SkipEmptyParts);
    return parts.join(u'\\');
}

QString RegHive::lookupKey(const QString &path)
{
    return textutil::lowerCased(normalisePath(path));
}

void RegHive::parseInto(const QByteArray &data)
{
    // Split into raw lines, each with its line end.
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype nl = data.indexOf('\n', start);
        const qsizetype end = nl < 0 ? data.size() : nl + 1;
        lines.append(data.mid(start, end - start));
        start = end;
    }
    if (lines.isEmpty() || stripLineEnd(lines.first()).trimmed().toLatin1() != kHeader) {
        m_damaged = true;
        m_problems << QStringLiteral("line 1: not a registry file (\"%1\" expected)")
                          .arg(QString::fromLatin1(kHeader));
        return;
    }
    m_preamble = lines.first();
    Key *current = nullptr;
    auto markDamaged = [&](int lineNo, const QString &why) {
        m_damaged = true;
        m_problems << QStringLiteral("line %1: %2").arg(lineNo).arg(why);
    };

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const int lineNo = int(i + 1);
        QByteArray raw = lines.at(i);
        QString text = stripLineEnd(raw);
        const QString trimmed = text.trimmed();
        // A line ending in a backslash continues on the next one (long hex lists).
        while (trimmed.startsWith(u'"') || trimmed.startsWith(u'@')) {
            QString t = text;
            while (t.endsWith(u' ') || t.endsWith(u'\t'))
                t.chop(1);
            if (!t.endsWith(u'\\') || i + 1 >= lines.size())
                break;
            t.chop(1);
            raw += lines.at(++i);
            text = t + stripLineEnd(lines.at(i)).trimmed();
        }

        if (trimmed.isEmpty() || trimmed.startsWith(u'#') || trimmed.startsWith(u';')) {
            if (current)
                current->items.append({raw, -1});
            else
                m_preamble += raw;
            continue;
        }
        if (trimmed.startsWith(u'[')) {
            auto *key = new Key;
            key->header = raw;
            m_keys.append(key);
            current = key;
            qsizetype pos = text.indexOf(u'[') + 1;
            QString name;
            if (!readEscaped(text, pos, u']', name)) {
                key->damaged = true;
                markDamaged(lineNo, QStringLiteral("key name without closing bracket"));
                continue;
            }
            skipBlanks(text, pos); // an optional modification time follows
            while (pos < text.size() && text.at(pos).isDigit())
                ++pos;
            if (!onlyBlanksFrom(text, pos)) {
                key->damaged = true;
                markDamaged(lineNo, QStringLiteral("unexpected text after the key name"));
                continue;
            }
            key->path = normalisePath(name);
            const QString lookup = key->path.toLower();
            if (key->path.isEmpty() || m_byPath.contains(lookup)) {
                key->damaged = true;
                markDamaged(lineNo,
                            key->path.isEmpty() ? QStringLiteral("empty key name")
                                                : QStringLiteral("key written twice"));
                continue;
            }
            m_byPath.insert(lookup, key);
            continue;
        }
        if (!current) {
            markDamaged(lineNo, QStringLiteral("value outside of a key"));
            // Keep it with the preamble so that nothing is lost in memory; the
            // hive is never written back anyway.
            m_preamble += raw;
            continue;
        }
        if (current->damaged) {
            current->items.append({raw, -1});
            continue;
        }
        RegValue v;
        if (!parseValueLine(text, v)) {
            markDamaged(lineNo, QStringLiteral("unreadable value"));
            current->damaged = true;
            m_byPath.remove(current->path.toLower());
            current->items.append({raw, -1});
            continue;
        }
        current->items.append({raw, int(current->values.size())});
        current->values.append(std::move(v));
    }
    rebuildTree();
}

void RegHive::addToTree(int keyIndex)
{
    Key *key = m_keys.at(keyIndex);
    Node *node = m_root.get();
    for (const QString &part : key->path.split(u'\\', Qt::SkipEmptyParts)) {
        auto &slot = node->children[part.toLower()];
        if (!slot) {
            slot = std::make_unique<Node>();
            slot->name = part;
        }
        node = slot.get();
    }
    node->key = key;
}

void RegHive::rebuildTree()
{
    m_root = std::make_unique<Node>();
    m_byPath.clear();
    for (int i = 0; i < m_keys.size(); ++i) {
        Key *key = m_keys.at(i);
        if (key->damaged)
            continue;
        m_byPath.insert(key->path.toLower(), key);
        addToTree(i);
    }
}

RegHive::Node *RegHive::findNode(const QString &path) const
{
    Node *node = m_root.get();
    for (const QString &part : path.split(u'\\', Qt::SkipEmptyParts)) {
        auto it = node->children.find(textutil::lowerCased(part));
        if (it == node->children.end())
            return nullptr;
        node = it->second.get();
    }
    return node;
}

RegHive::Key *RegHive::findKey(const QString &path) const
{
    return m_byPath.value(lookupKey(path));
}

bool RegHive::keyExists(const QString &path) const
{
    return m_byPath.contains(lookupKey(path)) || findNode(path);
}

QStringList RegHive::subKeyNames(const QString &path) const
{
    QStringList names;
    if (const Node *node = findNode(path))
        for (const auto &child : node->children)
            names << child.second->name;
    return names;
}

QList<RegHive::SubKey> RegHive::subKeys(const QString &path) const
{
    QList<SubKey> keys;
    if (const Node *node = findNode(path)) {
        keys.reserve(qsizetype(node->children.size()));
        for (const auto &child : node->children)
            keys.append(
                {child.second->name, child.second->key ? child.second->key->values : QList<RegValue>()});
    }
    return keys;
}

const QList<RegValue> *RegHive::values(const QString &path) const
{
    const Key *key = findKey(path);
    return key ? &key->values : nullptr;
}

const RegValue *RegHive::value(const QString &path, const QString &name) const
{
    const QList<RegValue> *list = values(path);
    if (!list)
        return nullptr;
    for (const RegValue &v : *list)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0)
            return &v;
    return nullptr;
}

void RegHive::createKey(const QString &path)
{
    const QString norm = normalisePath(path);
    if (norm.isEmpty() || findKey(norm))
        return;
    auto *key = new Key;
    key->path = norm;
    m_keys.append(key);
    m_byPath.insert(norm.toLower(), key);
    addToTree(int(m_keys.size() - 1));
}

void RegHive::setValue(const QString &path, const RegValue &value)
{
    createKey(path);
    Key *key = findKey(path);
    if (!key)
        return;
    for (int i = 0; i < key->values.size(); ++i) {
        if (key->values[i].name.compare(value.name, Qt::CaseInsensitive) != 0)
            continue;
        key->values[i] = value;
        for (auto &item : key->items)
            if (item.value == i)
                item.raw.clear();
        return;
    }
    key->values.append(value);
    // New values go before the blank lines that separate the key from the next one.
    qsizetype at = key->items.size();
    while (at > 0 && key->items[at - 1].value < 0 && isBlankRaw(key->items[at - 1].raw))
        --at;
    key->items.insert(at, {QByteArray(), int(key->values.size() - 1)});
}

bool RegHive::deleteValue(const QString &path, const QString &name)
{
    Key *key = findKey(path);
    if (!key)
        return false;
    for (int i = 0; i < key->values.size(); ++i) {
        if (key->values[i].name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        key->values.removeAt(i);
        for (qsizetype j = key->items.size() - 1; j >= 0; --j) {
            auto &item = key->items[j];
            if (item.value == i)
                key->items.removeAt(j);
            else if (item.value > i)
                --item.value;
        }
        return true;
    }
    return false;
}

bool RegHive::deleteTree(const QString &path)
{
    const QString lookup = lookupKey(path);
    if (lookup.isEmpty() || !keyExists(path))
        return false;
    const QString prefix = lookup + u'\\';
    for (qsizetype i = m_keys.size() - 1; i >= 0; --i) {
        Key *key = m_keys.at(i);
        if (key->damaged)
            continue;
        const QString p = key->path.toLower();
        if (p == lookup || p.startsWith(prefix)) {
            m_keys.removeAt(i);
            delete key;
        }
    }
    rebuildTree();
    return true;
}

QByteArray RegHive::serialize() const
{
    QByteArray out = m_preamble;
    if (!out.isEmpty() && !out.endsWith('\n'))
        out += '\n';
    for (const Key *key : m_keys) {
        if (key->header.isEmpty()) {
            if (!out.endsWith("\n\n"))
                out += '\n';
            out += '[' + regEscape(key->path, true) + "] "
                + QByteArray::number(QDateTime::currentSecsSinceEpoch()) + '\n';
        } else {
            out += key->header;
            if (!out.endsWith('\n'))
                out += '\n';
        }
        for (const auto &item : key->items) {
            if (item.raw.isEmpty() && item.value >= 0)
                out += valueLine(key->values.at(item.value));
            else
                out += item.raw;
            if (!out.endsWith('\n'))
                out += '\n';
        }
    }
    return out;
}

} // namespace platform
