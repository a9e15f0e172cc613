#include "online/JSONValues.h"

#include "platform/TextHelpers.h"

#include <QHash>
#include <QStringBuilder>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace {

_Boolean g_true(true);
_Boolean g_false(false);
JSONNull g_null;

bool isBlank(QChar c)
{
    return c.unicode() <= ' ';
}

QString trimBlanks(const QString &s)
{
    int b = 0;
    int e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
}

bool sameTextAscii(const QString &a, const char *b)
{
    const int n = int(qstrlen(b));
    if (a.size() != n)
        return false;
    for (int i = 0; i < n; ++i) {
        ushort c = a.at(i).unicode();
        if (c >= 'A' && c <= 'Z')
            c = ushort(c + 32);
        if (c != ushort(b[i]))
            return false;
    }
    return true;
}

// Hexadecimal digits into a 32-bit value (8 digits at most, as the integer type holds).
bool hexToInt(const QString &digits, int &value)
{
    if (digits.isEmpty() || digits.size() > 8)
        return false;
    quint32 v = 0;
    for (QChar c : digits) {
        const int d = textutil::hexDigit(c);
        if (d < 0)
            return false;
        v = (v << 4) | quint32(d);
    }
    value = int(v);
    return true;
}

bool decimalToInt(const QString &text, int &value)
{
    const QString s = trimBlanks(text);
    int i = 0;
    bool negative = false;
    if (i < s.size() && (s.at(i) == '+' || s.at(i) == '-')) {
        negative = s.at(i) == '-';
        ++i;
    }
    if (i >= s.size())
        return false;
    qint64 v = 0;
    for (; i < s.size(); ++i) {
        const ushort u = s.at(i).unicode();
        if (u < '0' || u > '9')
            return false;
        v = v * 10 + (u - '0');
        if (v > qint64(INT_MAX) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v < INT_MIN || v > INT_MAX)
        return false;
    value = int(v);
    return true;
}

locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return loc;
}

QString classCastMessage(const QString &name, const char *what)
{
    return QStringLiteral("TJSONObject[") + TJSONObject::QuoteString(name) + QStringLiteral("] ")
        + QLatin1String(what);
}

} // namespace

// ---- helpers ------------------------------------------------------------

bool JSONTextToDouble(const QString &Text, double &Value)
{
    const QString s = trimBlanks(Text);
    // Only sign, digits, one point and an exponent: no hexadecimal, no words.
    int i = 0;
    const int n = s.size();
    auto digit = [&](int k) { return k < n && s.at(k).unicode() >= '0' && s.at(k).unicode() <= '9'; };
    if (i < n && (s.at(i) == '+' || s.at(i) == '-'))
        ++i;
    int mantissaDigits = 0;
    while (digit(i)) {
        ++i;
        ++mantissaDigits;
    }
    if (i < n && s.at(i) == '.') {
        ++i;
        while (digit(i)) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (i < n && (s.at(i) == 'e' || s.at(i) == 'E')) {
        ++i;
        if (i < n && (s.at(i) == '+' || s.at(i) == '-'))
            ++i;
        if (!digit(i))
            return false;
        while (digit(i))
            ++i;
    }
    if (i != n)
        return false;
    const QByteArray latin = s.toLatin1();
    char *end = nullptr;
    errno = 0;
    const double v = strtod_l(latin.constData(), &end, cLocale());
    if (end != latin.constData() + latin.size() || std::isinf(v) || std::isnan(v))
        return false;
    Value = v;
    return true;
}

QString JSONFormatDouble(double Value)
{
    if (std::isnan(Value))
        return QStringLiteral("NAN");
    if (std::isinf(Value))
        return Value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (Value == 0)
        return QStringLiteral("0");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", Value);
    // buf: [-]d.dddddddddddddde[+-]xx
    const char *p = buf;
    QString sign;
    if (*p == '-') {
        sign = QStringLiteral("-");
        ++p;
    }
    QString digits;
    for (; *p && *p != 'e'; ++p)
        if (*p != '.')
            digits += QLatin1Char(*p);
    const int exp10 = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);

    if (exp10 >= -5 && exp10 < 15) {
        QString out;
        if (exp10 < 0) {
            out = QStringLiteral("0.") + QString(-exp10 - 1, QLatin1Char('0')) + digits;
        } else if (digits.size() <= exp10 + 1) {
            out = digits + QString(exp10 + 1 - digits.size(), QLatin1Char('0'));
        } else {
            out = digits.left(exp10 + 1) + QLatin1Char('.') + digits.mid(exp10 + 1);
        }
        return sign + out;
    }
    QString mantissa = digits.left(1);
    if (digits.size() > 1)
        mantissa += QLatin1Char('.') + digits.mid(1);
    return sign + mantissa + QLatin1Char('E') + QString::number(exp10);
}

