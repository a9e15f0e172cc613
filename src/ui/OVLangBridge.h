#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

class TBrimMultiLangs;

// The language component as the windows use it: texts, and font
// descriptions turned into Qt fonts and colours.
namespace ovlang {

struct Deleter
{
    void operator()(TBrimMultiLangs *multiLangs) const;
};
using Owner = std::unique_ptr<TBrimMultiLangs, Deleter>;

Owner Create();
// OnMakeDefault := the built-in defaults, then OnLanguageChanged := changed;
// each runs at once, so every caption holds its default text afterwards.
void SetupEvents(TBrimMultiLangs *multiLangs, std::function<void(TBrimMultiLangs *Sender)> changed);
void LoadLanguageFile(TBrimMultiLangs *multiLangs, const QString &fileName);

struct Font
{
    QFont font;
    QColor color; // invalid: the platform's default colour
};
// The font a font key names, as a real font; none when the key names none.
std::optional<Font> GetFont(const TBrimMultiLangs *multiLangs, const QString &fontKey);
// A font applied over a widget's own font and text colour.
void ApplyFont(QWidget *widget, const Font &font);

} // namespace ovlang
