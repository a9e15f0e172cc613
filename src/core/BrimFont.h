#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// Font styles as language files name them.
enum TFontStyle : unsigned {
    fsBold = 1u << 0,
    fsItalic = 1u << 1,
    fsUnderline = 1u << 2,
    fsStrikeOut = 1u << 3
};
using TFontStyles = unsigned;

// A font as the language component describes it; windows turn it into a real
// font when they apply it. Fields a description leaves out keep the defaults.
struct TBrimFont
{
    // Marks "the platform's default text colour" (no explicit colour given).
    static constexpr quint32 DefaultColor = 0xFF000000u;

    QString Name; // empty: the platform's default font family
    quint32 Color = DefaultColor; // 0x00BBGGRR
    int Size = 0; // points; 0: the platform's default size
    TFontStyles Style = 0;

    // Red, green and blue of an explicit colour.
    int Red() const { return int(Color & 0xFF); }
    int Green() const { return int((Color >> 8) & 0xFF); }
    int Blue() const { return int((Color >> 16) & 0xFF); }
    bool HasColor() const { return Color <= 0xFFFFFFu; }

    bool operator==(const TBrimFont &) const = default;
};

// Parses "name;colour;size;style" (parts not trimmed): colour in hexadecimal
// as 0x00BBGGRR, size in points, style an optional "[...]" list of fsBold,
// fsItalic, fsUnderline, fsStrikeOut compared without regard to case. Missing
// trailing parts keep the defaults; a colour or size that does not parse is
// skipped; an unknown style name is ignored. A blank description gives none.
std::optional<TBrimFont> ParseFontDescription(QStringView description);

// The style part as written in descriptions, e.g. "[fsBold,fsItalic]".
QString FontStylesToText(TFontStyles style);
