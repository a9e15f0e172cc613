#include "ui/OVLangBridge.h"

#include "core/BrimMultiLangs.h"
#include "core/OVDefaultTexts.h"

#include <QPalette>
#include <QWidget>

namespace ovlang {

void Deleter::operator()(TBrimMultiLangs *multiLangs) const
{
    delete multiLangs;
}

Owner Create()
{
    return Owner(new TBrimMultiLangs);
}

void SetupEvents(TBrimMultiLangs *multiLangs, std::function<void(TBrimMultiLangs *Sender)> changed)
{
    if (!multiLangs)
        return;
    multiLangs->SetOnMakeDefault(MultiLangsMakeDefault);
    multiLangs->SetOnLanguageChanged(std::move(changed));
}

void LoadLanguageFile(TBrimMultiLangs *multiLangs, const QString &fileName)
{
    if (multiLangs)
        multiLangs->LoadLanguageFile(fileName);
}

std::optional<Font> GetFont(const TBrimMultiLangs *multiLangs, const QString &fontKey)
{
    if (!multiLangs)
        return std::nullopt;
    const std::optional<TBrimFont> f = multiLangs->GetFont(fontKey);
    if (!f)
        return std::nullopt;
    Font out;
    if (!f->Name.isEmpty())
        out.font.setFamily(f->Name);
    if (f->Size > 0)
        out.font.setPointSize(f->Size);
    out.font.setBold(f->Style & fsBold);
    out.font.setItalic(f->Style & fsItalic);
    out.font.setUnderline(f->Style & fsUnderline);
    out.font.setStrikeOut(f->Style & fsStrikeOut);
    if (f->HasColor())
        out.color = QColor(f->Red(), f->Green(), f->Blue());
    return out;
}

void ApplyFont(QWidget *widget, const Font &font)
{
    if (!widget)
        return;
    QFont merged = font.font.resolve(widget->font());
    widget->setFont(merged);
    if (font.color.isValid()) {
        QPalette pal = widget->palette();
        pal.setColor(QPalette::WindowText, font.color);
        widget->setPalette(pal);
    }
}

} // namespace ovlang
