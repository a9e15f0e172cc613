#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// An INI document with Windows profile semantics: sections and keys match
// without regard to case, a written key replaces the old value in place (or is
// appended to its section), and a missing section is appended at the end.
// The whole file is held in memory; save() replaces the file atomically.
class IniFile
{
public:
    IniFile() = default;
    explicit IniFile(const QString &fileName);

    // Reads the file; a missing or unreadable file gives an empty document.
    bool load(const QString &fileName);
    void parse(const QByteArray &utf8);
    QByteArray serialize() const;
    // Writes to a temporary file beside the target, then renames it.
    bool save() const;
    bool saveAs(const QString &fileName) const;

    QString fileName() const { return m_fileName; }
    bool exists() const { return m_existed; }

    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    QStringList sections() const;
    QStringList keys(const QString &section) const;
    // Every key of a section in file order with its value as readString would
    // give it for that line; a key written twice appears twice (with each
    // line's own value). Linear in the section's size, unlike readString per key.
    std::vector<std::pair<QString, QString>> entries(const QString &section) const;

    // Value with surrounding blanks removed and one pair of matching quotes stripped.
    QString readString(const QString &section, const QString &key, const QString &defaultValue = {}) const;
    // The value as a whole integer (decimal, or hexadecimal with "$" or "0x"); else the default.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    void eraseSection(const QString &section);
    void deleteKey(const QString &section, const QString &key);

    // Parses a whole-text integer the way the settings expect; false when it is not one.
    static bool parseInteger(const QString &text, int *value);

private:
    struct Entry
    {
        QString key; // empty for comments and blank lines
        QString value;
        QString raw; // the original line for comments
    };
    struct Section
    {
        QString name;
        std::vector<Entry> entries;
    };

    const Section *findSection(const QString &name) const;
    Section *findSection(const QString &name);
    const Entry *findEntry(const QString &section, const QString &key) const;

    QString m_fileName;
    bool m_existed = false;
    std::vector<Entry> m_preamble; // lines before the first section
    std::vector<Section> m_sections;
};
