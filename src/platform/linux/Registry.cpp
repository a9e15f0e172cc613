#include "platform/Registry.h"

#include "platform/AppPath.h"
#include "platform/FileIO.h"
#include "platform/FileStamp.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct RootName
{
    const char16_t *longName;
    const char16_t *shortName;
    quint32 key;
};
constexpr RootName kRoots[] = {
    {u"HKEY_CLASSES_ROOT", u"HKCR", HKEY_CLASSES_ROOT},
    {u"HKEY_CURRENT_USER", u"HKCU", HKEY_CURRENT_USER},
    {u"HKEY_LOCAL_MACHINE", u"HKLM", HKEY_LOCAL_MACHINE},
    {u"HKEY_USERS", u"HKU", HKEY_USERS},
    {u"HKEY_PERFORMANCE_DATA", u"HKPD", HKEY_PERFORMANCE_DATA},
    {u"HKEY_CURRENT_CONFIG", u"HKCC", HKEY_CURRENT_CONFIG},
    {u"HKEY_DYN_DATA", u"HKDD", HKEY_DYN_DATA},
};

struct HiveSlot
{
    FileStamp stamp;
    bool loaded = false;
    std::shared_ptr<const RegHive> hive;
    quint64 checkedInScope = 0;
};

struct State
{
    QMutex mutex;
    QString hiveDir; // empty: <app>Registry/
    std::map<quint32, HiveSlot> hives;
};

State &state()
{
    static State s;
    return s;
}

std::atomic<quint64> g_generation {1};
std::atomic<quint64> g_scopeCounter {0};
thread_local quint64 t_scope = 0;
thread_local int t_scopeDepth = 0;

QString hiveDirLocked(const State &s)
{
    QString dir = s.hiveDir.isEmpty() ? applicationDirectory() + QStringLiteral("Registry/") : s.hiveDir;
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

QString hiveFileLocked(const State &s, quint32 root)
{
    return hiveDirLocked(s) + RegRootName(root) + QStringLiteral(".reg");
}

// ---- caches ----------------------------------------------------------------

bool checkedThisScope(quint64 checkedIn)
{
    return t_scopeDepth > 0 && checkedIn == t_scope;
}

std::shared_ptr<const RegHive> hiveLocked(State &s, quint32 root)
{
    HiveSlot &slot = s.hives[root];
    if (slot.loaded && checkedThisScope(slot.checkedInScope))
        return slot.hive;
    const QString file = hiveFileLocked(s, root);
    const FileStamp stamp = fileStampOf(file);
    if (!slot.loaded || !(stamp == slot.stamp)) {
        const QByteArray data = stamp.Valid ? readWholeFile(file) : QByteArray();
        slot.hive = RegHive::parse(data);
        slot.stamp = stamp;
        slot.loaded = true;
        ++g_generation;
    }
    slot.checkedInScope = t_scopeDepth > 0 ? t_scope : 0;
    return slot.hive;
}

// An opened key: where its values live.
struct KeyRef
{
    bool exists = false;
    std::shared_ptr<const RegHive> hive;
    const QList<RegValue> *values = nullptr;
    quint32 root = 0;
    QString keyPath;
};

struct LastKey
{
    QString path;
    quint64 generation = 0;
    quint64 scope = 0;
    KeyRef ref;
};
thread_local LastKey t_last;

// The key a path names. Inside a read scope the key opened last is reused
// without looking anything up again: a scan reads many values of one key in a row.
const KeyRef &openKey(const QString &path)
{
    if (t_scopeDepth > 0 && t_last.scope == t_scope && t_last.generation == g_generation.load()
        && t_last.path == path)
        return t_last.ref;
    State &s = state();
    QString rootName, keyPath;
    RegSplitPath(path, rootName, keyPath);
    const quint32 root = RegRootKey(rootName);
    KeyRef ref;
    if (root != 0) {
        QMutexLocker lock(&s.mutex);
        std::shared_ptr<const RegHive> hive = hiveLocked(s, root);
        lock.unlock();
        ref.root = root;
        ref.keyPath = keyPath;
        ref.hive = hive;
        // A key with values exists; only one without them needs the second look-up.
        ref.values = hive->values(keyPath);
        ref.exists = ref.values || hive->keyExists(keyPath);
    }
    t_last.path = path;
    t_last.generation = g_generation.load();
    t_last.scope = t_scopeDepth > 0 ? t_scope : 0;
    t_last.ref = std::move(ref);
    return t_last.ref;
}

const RegValue *findValue(const KeyRef &key, const QString &name)
{
    if (!key.values)
        return nullptr;
    // Names are nearly always asked for as they were written: try that cheap match first.
    for (const RegValue &v : *key.values)
        if (v.name == name)
            return &v;
    for (const RegValue &v : *key.values)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0)
            return &v;
    return nullptr;
}