// ---- values -------------------------------------------------------------

void JSONValueDeleter::operator()(TZAbstractObject *value) const
{
    if (value && !value->IsShared())
        delete value;
}

_Boolean *JSONTrue()
{
    return &g_true;
}
_Boolean *JSONFalse()
{
    return &g_false;
}
JSONNull *JSONNullValue()
{
    return &g_null;
}

bool TZAbstractObject::IsShared() const
{
    return this == &g_true || this == &g_false || this == &g_null;
}

bool TZAbstractObject::Equals(const TZAbstractObject *Other) const
{
    return Other == this;
}

JSONValue TZAbstractObject::Clone() const
{
    throw NotImplmentedFeature(QStringLiteral("JSON: Not Implmented!"));
}

QString TZAbstractObject::ToString() const
{
    return QString::asprintf("%s <%p>", ClassName(), static_cast<const void *>(this));
}

JSONValue _Integer::Clone() const
{
    return JSONValue(new _Integer(m_value));
}

QString _Integer::ToString() const
{
    return QString::number(m_value);
}

int _Double::IntValue() const
{
    if (std::isnan(m_value))
        return 0;
    const double t = std::trunc(m_value);
    if (t >= double(INT_MAX))
        return INT_MAX;
    if (t <= double(INT_MIN))
        return INT_MIN;
    return int(t);
}

JSONValue _Double::Clone() const
{
    return JSONValue(new _Double(m_value));
}

QString _Double::ToString() const
{
    return JSONFormatDouble(m_value);
}

JSONValue _Boolean::Clone() const
{
    return JSONValue(new _Boolean(m_value));
}

QString _Boolean::ToString() const
{
    return m_value ? QStringLiteral("true") : QStringLiteral("false");
}

bool _String::Equals(const TZAbstractObject *Other) const
{
    const auto *s = dynamic_cast<const _String *>(Other);
    return s && s->m_value == m_value;
}

JSONValue _String::Clone() const
{
    return JSONValue(new _String(m_value));
}

bool JSONNull::Equals(const TZAbstractObject *Other) const
{
    return !Other || dynamic_cast<const JSONNull *>(Other);
}

// ---- tokener ------------------------------------------------------------

JSONTokener::DepthGuard::DepthGuard(JSONTokener &t)
    : m_t(t)
{
    if (++m_t.m_depth > MaxDepth) {
        --m_t.m_depth;
        throw m_t.SyntaxError(QStringLiteral("Nesting too deep."));
    }
}

QChar JSONTokener::NextChar()
{
    const int i = m_pos++;
    if (i <= m_source.size())
        return m_source.at(i - 1);
    return QChar(0);
}

void JSONTokener::Back()
{
    if (m_pos > 1)
        --m_pos;
}

QChar JSONTokener::NextClean()
{
    for (;;) {
        QChar c = NextChar();
        if (c == '/') {
            const QChar d = NextChar();
            if (d == '/') {
                do
                    c = NextChar();
                while (c != '\n' && c != '\r' && c != QChar(0));
            } else if (d == '*') {
                for (;;) {
                    c = NextChar();
                    if (c == QChar(0))
                        throw SyntaxError(QStringLiteral("Unclosed comment."));
                    if (c == '*') {
                        if (NextChar() == '/')
                            break;
                        Back();
                    }
                }
            } else {
                Back();
                return QLatin1Char('/');
            }
        } else if (c == '#') {
            do
                c = NextChar();
            while (c != '\n' && c != '\r' && c != QChar(0));
        } else if (c == QChar(0) || c.unicode() > ' ') {
            return c;
        }
    }
}

