#pragma once

#include "platform/RegistryHive.h"

#include <QString>
#include <QStringList>

namespace platform {

// The registry: one hive file per root in the registry text format under a
// folder (<app>Registry/ unless set). Paths are one text: root name,
// backslash, key path ("HKCU\Software\X").

inline constexpr quint32 HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr quint32 HKEY_CURRENT_USER = 0x80000001u;
inline constexpr quint32 HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr quint32 HKEY_USERS = 0x80000003u;
inline constexpr quint32 HKEY_PERFORMANCE_DATA = 0x80000004u;
inline constexpr quint32 HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr quint32 HKEY_DYN_DATA = 0x80000006u;

// Where uninstall entries live below HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
inline constexpr char16_t kUninstallKeyPath[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The root key of a root name, long or short, ignoring case; 0 for any other text.
quint32 RegRootKey(const QString &rootName);
// The long name of a root key ("HKEY_CURRENT_USER"); empty for 0 or an unknown value.
QString RegRootName(quint32 root);
// Root name (before the first backslash) and the key path below it (the rest).
void RegSplitPath(const QString &path, QString &rootName, QString &keyPath);

// The value if it is a REG_DWORD, else 0 (also when the key cannot be opened).
// An empty value name means the key's default value.
qint32 RegReadInteger(const QString &path, const QString &valueName);
// The value if it is REG_SZ or REG_EXPAND_SZ (taken as stored), else empty text.
QString RegReadString(const QString &path, const QString &valueName);
// Names of the key's subkeys into names; their count, 0 when the key cannot be opened.
int RegKeyNames(const QString &path, QStringList &names);
// Whether the value exists in a key that can be opened; an empty value name
// always gives true.
bool RegValueExists(const QString &path, const QString &valueName);
// Deletes parentPath\keyName with all its subkeys. True when the parent
// cannot be opened, the key does not exist, or the key was deleted. When the
// key itself cannot be deleted but has subkeys, each subkey's tree is
// deleted in turn and the result is false if one of them fails; a key that
// cannot be deleted and has no subkeys gives false.
bool RegDeleteKeyTree(const QString &parentPath, const QString &keyName);

// Every value of a key (nothing when it cannot be opened).
QList<RegValue> RegReadValues(const QString &path);
// Every direct subkey of a key with its values, in RegKeyNames' order.
QList<RegHive::SubKey> RegReadSubKeys(const QString &path);
bool RegKeyExists(const QString &path);

// Changes, for tools that edit the hives. Each locks the hive file against
// other processes, re-reads it, changes it and replaces it atomically. They
// fail with a message for an unknown root, a hive file that does not parse
// (it is never overwritten) and file errors.
struct RegWriteResult
{
    bool ok = false;
    QString error;
    explicit operator bool() const { return ok; }
};
RegWriteResult RegCreateKey(const QString &path);
RegWriteResult RegSetValue(const QString &path, const RegValue &value);
// notFound is set when the key or the value did not exist (no error then).
RegWriteResult RegDeleteValue(const QString &path, const QString &valueName, bool *notFound = nullptr);
RegWriteResult RegDeleteKey(const QString &path, bool *notFound = nullptr);

// Settings. The hive folder defaults to <app>Registry/.
void setRegistryDirectory(const QString &dir);
QString registryDirectory();
// The hive file of a root (whether or not it exists).
QString hiveFileName(quint32 root);
// Problems of a hive file that does not parse; empty when it parses or is absent.
QStringList hiveProblems(quint32 root);

// While one of these exists on a thread, each hive file is checked for changes on disk only once (at first
// use) instead of at every call: a scan that reads thousands of values sees one consistent state and does not
// ask the file system each time.
class RegistryReadScope
{
public:
    RegistryReadScope();
    ~RegistryReadScope();
    RegistryReadScope(const RegistryReadScope &) = delete;
    RegistryReadScope &operator=(const RegistryReadScope &) = delete;
};

} // namespace platform
