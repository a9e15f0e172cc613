#include "db/DictFieldValue.h"

#include "platform/AnsiCodePage.h"

#include <cmath>

namespace dictdb {

namespace {

constexpr qint64 kJulianDayOfDayZero = 1721425; // 31 December 1 BC in the proleptic Gregorian calendar

template<typename T> T readAs(const FieldBytes &b)
{
    T v {};
    std::memcpy(&v, b.constData(), std::min<size_t>(sizeof v, size_t(b.size())));
    return v;
}
template<typename T> FieldBytes bytesOf(T v)
{
    return FieldBytes(reinterpret_cast<const char *>(&v), sizeof v);
}

[[noreturn]] void badValue(const QString &text, const char *what)
{
    throw EDictDBError(QStringLiteral("'%1' is not a valid %2").arg(text, QLatin1String(what)));
}

qint64 toInt64(const QVariant &v)
{
    bool ok = false;
    qint64 r = 0;
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Double:
    case QMetaType::Float:
        return qint64(std::llround(v.toDouble()));
    case QMetaType::QString:
    case QMetaType::QByteArray:
        r = v.toString().trimmed().toLongLong(&ok);
        if (!ok)
            badValue(v.toString(), "integer value");
        return r;
    default:
        r = v.toLongLong(&ok);
        if (!ok)
            badValue(v.toString(), "integer value");
        return r;
    }
}

double toDouble(const QVariant &v)
{
    bool ok = false;
    double r = 0;
    if (v.typeId() == QMetaType::QString) {
        r = v.toString().trimmed().toDouble(&ok);
        if (!ok)
            badValue(v.toString(), "floating point value");
        return r;
    }
    r = v.toDouble(&ok);
    if (!ok)
        badValue(v.toString(), "floating point value");
    return r;
}

QDateTime toDateTime(const QVariant &v)
{
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime();
    if (v.typeId() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0));
    if (v.typeId() == QMetaType::QTime)
        return QDateTime(dateOfDayNumber(0), v.toTime());
    const QString s = v.toString().trimmed();
    for (const char *fmt :
         {"yyyy-MM-dd hh:mm:ss.zzz", "yyyy-MM-dd hh:mm:ss", "yyyy-MM-ddThh:mm:ss", "yyyy-MM-dd"}) {
        const QDateTime dt = QDateTime::fromString(s, QLatin1String(fmt));
        if (dt.isValid())
            return dt;
    }
    const QTime t = QTime::fromString(s, QLatin1String("hh:mm:ss"));
    if (t.isValid())
        return QDateTime(dateOfDayNumber(0), t);
    badValue(s, "date and time");
}

int sign(double d)
{
    return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

} // namespace

bool valueToBool(const QVariant &v)
{
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || s == QLatin1String("1"))
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || s == QLatin1String("0")
            || s.isEmpty())
            return false;
        badValue(s, "boolean value");
    }
    return v.toBool();
}

int32_t dayNumberOf(const QDate &date)
{
    return int32_t(date.toJulianDay() - kJulianDayOfDayZero);
}
QDate dateOfDayNumber(int32_t day)
{
    return QDate::fromJulianDay(qint64(day) + kJulianDayOfDayZero);
}

QVariant decodeFieldValue(const TDictFieldDef &def, const FieldBytes &b)
{
    switch (def.FieldType) {
    case ftString:
    case ftFixedChar:
        return platform::fromAnsiCodePage(getCStr(b.constData(), int(b.size())));
    case ftSmallint:
        return int(readAs<int16_t>(b));
    case ftWord:
        return int(readAs<uint16_t>(b));
    case ftBoolean:
        return readAs<int16_t>(b) != 0;
    case ftInteger:
    case ftAutoInc:
        return int(readAs<int32_t>(b));
    case ftLargeint:
        return qlonglong(readAs<int64_t>(b));
    case ftFloat:
    case ftCurrency:
        return readAs<double>(b);
    case ftDate:
        return dateOfDayNumber(readAs<int32_t>(b));
    case ftTime:
        return QTime::fromMSecsSinceStartOfDay(std::clamp(readAs<int32_t>(b), 0, 86399999));
    case ftDateTime: {
        const double v = readAs<double>(b);
        if (!std::isfinite(v) || std::fabs(v) > 1e18)
            return QDateTime();
        const qint64 total = qint64(std::llround(v));
        const qint64 day = total >= 0 ? total / 86400000 : -((-total + 86399999) / 86400000);
        return QDateTime(dateOfDayNumber(int32_t(day)),
                         QTime::fromMSecsSinceStartOfDay(int(total - day * 86400000)));
    }
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
        return platform::fromAnsiCodePage(b);
    default:
        return b;
    }
}

