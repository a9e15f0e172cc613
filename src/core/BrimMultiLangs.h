#pragma once

#include "core/BrimFont.h"
#include "core/BrimHashTable.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <optional>
#include <vector>

// One language file known to the language component.
struct TBrimLanguage
{
    QString FileName; // full path
    QString LCID; // [HEAD] LCID, as written
    QString Code; // [HEAD] Code
    QString Name; // [HEAD] Name
    bool Selected = false;
};

// Texts and caption fonts of the user interface. Built-in defaults are
// registered first; a language file then adds its entries on top, and since
// the tables only grow, a key the file lacks keeps its earlier value.
// Main thread only.
class TBrimMultiLangs
{
public:
    using TNotifyEvent = std::function<void(TBrimMultiLangs *Sender)>;

    // Section and key names of language files.
    static inline const QString SectionHead = QStringLiteral("HEAD");
    static inline const QString SectionFontRes = QStringLiteral("FONT_RES");
    static inline const QString SectionFontSet = QStringLiteral("FONT_SET");
    static inline const QString SectionLangItems = QStringLiteral("LANG_ITEMS");
    // Longest value the profile reader hands back, in UTF-16 code units.
    static constexpr int MaxValueLength = 2047;

    TBrimMultiLangs() = default;
    TBrimMultiLangs(const TBrimMultiLangs &) = delete;
    TBrimMultiLangs &operator=(const TBrimMultiLangs &) = delete;

    // Fills the defaults. Assigning it with SetOnMakeDefault runs it at once.
    TNotifyEvent OnMakeDefault;
    // A language has been loaded (and once when the handler is assigned with
    // SetOnLanguageChanged): the owner re-applies every text.
    TNotifyEvent OnLanguageChanged;

    // Assign the events the way the owner sets them up: the defaults are
    // registered at once (and announced if a change handler is already set),
    // and a change handler is run at once so every caption gets its text.
    void SetOnMakeDefault(TNotifyEvent handler);
    void SetOnLanguageChanged(TNotifyEvent handler);

    void SetDefaultText(const QString &key, const QString &text);
    void SetDefaultFont(int number, const QString &name, TFontStyles style, int size, quint32 colour);
    void SetDefaultFontKey(const QString &fontKey, int number);

    // The newest text for the key; empty when it was never added.
    QString GetText(const QString &key) const;
    // GetText(key) used as a format string; empty when the format does not fit
    // the arguments. Numbers use the separators of the user's locale.
    QString FormatText(const QString &key, const QVariantList &args) const;
    std::optional<TBrimFont> GetFont(const QString &fontKey) const;
    std::optional<TBrimFont> GetFontByIndex(int number) const;

    // Rebuilds the language list from the files and loads the one marked
    // selected (or the first).
    void LoadLanguageList(const QStringList &files);
    // Makes an entry current, loads it and records the choice in the files.
    void SelectLanguage(int index);
    // Loads one language file if it exists; nothing happens otherwise.
    void LoadLanguageFile(const QString &fileName);
    // Whether the choice is recorded in the files. Files a package installed belong to the
    // package manager, which would see them changed; the user's choice is kept elsewhere then.
    void SetRecordsChoiceInFiles(bool records) { m_recordsChoice = records; }

    std::optional<TBrimLanguage> CurrentLanguage() const;
    int CurrentIndex() const { return m_current; }
    int LanguageCount() const { return int(m_languages.size()); }
    const TBrimLanguage &Language(int index) const { return m_languages.at(std::size_t(index)); }

    // Replaces the sixteen "#" escapes of language texts, in their fixed order,
    // each everywhere and without regard to case.
    static QString DecodeEscapes(const QString &text);

private:
    void LoadSections(const QString &fileName);
    void RaiseLanguageChanged();
    // Writes [HEAD] Selected into the file, leaving it alone when the value is
    // already there or the file could not be written back faithfully.
    bool WriteSelected(const QString &fileName, bool selected) const;

    std::vector<TBrimLanguage> m_languages;
    int m_current = -1;
    // Bumped whenever the list is rebuilt, so a loop over it notices that an
    // event handler replaced it.
    quint64 m_listGeneration = 0;
    bool m_recordsChoice = true;
    TBrimHashTable<QString> m_textTable;
    TBrimHashTable<TBrimFont> m_fontTable;
    TBrimHashTable<QString> m_fontKeyTable;
};

// The language component the main window publishes for the rest of the
// program; null until then (texts are empty).
TBrimMultiLangs *OVMultiLangs();
void SetOVMultiLangs(TBrimMultiLangs *multiLangs);
// Texts of the published component; empty when none is published.
QString OVGetText(const QString &key);
QString OVFormatText(const QString &key, const QVariantList &args);
// The locale identifier of the published component's current language (for
// message boxes); 0 when none is published or it names none.
quint16 OVLanguageId();