QString JSONTokener::NextString(QChar Quote)
{
    QString sb;
    for (;;) {
        QChar c = NextChar();
        if (c == QChar(0) || c == '\n' || c == '\r')
            throw SyntaxError(QStringLiteral("Unterminated string"));
        if (c == '\\') {
            c = NextChar();
            switch (c.unicode()) {
            case 'f':
                sb += QChar(12);
                break;
            case 'n':
                sb += QChar(10);
                break;
            case 'r':
                sb += QChar(13);
                break;
            case 't':
                sb += QChar(9);
                break;
            case 'u': {
                // The four digits must be followed by at least one more character.
                if (m_pos + 4 > m_source.size())
                    throw SyntaxError(QStringLiteral("Substring bounds error"));
                int v = 0;
                if (!hexToInt(m_source.mid(m_pos - 1, 4), v))
                    throw SyntaxError(QStringLiteral("Illegal escape."));
                m_pos += 4;
                sb += QChar(ushort(v));
                break;
            }
            default:
                sb += c;
            }
        } else if (c == Quote) {
            return sb;
        } else {
            sb += c;
        }
    }
}

JSONValue JSONTokener::NextValue()
{
    QChar c = NextClean();
    if (c == '"' || c == '\'')
        return JSONValue(new _String(NextString(c)));
    if (c == '{') {
        Back();
        return JSONValue(new TJSONObject(*this));
    }
    if (c == '[') {
        Back();
        return JSONValue(new TJSONArray(*this));
    }

    static const QString stops = QStringLiteral(",:]}/\\\"[{;=#");
    QString sb;
    while (c.unicode() >= ' ' && !stops.contains(c)) {
        sb += c;
        c = NextChar();
    }
    Back();
    const QString s = trimBlanks(sb);
    if (s.isEmpty())
        throw SyntaxError(QStringLiteral("Missing value."));
    if (sameTextAscii(s, "true"))
        return JSONValue(JSONTrue());
    if (sameTextAscii(s, "false"))
        return JSONValue(JSONFalse());
    if (sameTextAscii(s, "null"))
        return JSONValue(JSONNullValue());

    const QChar b = s.at(0);
    if ((b >= '0' && b <= '9') || b == '.' || b == '-' || b == '+' || b == 'O' || b == 'o') {
        int iv = 0;
        double dv = 0;
        if (s.size() > 2 && s.at(0) == '0' && (s.at(1) == 'x' || s.at(1) == 'X') && hexToInt(s.mid(2), iv))
            return JSONValue(new _Integer(iv));
        if (JSONTextToDouble(s, dv))
            return JSONValue(new _Double(dv));
        if (decimalToInt(s, iv))
            return JSONValue(new _Integer(iv));
    }
    return JSONValue(new _String(s));
}

ParseException JSONTokener::SyntaxError(const QString &Message) const
{
    const QString excerpt = m_source.mid(qMin(m_pos, int(m_source.size()) + 1) - 1, 10);
    const QString text = Message + QStringLiteral(" at character ") + QString::number(m_pos)
        + QStringLiteral(" of ") + m_source + QStringLiteral(" próximo a : ") + excerpt
        + QStringLiteral("\n\r erro no caracter : ") + QString::number(m_pos);
    return ParseException(text, m_pos);
}

// ---- TJSONObject --------------------------------------------------------

TJSONObject::TJSONObject(const QString &Text)
{
    JSONTokener x(Text);
    parse(x);
}

TJSONObject::TJSONObject(JSONTokener &x)
{
    parse(x);
}

void TJSONObject::parse(JSONTokener &x)
{
    JSONTokener::DepthGuard guard(x);
    if (x.NextClean() != '{')
        throw x.SyntaxError(QStringLiteral("A TJSONObject must begin with \"{\""));
    for (;;) {
        QChar c = x.NextClean();
        if (c == QChar(0))
            throw x.SyntaxError(QStringLiteral("A TJSONObject must end with \"}\""));
        if (c == '}')
            return;
        x.Back();
        const QString key = x.NextValue()->ToString();

        c = x.NextClean();
        if (c == '=') {
            if (x.NextChar() != '>')
                x.Back();
        } else if (c != ':') {
            throw x.SyntaxError(QStringLiteral("Expected a \":\" after a key"));
        }
        m_entries.emplace_back(key, x.NextValue());

        c = x.NextClean();
        if (c == ',' || c == ';') {
            if (x.NextClean() == '}')
                return;
            x.Back();
        } else if (c == '}') {
            return;
        } else {
            throw x.SyntaxError(QStringLiteral("Expected a \",\" or \"}\""));
        }
    }
}

