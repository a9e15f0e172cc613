#include "core/BrimSystem.h"
#include "installed/InstalledSource.h"
#include "installed/UninstManager.h"
#include "installed/UninstallKeyScan.h"
#include "platform/FileIO.h"
#include "platform/FileVersion.h"
#include "platform/ProcessJob.h"
#include "platform/RegistryHive.h"
#include "platform/WinePrefix.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstring>

namespace installed {

namespace {

// How long an uninstall or a removal waits for the prefix's wineserver to
// end and write its hive files, after Wine's own programs have ended. A
// server kept alive by another program of the prefix is not waited for longer.
constexpr int kServerSaveWaitMs = 15000;

// The part of a hive file below the uninstall keys, with the file's header
// line: a prefix's system.reg holds tens of thousands of other keys, and
// parsing only this part keeps a rescan fast. A key's block runs from its
// "[" line to the next one (value and continuation lines never start with "[").
QByteArray uninstallKeysOnly(const QByteArray &data)
{
    static const QByteArray wanted[] = {
        QByteArrayLiteral("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall"),
        QByteArrayLiteral("[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall"),
    };
    const qsizetype firstLine = data.indexOf('\n');
    if (firstLine < 0)
        return data;
    QByteArray out = data.left(firstLine + 1);
    const char *d = data.constData();
    const qsizetype n = data.size();
    qsizetype at = firstLine + 1;
    bool keep = false;
    while (at < n) {
        const char *nl = static_cast<const char *>(memchr(d + at, '\n', size_t(n - at)));
        const qsizetype end = nl ? qsizetype(nl - d) + 1 : n;
        if (d[at] == '[') {
            keep = false;
            for (const QByteArray &w : wanted)
                if (end - at > w.size() && qstrnicmp(d + at, w.constData(), size_t(w.size())) == 0
                    && (d[at + w.size()] == '\\' || d[at + w.size()] == ']'))
                    keep = true;
        }
        if (keep)
            out.append(d + at, end - at);
        at = end;
    }
    return out;
}

// One hive file of the prefix, parsed again only when the file changed.
struct HiveFile
{
    QString file;
    qint64 size = -1;
    QDateTime modified;
    std::shared_ptr<const platform::RegHive> hive;

    const platform::RegHive *load()
    {
        const QFileInfo info(file);
        if (!info.isFile()) {
            hive.reset();
            size = -1;
            return nullptr;
        }
        if (!hive || info.size() != size || info.lastModified() != modified) {
            hive = platform::RegHive::parse(uninstallKeysOnly(platform::readWholeFile(file)));
            size = info.size();
            modified = info.lastModified();
        }
        return hive.get();
    }
};

const QString kMachine = QStringLiteral("HKEY_LOCAL_MACHINE\\");
const QString kUser = QStringLiteral("HKEY_CURRENT_USER\\");

// The prefix's hives under the two root names Wine's own reg tool takes.
class PrefixKeys final : public UninstallKeyReader
{
public:
    const platform::RegHive *machine = nullptr;
    const platform::RegHive *user = nullptr;

    QList<platform::RegHive::SubKey> SubKeys(const QString &Path) override
    {
        QString key;
        const platform::RegHive *hive = hiveFor(Path, key);
        return hive ? hive->subKeys(key) : QList<platform::RegHive::SubKey>();
    }

private:
    const platform::RegHive *hiveFor(const QString &Path, QString &key) const
    {
        if (Path.startsWith(kMachine)) {
            key = Path.mid(kMachine.size());
            return machine;
        }
        if (Path.startsWith(kUser)) {
            key = Path.mid(kUser.size());
            return user;
        }
        return nullptr;
    }
};

// "C:\x\app.exe,1" or "\"C:\x\app.exe\",-101": the file and the icon number.
void splitIconLocation(const QString &text, QString &file, int &index)
{
    file = text.trimmed();
    index = 0;
    const qsizetype comma = file.lastIndexOf(u',');
    if (comma > 0) {
        bool ok = false;
        const int n = file.mid(comma + 1).trimmed().toInt(&ok);
        if (ok) {
            index = n;
            file = file.left(comma).trimmed();
        }
    }
    if (file.size() >= 2 && file.startsWith(u'"') && file.endsWith(u'"'))
        file = file.mid(1, file.size() - 2);
}

// The icon of a Windows file of the prefix as a picture file the tab can
// show: an .ico as it is; an executable's icon group written once into the
// cache, named after the file's identity so a changed file gets a new picture.
QString iconPicture(const QString &linuxFile, int index)
{
    const QFileInfo info(linuxFile);
    if (!info.isFile())
        return {};
    if (info.suffix().compare(QStringLiteral("ico"), Qt::CaseInsensitive) == 0)
        return linuxFile;
    const QByteArray id = (linuxFile + u'|' + QString::number(index) + u'|' + QString::number(info.size())
                           + u'|' + QString::number(info.lastModified().toMSecsSinceEpoch()))
                              .toUtf8();
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/orvane/wine-icons/");
    const QString picture = dir
        + QString::fromLatin1(QCryptographicHash::hash(id, QCryptographicHash::Sha1).toHex())
        + QStringLiteral(".ico");
    if (QFileInfo::exists(picture))
        return picture;
    const QByteArray ico = platform::readPeIconFile(linuxFile, index);
    if (ico.isEmpty())
        return {};
    QString error;
    if (platform::makeDirectories(dir) != 0 || !platform::writeFileAtomically(picture, ico, error))
        return {};
    return picture;
}

// The program an uninstall command starts, as Windows finds it: a quoted
// path, else the shortest run of words that names an existing file.
QStringList uninstallWords(const QString &prefix, const QString &command)
{
    QStringList words = platform::splitWindowsCommandLine(command);
    if (words.isEmpty() || command.trimmed().startsWith(u'"'))
        return words;
    for (int n = 1; n <= words.size(); ++n) {
        const QString candidate = QStringList(words.mid(0, n)).join(u' ');
        const QString linux = platform::wineLinuxPath(prefix, candidate);
        if (!linux.isEmpty() && QFileInfo(linux).isFile()) {
            return QStringList {candidate} + words.mid(n);
        }
    }
    return words;
}

class WineSource final : public InstalledSource
{
public:
    explicit WineSource(QString Prefix)
        : m_fixedPrefix(std::move(Prefix))
    { }

