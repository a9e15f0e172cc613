#include "core/BrimMultiLangs.h"

#include "core/IniFile.h"
#include "core/TextFormat.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <QStringDecoder>

namespace {

struct Escape
{
    const char16_t *from;
    const char16_t *to;
};

// The order matters: "##" goes first, so "##N" becomes "#N" and then a line feed.
constexpr Escape escapes[] = {
    {u"##", u"#"},        {u"#35", u"#"},       {u"#R", u"\r"},        {u"#13", u"\r"},
    {u"#N", u"\n"},       {u"#10", u"\n"},      {u"#B", u" "},         {u"#32", u" "},
    {u"#T", u"\t"},       {u"#9", u"\t"},       {u"#(C)", u"\u00A9"},  {u"#169", u"\u00A9"},
    {u"#(R)", u"\u00AE"}, {u"#174", u"\u00AE"}, {u"#(TM)", u"\u2122"}, {u"#8482", u"\u2122"},
};

// The profile reader hands back at most this many code units; never cut a
// surrogate pair in half.
QString truncatedValue(const QString &value)
{
    if (value.size() <= TBrimMultiLangs::MaxValueLength)
        return value;
    qsizetype n = TBrimMultiLangs::MaxValueLength;
    if (value.at(n - 1).isHighSurrogate())
        --n;
    return value.left(n);
}

// Every key of a section with the value a profile reader gives for it: the
// first line's value when a key (in any case) is written more than once.
std::vector<std::pair<QString, QString>> profileEntries(const IniFile &ini, const QString &section)
{
    std::vector<std::pair<QString, QString>> out;
    QHash<QString, QString> firstValue;
    QSet<QString> seen;
    for (auto &[key, value] : ini.entries(section)) {
        const QString folded = key.toCaseFolded();
        auto it = firstValue.constFind(folded);
        if (it == firstValue.constEnd())
            it = firstValue.insert(folded, truncatedValue(value));
        if (seen.contains(key))
            continue;
        seen.insert(key);
        out.emplace_back(key, *it);
    }
    return out;
}

TBrimMultiLangs *publishedMultiLangs = nullptr;

} // namespace

QString TBrimMultiLangs::DecodeEscapes(const QString &text)
{
    if (!text.contains(u'#'))
        return text;
    QString out = text;
    for (const Escape &e : escapes)
        out.replace(QString::fromUtf16(e.from), QString::fromUtf16(e.to), Qt::CaseInsensitive);
    return out;
}

void TBrimMultiLangs::SetOnMakeDefault(TNotifyEvent handler)
{
    OnMakeDefault = std::move(handler);
    if (OnMakeDefault) {
        OnMakeDefault(this);
        RaiseLanguageChanged();
    }
}

void TBrimMultiLangs::SetOnLanguageChanged(TNotifyEvent handler)
{
    OnLanguageChanged = std::move(handler);
    RaiseLanguageChanged();
}

void TBrimMultiLangs::RaiseLanguageChanged()
{
    if (OnLanguageChanged) {
        // A handler may replace itself; keep the running one alive.
        const TNotifyEvent handler = OnLanguageChanged;
        handler(this);
    }
}

void TBrimMultiLangs::SetDefaultText(const QString &key, const QString &text)
{
    m_textTable.Add(key, DecodeEscapes(text));
}

void TBrimMultiLangs::SetDefaultFont(int number, const QString &name, TFontStyles style, int size,
                                     quint32 colour)
{
    TBrimFont font;
    font.Name = name;
    font.Style = style;
    font.Size = size;
    font.Color = colour;
    m_fontTable.Add(QString::number(number), std::move(font));
}

void TBrimMultiLangs::SetDefaultFontKey(const QString &fontKey, int number)
{
    m_fontKeyTable.Add(fontKey, QString::number(number));
}

QString TBrimMultiLangs::GetText(const QString &key) const
{
    const QString *text = m_textTable.Find(key);
    return text ? *text : QString();
}

QString TBrimMultiLangs::FormatText(const QString &key, const QVariantList &args) const
{
    return DelphiFormat(GetText(key), args, QLocale());
}

std::optional<TBrimFont> TBrimMultiLangs::GetFont(const QString &fontKey) const
{
    const QString *number = m_fontKeyTable.Find(fontKey);
    int n = 0;
    if (!number || !IniFile::parseInteger(*number, &n))
        return std::nullopt;
    return GetFontByIndex(n);
}

std::optional<TBrimFont> TBrimMultiLangs::GetFontByIndex(int number) const
{
    if (const TBrimFont *font = m_fontTable.Find(QString::number(number)))
        return *font;
    return std::nullopt;
}