// ---- writing ---------------------------------------------------------------

class HiveFileLock
{
public:
    explicit HiveFileLock(const QString &lockFile)
    {
        m_fd = ::open(QFile::encodeName(lockFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0)
            return;
        struct flock fl;
        std::memset(&fl, 0, sizeof fl);
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        while (::fcntl(m_fd, F_OFD_SETLKW, &fl) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~HiveFileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // closing the description releases its lock
    }
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Locks the root's hive file, reads it afresh, lets change edit it and, when
// change reports an edit, writes it back atomically.
template<typename Change> RegWriteResult editHive(const QString &path, Change change)
{
    RegWriteResult result;
    QString rootName, keyPath;
    RegSplitPath(path, rootName, keyPath);
    const quint32 root = RegRootKey(rootName);
    if (root == 0) {
        result.error = QStringLiteral("unknown root key \"%1\"").arg(rootName);
        return result;
    }
    State &s = state();
    QString file, dir;
    {
        QMutexLocker lock(&s.mutex);
        file = hiveFileLocked(s, root);
        dir = hiveDirLocked(s);
    }
    if (!QDir().mkpath(dir)) {
        result.error = QStringLiteral("cannot create the registry folder %1").arg(dir);
        return result;
    }
    HiveFileLock fileLock(file + QStringLiteral(".lock"));
    if (!fileLock.held()) {
        result.error = QStringLiteral("cannot lock %1").arg(file);
        return result;
    }
    bool readOk = true;
    const bool exists = QFileInfo::exists(file);
    const QByteArray data = exists ? readWholeFile(file, &readOk) : QByteArray();
    if (!readOk) {
        result.error = QStringLiteral("cannot read %1").arg(file);
        return result;
    }
    std::unique_ptr<RegHive> hive = RegHive::parse(data);
    if (hive->isDamaged()) {
        result.error = QStringLiteral("%1 does not parse (%2); it is left unchanged")
                           .arg(file, hive->problems().value(0));
        return result;
    }
    bool changed = false;
    result = change(*hive, keyPath, changed);
    if (!result.ok || !changed)
        return result;
    QString error;
    if (!writeFileAtomically(file, hive->serialize(), error)) {
        result.ok = false;
        result.error = error;
        return result;
    }
    {
        QMutexLocker lock(&s.mutex);
        s.hives[root].loaded = false;
        ++g_generation;
    }
    return result;
}

RegWriteResult success()
{
    RegWriteResult r;
    r.ok = true;
    return r;
}

} // namespace

quint32 RegRootKey(const QString &rootName)
{
    for (const RootName &r : kRoots)
        if (rootName.compare(QStringView(r.longName), Qt::CaseInsensitive) == 0
            || rootName.compare(QStringView(r.shortName), Qt::CaseInsensitive) == 0)
            return r.key;
    return 0;
}

QString RegRootName(quint32 root)
{
    for (const RootName &r : kRoots)
        if (r.key == root)
            return QString::fromUtf16(r.longName);
    return {};
}

void RegSplitPath(const QString &path, QString &rootName, QString &keyPath)
{
    const qsizetype slash = path.indexOf(u'\\');
    if (slash < 0) {
        rootName = path;
        keyPath.clear();
        return;
    }
    rootName = path.left(slash);
    keyPath = path.mid(slash + 1);
}

qint32 RegReadInteger(const QString &path, const QString &valueName)
{
    const KeyRef &key = openKey(path);
    const RegValue *v = findValue(key, valueName);
    if (!v)
        return 0;
    return qint32(v->dwordValue().value_or(0));
}

QString RegReadString(const QString &path, const QString &valueName)
{
    const KeyRef &key = openKey(path);
    const RegValue *v = findValue(key, valueName);
    if (!v)
        return {};
    return v->stringValue().value_or(QString());
}

int RegKeyNames(const QString &path, QStringList &names)
{
    names.clear();
    const KeyRef &key = openKey(path);
    if (!key.exists)
        return 0;
    if (!key.hive)
        return 0;
    names = key.hive->subKeyNames(key.keyPath);
    return int(names.size());
}

QList<RegHive::SubKey> RegReadSubKeys(const QString &path)
{
    const KeyRef &key = openKey(path);
    if (!key.exists || !key.hive)
        return {};
    return key.hive->subKeys(key.keyPath);
}

bool RegValueExists(const QString &path, const QString &valueName)
{
    if (valueName.isEmpty())
        return true;
    const KeyRef &key = openKey(path);
    return key.exists && findValue(key, valueName) != nullptr;
}

QList<RegValue> RegReadValues(const QString &path)
{
    const KeyRef &key = openKey(path);
    return key.values ? *key.values : QList<RegValue>();
}

bool RegKeyExists(const QString &path)
{
    return openKey(path).exists;
}

bool RegDeleteKeyTree(const QString &parentPath, const QString &keyName)
{
    QString parent = parentPath;
    while (parent.endsWith(u'\\'))
        parent.chop(1);
    if (!openKey(parent).exists)
        return true;
    const QString path = parent + u'\\' + keyName;
    if (keyName.trimmed().isEmpty() || !openKey(path).exists)
        return true;
    if (RegDeleteKey(path).ok)
        return true;
    QStringList subKeys;
    if (RegKeyNames(path, subKeys) == 0)
        return false;
    bool ok = true;
    for (const QString &sub : subKeys)
        ok = RegDeleteKeyTree(path, sub) && ok;
    return ok;
}

RegWriteResult RegCreateKey(const QString &path)
{
    return editHive(path, [](RegHive &hive, const QString &keyPath, bool &changed) {
        if (RegHive::normalisePath(keyPath).isEmpty()) {
            RegWriteResult r;
            r.error = QStringLiteral("no key name given below the root");
            return r;
        }
        if (!hive.values(keyPath)) {
            hive.createKey(keyPath);
            changed = true;
        }
        return success();
    });
}

RegWriteResult RegSetValue(const QString &path, const RegValue &value)
{
    return editHive(path, [&value](RegHive &hive, const QString &keyPath, bool &changed) {
        if (RegHive::normalisePath(keyPath).isEmpty()) {
            RegWriteResult r;
            r.error = QStringLiteral("no key name given below the root");
            return r;
        }
        hive.setValue(keyPath, value);
        changed = true;
        return success();
    });
}

RegWriteResult RegDeleteValue(const QString &path, const QString &valueName, bool *notFound)
{
    if (notFound)
        *notFound = false;
    return editHive(path, [&](RegHive &hive, const QString &keyPath, bool &changed) {
        changed = hive.deleteValue(keyPath, valueName);
        if (!changed && notFound)
            *notFound = true;
        return success();
    });
}

RegWriteResult RegDeleteKey(const QString &path, bool *notFound)
{
    if (notFound)
        *notFound = false;
    return editHive(path, [&](RegHive &hive, const QString &keyPath, bool &changed) {
        if (RegHive::normalisePath(keyPath).isEmpty()) {
            RegWriteResult r;
            r.error = QStringLiteral("a root key cannot be deleted");
            return r;
        }
        changed = hive.deleteTree(keyPath);
        if (!changed && notFound)
            *notFound = true;
        return success();
    });
}

void setRegistryDirectory(const QString &dir)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.hiveDir = dir;
    s.hives.clear();
    ++g_generation;
}

QString registryDirectory()
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    return hiveDirLocked(s);
}

QString hiveFileName(quint32 root)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    return RegRootName(root).isEmpty() ? QString() : hiveFileLocked(s, root);
}

QStringList hiveProblems(quint32 root)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    if (RegRootName(root).isEmpty())
        return {};
    return hiveLocked(s, root)->problems();
}

RegistryReadScope::RegistryReadScope()
{
    if (t_scopeDepth++ == 0)
        t_scope = ++g_scopeCounter;
}

RegistryReadScope::~RegistryReadScope()
{
    if (--t_scopeDepth == 0)
        t_scope = 0;
}

} // namespace platform
