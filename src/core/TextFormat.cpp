#include "core/TextFormat.h"

#include <QByteArray>
#include <QMetaType>
#include <cmath>
#include <optional>

namespace {

// Width, precision and index are taken from texts that vendors write; a huge
// value would make us allocate without bound, so it counts as a bad format.
constexpr int MaxSpecifierValue = 1024;
constexpr int MaxFloatPrecision = 18;

struct IntArg
{
    bool negative = false;
    quint64 magnitude = 0;
    // The bit pattern the unsigned and hexadecimal conversions show: 32 bits
    // for 32-bit arguments, 64 bits for wider ones.
    quint64 asUnsigned = 0;
};

std::optional<IntArg> toInteger(const QVariant &v)
{
    IntArg r;
    auto fromSigned = [&r](qint64 value, bool narrow) {
        r.negative = value < 0;
        r.magnitude = r.negative ? 0 - quint64(value) : quint64(value);
        r.asUnsigned = narrow ? quint64(quint32(qint32(value))) : quint64(value);
    };
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::SChar:
        fromSigned(v.toInt(), true);
        return r;
    case QMetaType::Long:
    case QMetaType::LongLong:
        fromSigned(v.toLongLong(), sizeof(long) == 4 && v.typeId() == QMetaType::Long);
        return r;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        r.magnitude = r.asUnsigned = v.toULongLong();
        return r;
    default:
        return std::nullopt;
    }
}

std::optional<double> toFloat(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return v.toDouble();
    default:
        break;
    }
    if (const auto i = toInteger(v)) {
        const double m = double(i->magnitude);
        return i->negative ? -m : m;
    }
    return std::nullopt;
}

std::optional<QString> toText(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::QChar:
        return QString(v.toChar());
    case QMetaType::QByteArray:
        return QString::fromUtf8(v.toByteArray());
    default:
        return std::nullopt;
    }
}

QString zeroPadded(QString digits, int minDigits)
{
    if (digits.size() < minDigits)
        digits.prepend(QString(minDigits - digits.size(), u'0'));
    return digits;
}

// Splits a C-locale fixed or scientific number into the locale's separators.
QString localiseNumber(const QString &plain, const QLocale &locale, bool group)
{
    QString mantissa = plain;
    QString exponent;
    const qsizetype e = plain.indexOf(u'e', 0, Qt::CaseInsensitive);
    if (e >= 0) {
        mantissa = plain.left(e);
        exponent = plain.mid(e);
    }
    QString intPart = mantissa;
    QString fracPart;
    const qsizetype dot = mantissa.indexOf(u'.');
    if (dot >= 0) {
        intPart = mantissa.left(dot);
        fracPart = mantissa.mid(dot + 1);
    }
    if (group && intPart.size() > 3) {
        const QString sep = locale.groupSeparator();
        QString grouped;
        const qsizetype lead = intPart.size() % 3;
        for (qsizetype i = 0; i < intPart.size(); ++i) {
            if (i > 0 && (i - lead) % 3 == 0)
                grouped += sep;
            grouped += intPart.at(i);
        }
        intPart = grouped;
    }
    QString out = intPart;
    if (dot >= 0)
        out += locale.decimalPoint() + fracPart;
    return out + exponent;
}

bool allZeroDigits(const QString &s)
{
    for (QChar c : s)
        if (c.isDigit() && c != u'0')
            return false;
    return true;
}

QString formatFloat(double value, QChar type, int precision, const QLocale &locale)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    QString body;
    switch (type.unicode()) {
    case 'f':
    case 'n':
        body = localiseNumber(QString::number(magnitude, 'f', precision), locale, type == u'n');
        break;
    case 'e': {
        // d.ddd...E+ddd: precision counts significant digits, the exponent
        // has a sign and at least three digits.
        const int digits = qMax(precision, 1);
        QString s = QString::number(magnitude, 'e', digits - 1);
        const qsizetype e = s.indexOf(u'e');
        QString expo = s.mid(e + 1);
        const QChar sign = expo.at(0) == u'-' ? u'-' : u'+';
        if (expo.at(0) == u'-' || expo.at(0) == u'+')
            expo.remove(0, 1);
        body = localiseNumber(s.left(e), locale, false) + u'E' + sign + zeroPadded(expo, 3);
        break;
    }
    default: { // 'g'
        QString s = QString::number(magnitude, 'g', qMax(precision, 1));
        s.replace(u'e', u'E');
        body = localiseNumber(s, locale, false);
        break;
    }
    }
    // A value that rounds to zero shows no sign.
    if (negative && !allZeroDigits(body))
        body.prepend(u'-');
    return body;
}