std::optional<TBrimLanguage> TBrimMultiLangs::CurrentLanguage() const
{
    if (m_current < 0 || m_current >= LanguageCount())
        return std::nullopt;
    return m_languages[std::size_t(m_current)];
}

void TBrimMultiLangs::LoadLanguageList(const QStringList &files)
{
    m_languages.clear();
    m_current = -1;
    const quint64 generation = ++m_listGeneration;
    bool anySelected = false;
    for (const QString &file : files) {
        const IniFile ini(file);
        TBrimLanguage entry;
        entry.FileName = file;
        entry.LCID = truncatedValue(ini.readString(SectionHead, QStringLiteral("LCID")));
        entry.Code = truncatedValue(ini.readString(SectionHead, QStringLiteral("Code")));
        entry.Name = truncatedValue(ini.readString(SectionHead, QStringLiteral("Name")));
        entry.Selected = ini.readBool(SectionHead, QStringLiteral("Selected"), false);
        m_languages.push_back(entry);
        if (entry.Selected) {
            anySelected = true;
            m_current = LanguageCount() - 1;
            LoadSections(file);
            RaiseLanguageChanged();
            // The handler rebuilt the list; this pass is over.
            if (generation != m_listGeneration)
                return;
        }
    }
    if (!anySelected && !m_languages.empty()) {
        m_current = 0;
        LoadSections(m_languages.front().FileName);
        RaiseLanguageChanged();
    }
}

void TBrimMultiLangs::SelectLanguage(int index)
{
    if (index < 0 || index >= LanguageCount())
        return;
    // Re-selecting the current entry keeps its mark: writing 0 and then 1
    // again would only rewrite the file twice.
    if (m_current >= 0 && m_current < LanguageCount() && m_current != index) {
        TBrimLanguage &previous = m_languages[std::size_t(m_current)];
        previous.Selected = false;
        WriteSelected(previous.FileName, false);
    }
    m_current = index;
    TBrimLanguage &entry = m_languages[std::size_t(index)];
    entry.Selected = true;
    const QString fileName = entry.FileName;
    LoadSections(fileName);
    WriteSelected(fileName, true);
    RaiseLanguageChanged();
}

void TBrimMultiLangs::LoadLanguageFile(const QString &fileName)
{
    if (!QFileInfo(fileName).isFile())
        return;
    LoadLanguageList({fileName});
    SelectLanguage(0);
}

void TBrimMultiLangs::LoadSections(const QString &fileName)
{
    const IniFile ini(fileName);
    for (const auto &[key, value] : profileEntries(ini, SectionFontRes)) {
        // A blank or unusable description leaves that font number undefined.
        if (std::optional<TBrimFont> font = ParseFontDescription(value))
            m_fontTable.Add(key, std::move(*font));
    }
    for (const auto &[key, value] : profileEntries(ini, SectionFontSet))
        m_fontKeyTable.Add(key, value);
    for (const auto &[key, value] : profileEntries(ini, SectionLangItems))
        m_textTable.Add(key, DecodeEscapes(value));
}

bool TBrimMultiLangs::WriteSelected(const QString &fileName, bool selected) const
{
    if (!m_recordsChoice)
        return true;
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    f.close();
    // A file that is not UTF-8 would come back with its undecodable bytes
    // replaced; keeping the vendor's file intact matters more than the mark.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    IniFile ini;
    ini.parse(bytes);
    const QString value = selected ? QStringLiteral("1") : QStringLiteral("0");
    if (ini.valueExists(SectionHead, QStringLiteral("Selected"))
        && ini.readString(SectionHead, QStringLiteral("Selected")) == value)
        return true;
    ini.writeString(SectionHead, QStringLiteral("Selected"), value);
    return ini.saveAs(fileName);
}

TBrimMultiLangs *OVMultiLangs()
{
    return publishedMultiLangs;
}

void SetOVMultiLangs(TBrimMultiLangs *multiLangs)
{
    publishedMultiLangs = multiLangs;
}

QString OVGetText(const QString &key)
{
    return publishedMultiLangs ? publishedMultiLangs->GetText(key) : QString();
}

QString OVFormatText(const QString &key, const QVariantList &args)
{
    return publishedMultiLangs ? publishedMultiLangs->FormatText(key, args) : QString();
}

quint16 OVLanguageId()
{
    const TBrimMultiLangs *langs = OVMultiLangs();
    if (!langs)
        return 0;
    const auto lang = langs->CurrentLanguage();
    if (!lang)
        return 0;
    bool ok = false;
    const uint id = lang->LCID.trimmed().toUInt(&ok, 0);
    return ok && id <= 0xFFFF ? quint16(id) : 0;
}
