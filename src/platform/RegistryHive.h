#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace platform {

// Value types, with the numbers the registry text format writes.
enum RegValueType : quint32 {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_QWORD = 11,
};

// One named value. String types written as str/str(N) keep their text;
// every other form keeps its bytes (little-endian as the registry stores them).
struct RegValue
{
    QString name; // empty: the key's default value ("@")
    quint32 type = REG_NONE;
    bool isText = false;
    QString text;
    QByteArray bytes;

    // The value as a string, for REG_SZ and REG_EXPAND_SZ only (stored bytes
    // are read as UTF-16LE up to the first NUL); nothing for other types.
    std::optional<QString> stringValue() const;
    // The value as a number, for REG_DWORD only.
    std::optional<quint32> dwordValue() const;
    // How the value reads back to a person ("REG_SZ", "text" ...).
    QString typeName() const;
    QString dataText() const;
};

// A hive file in the registry text format: a "WINE REGISTRY Version 2"
// header, then keys in brackets (path components separated by "\\"), each
// followed by its values ("name"=data) and option lines ("#time=...").
// Lines the reader does not interpret (comments, options, blank lines) are
// kept and written back as they were; so are keys and values nobody changed.
//
// A file that does not follow the format is "damaged": what could be read
// is readable, keys with an unreadable line are left out, and it must never
// be written back (its unreadable parts would be lost).
class RegHive
{
public:
    RegHive();
    ~RegHive();
    RegHive(const RegHive &) = delete;
    RegHive &operator=(const RegHive &) = delete;

    // A new, empty hive (just the header).
    static std::unique_ptr<RegHive> createEmpty();
    // Reads file bytes; never fails, but may leave the hive damaged.
    static std::unique_ptr<RegHive> parse(const QByteArray &data);
    QByteArray serialize() const;

    bool isDamaged() const { return m_damaged; }
    // Human-readable reasons the file is damaged, with line numbers.
    const QStringList &problems() const { return m_problems; }

    // Key paths are given without a root and without leading or trailing
    // backslashes; they compare ignoring case. The empty path is the root,
    // which always exists. A key exists when it was written or has a subkey.
    bool keyExists(const QString &path) const;
    // Direct subkey names, sorted ignoring case, spelled as first written.
    QStringList subKeyNames(const QString &path) const;
    // The same subkeys with their values (none for a key that exists only as a parent):
    // a scan of many keys looks none of them up by path.
    struct SubKey
    {
        QString name;
        QList<RegValue> values;
    };
    QList<SubKey> subKeys(const QString &path) const;
    // Values of a key that was written (none for a key that exists only as a parent).
    const QList<RegValue> *values(const QString &path) const;
    const RegValue *value(const QString &path, const QString &name) const;

    // Edits. createKey makes the key (and nothing else: parents are implied).
    void createKey(const QString &path);
    void setValue(const QString &path, const RegValue &value);
    // False when there was no such value.
    bool deleteValue(const QString &path, const QString &name);
    // Removes the key and every key below it; false when it did not exist.
    bool deleteTree(const QString &path);

    // Normalised form of a path as used for lookups: backslash-separated,
    // no empty components, lower-cased.
    static QString lookupKey(const QString &path);
    static QString normalisePath(const QString &path);

private:
    struct Key;
    struct Node;
    Key *findKey(const QString &path) const;
    Node *findNode(const QString &path) const;
    void addToTree(int keyIndex);
    void rebuildTree();
    void parseInto(const QByteArray &data);

    QByteArray m_preamble; // header and lines before the first key, as read
    QList<Key *> m_keys; // in file order; owned
    std::unique_ptr<Node> m_root;
    QHash<QString, Key *> m_byPath; // lookupKey -> readable key
    bool m_damaged = false;
    QStringList m_problems;
};

// Escaping used by the format for quoted strings and key names.
QByteArray regEscape(const QString &text, bool keyName = false);

} // namespace platform
