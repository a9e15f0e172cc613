#include "core/BrimFont.h"

#include <QList>
#include <QStringList>
#include <cctype>

namespace {

struct StyleName
{
    const char16_t *name;
    TFontStyle style;
};

constexpr StyleName styleNames[] = {
    {u"fsBold", fsBold},
    {u"fsItalic", fsItalic},
    {u"fsUnderline", fsUnderline},
    {u"fsStrikeOut", fsStrikeOut},
};

// Sizes outside this range cannot be rendered sensibly; a language file that
// asks for them is treated like one whose size does not parse.
constexpr int MaxFontSize = 1000;

} // namespace

std::optional<TBrimFont> ParseFontDescription(QStringView description)
{
    if (description.trimmed().isEmpty())
        return std::nullopt;
    const QList<QStringView> parts = description.split(u';');
    TBrimFont font;
    font.Name = parts.at(0).toString();
    if (parts.size() > 1) {
        bool ok = false;
        const QStringView hex = parts.at(1);
        // Hexadecimal digits only: no sign, no prefix, no blanks.
        bool digitsOnly = !hex.isEmpty() && hex.size() <= 8;
        for (QChar c : hex)
            digitsOnly = digitsOnly && c.unicode() < 128 && std::isxdigit(c.unicode());
        const uint colour = digitsOnly ? hex.toUInt(&ok, 16) : 0;
        if (ok && colour <= 0xFFFFFFu)
            font.Color = colour;
    }
    if (parts.size() > 2) {
        bool ok = false;
        const int size = parts.at(2).toInt(&ok, 10);
        if (ok && size > 0 && size <= MaxFontSize)
            font.Size = size;
    }
    if (parts.size() > 3) {
        QStringView list = parts.at(3);
        if (list.startsWith(u'['))
            list = list.mid(1);
        if (list.endsWith(u']'))
            list.chop(1);
        for (QStringView name : list.split(u','))
            for (const StyleName &s : styleNames)
                if (name.compare(QStringView(s.name), Qt::CaseInsensitive) == 0)
                    font.Style |= s.style;
    }
    return font;
}

QString FontStylesToText(TFontStyles style)
{
    QStringList names;
    for (const StyleName &s : styleNames)
        if (style & s.style)
            names << QString::fromUtf16(s.name);
    return u'[' + names.join(u',') + u']';
}