    EntrySource Kind() const override { return EntrySource::Wine; }

    void Scan(TUninstManager &Manager, std::vector<std::unique_ptr<TUninstItem>> &Entries) override
    {
        const QString prefix = Prefix();
        if (prefix != m_machine.file.section(u'/', 0, -2)) {
            m_machine = HiveFile();
            m_machine.file = prefix + QStringLiteral("/system.reg");
            m_user = HiveFile();
            m_user.file = prefix + QStringLiteral("/user.reg");
        }
        PrefixKeys keys;
        keys.machine = m_machine.load();
        keys.user = m_user.load();
        if (!keys.machine && !keys.user)
            return;
        const QString uninstall = QStringLiteral("Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
        const QStringList roots = {kMachine + QStringLiteral("Software\\") + uninstall,
                                   kMachine + QStringLiteral("Software\\Wow6432Node\\") + uninstall,
                                   kUser + QStringLiteral("Software\\") + uninstall};
        const size_t first = Entries.size();
        for (const QString &root : roots)
            ScanUninstallKeys(Manager, keys, root, Entries);
        for (size_t i = first; i < Entries.size(); ++i) {
            TUninstItem &item = *Entries[i];
            item.Source = EntrySource::Wine;
            const QString location = platform::wineLinuxPath(prefix, item.InstallLocation);
            if (!location.isEmpty())
                item.InstallLocation = location;
            QString iconFile;
            int index = 0;
            splitIconLocation(item.IconFile, iconFile, index);
            QString picture = iconFile.isEmpty()
                ? QString()
                : iconPicture(platform::wineLinuxPath(prefix, iconFile), index);
            if (picture.isEmpty() && item.HasUninstallCommand()) {
                const QStringList words = uninstallWords(prefix, item.UninstallString);
                if (!words.isEmpty())
                    picture = iconPicture(platform::wineLinuxPath(prefix, words.first()), 0);
            }
            if (!picture.isEmpty())
                item.SmallIconIndex = item.LargeIconIndex = Manager.IconIndexFor(picture);
        }
    }

    UninstallJob MakeUninstallJob(const TUninstItem &Item) override
    {
        const QString prefix = Prefix();
        const QStringList argv = platform::wineArgv(prefix, WindowsArgs(prefix, Item.UninstallString));
        return [argv, prefix](const std::atomic<bool> *cancel) {
            // The wait ends with Wine's programs of this run (an NSIS
            // uninstaller's copy of itself included); wineserver has a session
            // of its own and is not waited for here.
            RunAndWait(argv, INFINITE_WAIT, SW_SHOWNORMAL, cancel);
            // Until the server has written the hive files, the rescan would
            // still read the entry.
            if (!(cancel && cancel->load()))
                platform::waitForWineServer(prefix, kServerSaveWaitMs);
            return QString();
        };
    }

    // Wine's registry tool and the server's save take seconds: never on the
    // main thread. Never handed on to the program's own registry: the key
    // names the prefix's.
    RemoveJob MakeRemoveJob(const TUninstItem &Item) override
    {
        const QString prefix = Prefix();
        QString key = Item.KeyPath;
        while (key.endsWith(u'\\'))
            key.chop(1);
        return [prefix, key](const std::atomic<bool> *cancel) {
            if (key.isEmpty())
                return;
            platform::runAndWaitForExit(
                platform::wineArgv(
                    prefix, {QStringLiteral("reg"), QStringLiteral("delete"), key, QStringLiteral("/f")}),
                60000);
            if (!(cancel && cancel->load()))
                platform::waitForWineServer(prefix, kServerSaveWaitMs);
        };
    }

    // The words wine is given: an installer-service command goes to Wine's msiexec.
    static QStringList WindowsArgs(const QString &prefix, const QString &command)
    {
        QStringList words = uninstallWords(prefix, command);
        if (words.isEmpty())
            return words;
        const QString program = QFileInfo(QString(words.first()).replace(u'\\', u'/')).fileName();
        if (program.compare(QStringLiteral("msiexec.exe"), Qt::CaseInsensitive) == 0
            || program.compare(QStringLiteral("msiexec"), Qt::CaseInsensitive) == 0)
            words[0] = QStringLiteral("msiexec");
        return words;
    }

private:
    QString Prefix() const { return m_fixedPrefix.isEmpty() ? platform::defaultWinePrefix() : m_fixedPrefix; }

    QString m_fixedPrefix;
    HiveFile m_machine;
    HiveFile m_user;
};

} // namespace

std::unique_ptr<InstalledSource> MakeWineSource(const QString &Prefix)
{
    return std::make_unique<WineSource>(Prefix);
}

} // namespace installed