class Formatter
{
public:
    Formatter(QStringView format, const QVariantList &args, const QLocale &locale)
        : m_format(format)
        , m_args(args)
        , m_locale(locale)
    { }

    std::optional<QString> run()
    {
        QString out;
        out.reserve(m_format.size());
        while (m_pos < m_format.size()) {
            const QChar c = m_format.at(m_pos++);
            if (c != u'%') {
                out += c;
                continue;
            }
            if (m_pos < m_format.size() && m_format.at(m_pos) == u'%') {
                out += u'%';
                ++m_pos;
                continue;
            }
            std::optional<QString> piece = conversion();
            if (!piece)
                return std::nullopt;
            out += *piece;
        }
        return out;
    }

private:
    bool atEnd() const { return m_pos >= m_format.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_format.at(m_pos); }
    static bool isAsciiDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

    // A run of digits or "*"; nullopt when neither is there, -1 on an error.
    std::optional<int> number()
    {
        if (peek() == u'*') {
            ++m_pos;
            if (m_next >= m_args.size())
                return -1;
            const auto v = toInteger(m_args.at(m_next++));
            if (!v || v->negative || v->magnitude > quint64(MaxSpecifierValue))
                return -1;
            return int(v->magnitude);
        }
        if (!isAsciiDigit(peek()))
            return std::nullopt;
        qint64 value = 0;
        while (isAsciiDigit(peek())) {
            value = value * 10 + (peek().unicode() - '0');
            if (value > MaxSpecifierValue)
                return -1;
            ++m_pos;
        }
        return int(value);
    }

    std::optional<QString> conversion()
    {
        bool leftAlign = false;
        int width = 0;
        int precision = -1;
        std::optional<int> first = number();
        if (first == -1)
            return std::nullopt;
        if (first && peek() == u':') {
            ++m_pos;
            m_next = *first;
            first.reset();
        }
        if (first) {
            width = *first;
        } else {
            if (peek() == u'-') {
                leftAlign = true;
                ++m_pos;
            }
            const std::optional<int> w = number();
            if (w == -1)
                return std::nullopt;
            width = w.value_or(0);
        }
        if (peek() == u'.') {
            ++m_pos;
            const std::optional<int> p = number();
            if (p == -1)
                return std::nullopt;
            precision = p.value_or(0);
        }
        if (atEnd())
            return std::nullopt;
        const QChar type = m_format.at(m_pos++).toLower();
        if (m_next >= m_args.size())
            return std::nullopt;
        const QVariant &arg = m_args.at(m_next++);

        QString body;
        switch (type.unicode()) {
        case 'd': {
            const auto v = toInteger(arg);
            if (!v)
                return std::nullopt;
            body = zeroPadded(QString::number(v->magnitude), precision);
            if (v->negative)
                body.prepend(u'-');
            break;
        }
        case 'u':
        case 'x': {
            const auto v = toInteger(arg);
            if (!v)
                return std::nullopt;
            body = zeroPadded(QString::number(v->asUnsigned, type == u'x' ? 16 : 10).toUpper(), precision);
            break;
        }
        case 's': {
            const auto v = toText(arg);
            if (!v)
                return std::nullopt;
            body = precision >= 0 ? v->left(precision) : *v;
            break;
        }
        case 'f':
        case 'n':
        case 'e':
        case 'g': {
            const auto v = toFloat(arg);
            if (!v)
                return std::nullopt;
            int p = precision;
            if (p < 0)
                p = (type == u'f' || type == u'n') ? 2 : 15;
            body = formatFloat(*v, type, qMin(p, MaxFloatPrecision), m_locale);
            break;
        }
        default:
            return std::nullopt;
        }
        if (body.size() < width) {
            const QString pad(width - body.size(), u' ');
            body = leftAlign ? body + pad : pad + body;
        }
        return body;
    }

    QStringView m_format;
    const QVariantList &m_args;
    const QLocale &m_locale;
    qsizetype m_pos = 0;
    qsizetype m_next = 0;
};

} // namespace

QString DelphiFormat(QStringView format, const QVariantList &args, const QLocale &locale, bool *ok)
{
    std::optional<QString> result = Formatter(format, args, locale).run();
    if (ok)
        *ok = result.has_value();
    return result.value_or(QString());
}