void TJSONObject::Put(const QString &Name, JSONValue Value)
{
    m_entries.emplace_back(Name, std::move(Value));
}

TZAbstractObject *TJSONObject::Find(const QString &Name) const
{
    if (Name.isNull())
        throw NullPointerException(QStringLiteral("Null key"));
    for (const auto &e : m_entries)
        if (e.first.compare(Name, Qt::CaseInsensitive) == 0)
            return e.second.get();
    return nullptr;
}

TZAbstractObject *TJSONObject::Get(const QString &Name) const
{
    TZAbstractObject *v = Find(Name);
    if (!v)
        throw NoSuchElementException(classCastMessage(Name, "not found."));
    return v;
}

bool TJSONObject::Has(const QString &Name) const
{
    if (Name.isNull())
        throw NullPointerException(QStringLiteral("Null key"));
    for (const auto &e : m_entries)
        if (e.first.compare(Name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool TJSONObject::IsNull(const QString &Name) const
{
    return JSONNullValue()->Equals(Find(Name));
}

bool TJSONObject::GetBoolean(const QString &Name) const
{
    const TZAbstractObject *o = Get(Name);
    // Any boolean value counts, not only the shared constants: a cloned value means the same.
    if (const auto *b = dynamic_cast<const _Boolean *>(o))
        return b->BoolValue();
    if (const auto *s = dynamic_cast<const _String *>(o)) {
        if (sameTextAscii(s->ToString(), "false"))
            return false;
        if (sameTextAscii(s->ToString(), "true"))
            return true;
    }
    throw ClassCastException(classCastMessage(Name, "is not a Boolean."));
}

double TJSONObject::GetDouble(const QString &Name) const
{
    const TZAbstractObject *o = Get(Name);
    if (const auto *n = dynamic_cast<const _Number *>(o))
        return n->DoubleValue();
    if (const auto *s = dynamic_cast<const _String *>(o)) {
        double v = 0;
        if (!JSONTextToDouble(s->ToString(), v))
            throw EConvertError(QStringLiteral("'") + s->ToString()
                                + QStringLiteral("' is not a valid floating point value"));
        return v;
    }
    throw NumberFormatException(classCastMessage(Name, "is not a number."));
}

int TJSONObject::GetInt(const QString &Name) const
{
    if (const auto *n = dynamic_cast<const _Number *>(Get(Name)))
        return n->IntValue();
    const double d = std::nearbyint(GetDouble(Name)); // default rounding: half to even
    return _Double(d).IntValue();
}

QString TJSONObject::GetString(const QString &Name) const
{
    return Get(Name)->ToString();
}

TJSONObject *TJSONObject::GetObject(const QString &Name) const
{
    if (auto *o = dynamic_cast<TJSONObject *>(Get(Name)))
        return o;
    throw NoSuchElementException(classCastMessage(Name, "is not a TJSONObject."));
}

TJSONArray *TJSONObject::GetArray(const QString &Name) const
{
    if (auto *a = dynamic_cast<TJSONArray *>(Find(Name)))
        return a;
    throw NoSuchElementException(classCastMessage(Name, "is not a TJSONArray."));
}

QStringList TJSONObject::Keys() const
{
    QStringList keys;
    keys.reserve(int(m_entries.size()));
    for (const auto &e : m_entries)
        keys << e.first;
    return keys;
}

JSONValue TJSONObject::Clone() const
{
    return JSONValue(new TJSONObject(ToString()));
}

QString TJSONObject::ToString() const
{
    // Each entry writes the value found for its name (the first of duplicates);
    // large objects look names up through a table instead of scanning each time.
    QHash<QString, const TZAbstractObject *> first;
    const bool useTable = m_entries.size() > 16;
    if (useTable) {
        for (const auto &e : m_entries) {
            const QString folded = e.first.toCaseFolded();
            if (!first.contains(folded))
                first.insert(folded, e.second.get());
        }
    }
    QString out = QStringLiteral("{");
    bool comma = false;
    for (const auto &e : m_entries) {
        if (comma)
            out += QLatin1Char(',');
        comma = true;
        const TZAbstractObject *v = useTable ? first.value(e.first.toCaseFolded()) : Find(e.first);
        out += QuoteString(e.first) + QLatin1Char(':') + ValueToString(v);
    }
    out += QLatin1Char('}');
    return out;
}

QString TJSONObject::QuoteString(const QString &Text)
{
    if (Text.isEmpty())
        return QStringLiteral("\"\"");
    QString out;
    out.reserve(Text.size() + 2);
    out += QLatin1Char('"');
    QChar prev;
    for (QChar c : Text) {
        const ushort u = c.unicode();
        if (c == '"' || c == '\\') {
            out += QLatin1Char('\\');
            out += c;
        } else if (c == '/') {
            if (prev == '<')
                out += QLatin1Char('\\');
            out += c;
        } else if (u == 10) {
            // Line breaks are escaped: the parser refuses them inside a string,
            // and the written text must read back.
            out += QStringLiteral("\\n");
        } else if (u == 13) {
            out += QStringLiteral("\\r");
        } else if (u == 8 || u == 9 || u == 12) {
            out += c;
        } else if (u < 32) {
            out += QStringLiteral("\\u") + QString::asprintf("%04X", unsigned(u));
        } else {
            out += c;
        }
        prev = c;
    }
    out += QLatin1Char('"');
    return out;
}

QString TJSONObject::NumberToString(const _Number *Value)
{
    if (const auto *i = dynamic_cast<const _Integer *>(Value))
        return i->ToString();
    return JSONFormatDouble(Value->DoubleValue());
}

QString TJSONObject::ValueToString(const TZAbstractObject *Value)
{
    if (!Value || dynamic_cast<const JSONNull *>(Value))
        return QStringLiteral("null");
    if (const auto *n = dynamic_cast<const _Number *>(Value))
        return NumberToString(n);
    if (dynamic_cast<const _Boolean *>(Value) || dynamic_cast<const TJSONObject *>(Value)
        || dynamic_cast<const TJSONArray *>(Value))
        return Value->ToString();
    return QuoteString(Value->ToString());
}

// ---- TJSONArray ---------------------------------------------------------

TJSONArray::TJSONArray(const QString &Text)
{
    JSONTokener x(Text);
    parse(x);
}

TJSONArray::TJSONArray(JSONTokener &x)
{
    parse(x);
}

void TJSONArray::parse(JSONTokener &x)
{
    JSONTokener::DepthGuard guard(x);
    if (x.NextClean() != '[')
        throw x.SyntaxError(QStringLiteral("A TJSONArray must start with \"[\""));
    if (x.NextClean() == ']')
        return;
    x.Back();
    for (;;) {
        if (x.NextClean() == ',') {
            x.Back();
            m_items.emplace_back(nullptr);
        } else {
            x.Back();
            m_items.push_back(x.NextValue());
        }
        const QChar c = x.NextClean();
        if (c == ',' || c == ';') {
            if (x.NextClean() == ']')
                return;
            x.Back();
        } else if (c == ']') {
            return;
        } else {
            throw x.SyntaxError(QStringLiteral("Expected a \",\" or \"]\""));
        }
    }
}

void TJSONArray::Put(JSONValue Value)
{
    m_items.push_back(std::move(Value));
}

TZAbstractObject *TJSONArray::Find(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return m_items[size_t(Index)].get();
}

TZAbstractObject *TJSONArray::Get(int Index) const
{
    TZAbstractObject *v = Find(Index);
    if (!v)
        throw NoSuchElementException(QStringLiteral("TJSONArray[") + QString::number(Index)
                                     + QStringLiteral("] not found."));
    return v;
}

TJSONObject *TJSONArray::GetObject(int Index) const
{
    TZAbstractObject *v = Get(Index);
    if (auto *o = dynamic_cast<TJSONObject *>(v))
        return o;
    throw NoSuchElementException(QStringLiteral("TJSONArray[") + QString::number(Index)
                                 + QStringLiteral("] is not a TJSONObject is ")
                                 + QLatin1String(v->ClassName()));
}

QString TJSONArray::Join(const QString &Separator) const
{
    QString out;
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (i)
            out += Separator;
        out += TJSONObject::ValueToString(m_items[i].get());
    }
    return out;
}

QString TJSONArray::ToString() const
{
    return QLatin1Char('[') + Join(QStringLiteral(",")) + QLatin1Char(']');
}