FieldBytes encodeFieldValue(const TDictFieldDef &def, const QVariant &v)
{
    switch (def.FieldType) {
    case ftString:
    case ftFixedChar: {
        FieldBytes out(def.Size, 0);
        const QByteArray text = platform::toAnsiCodePage(v.toString()).left(def.FieldSize);
        std::memcpy(out.data(), text.constData(), size_t(text.size()));
        return out;
    }
    case ftSmallint:
        return bytesOf(int16_t(toInt64(v)));
    case ftWord:
        return bytesOf(uint16_t(toInt64(v)));
    case ftBoolean:
        return bytesOf(int16_t(valueToBool(v) ? 1 : 0));
    case ftInteger:
    case ftAutoInc:
        return bytesOf(int32_t(toInt64(v)));
    case ftLargeint:
        return bytesOf(int64_t(toInt64(v)));
    case ftFloat:
    case ftCurrency:
        return bytesOf(toDouble(v));
    case ftDate:
        return bytesOf(dayNumberOf(toDateTime(v).date()));
    case ftTime:
        return bytesOf(int32_t(toDateTime(v).time().msecsSinceStartOfDay()));
    case ftDateTime: {
        const QDateTime dt = toDateTime(v);
        return bytesOf(double(dayNumberOf(dt.date())) * kMsPerDay + dt.time().msecsSinceStartOfDay());
    }
    default:
        if (def.IsBlob())
            return v.typeId() == QMetaType::QByteArray ? v.toByteArray()
                                                       : platform::toAnsiCodePage(v.toString());
        throw EDictDBError(QStringLiteral("General error"));
    }
}

QString fieldText(const TDictFieldDef &def, const FieldBytes &b)
{
    const QVariant v = decodeFieldValue(def, b);
    switch (def.FieldType) {
    case ftBoolean:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case ftFloat:
    case ftCurrency:
        return QString::number(v.toDouble(), 'g', 15);
    case ftDate:
        return v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case ftTime:
        return v.toTime().toString(QStringLiteral("hh:mm:ss"));
    case ftDateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.toString(dt.time().msec() ? QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")
                                            : QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    default:
        if (def.IsBlob() && v.typeId() == QMetaType::QByteArray)
            return platform::fromAnsiCodePage(b);
        return v.toString();
    }
}

int compareFieldBytes(const TDictFieldDef &def, const FieldBytes &a, const FieldBytes &b, bool ci,
                      bool partial)
{
    switch (def.FieldType) {
    case ftString:
    case ftFixedChar:
        return compareText(platform::fromAnsiCodePage(getCStr(a.constData(), int(a.size()))),
                           platform::fromAnsiCodePage(getCStr(b.constData(), int(b.size()))), ci, partial);
    case ftSmallint:
        return sign(double(readAs<int16_t>(a)) - readAs<int16_t>(b));
    case ftWord:
        return sign(double(readAs<uint16_t>(a)) - readAs<uint16_t>(b));
    case ftBoolean:
        return int(readAs<int16_t>(a) != 0) - int(readAs<int16_t>(b) != 0);
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime: {
        const auto x = readAs<int32_t>(a), y = readAs<int32_t>(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case ftLargeint: {
        const auto x = readAs<int64_t>(a), y = readAs<int64_t>(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case ftFloat:
    case ftCurrency:
    case ftDateTime: {
        const double x = readAs<double>(a), y = readAs<double>(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    default:
        // blob and memo values compare as text
        return compareText(platform::fromAnsiCodePage(a), platform::fromAnsiCodePage(b), ci, partial);
    }
}

} // namespace dictdb
