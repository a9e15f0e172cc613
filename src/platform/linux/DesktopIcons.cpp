#include "platform/DesktopIcons.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <mutex>

namespace platform {
namespace {

struct IconIndex
{
    bool built = false;
    bool foldersSet = false;
    QStringList folders;
    QHash<QString, QString> byPath; // resolved executable path -> icon
    QHash<QString, QString> byName; // executable file name -> icon
    QHash<QString, QString> entryByPath; // resolved executable path -> desktop entry file
    QHash<QString, QString> entryByName; // executable file name -> desktop entry file
    QHash<QString, QString> entryById; // desktop file id without ".desktop" -> desktop entry file
};

std::mutex &indexLock()
{
    static std::mutex lock;
    return lock;
}

IconIndex &iconIndex()
{
    static IconIndex index;
    return index;
}

// First word of an Exec value, honouring double quotes; "env A=b prog" names prog.
QString execProgram(const QString &exec)
{
    QStringList words;
    QString word;
    bool quoted = false, any = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                word += exec.at(++i);
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = any = true;
        } else if (c.isSpace()) {
            if (any || !word.isEmpty())
                words << word;
            word.clear();
            any = false;
            if (words.size() >= 8)
                break;
        } else {
            word += c;
            any = true;
        }
    }
    if (any || !word.isEmpty())
        words << word;
    int i = 0;
    if (i < words.size() && (words[i] == QLatin1String("env") || words[i].endsWith(QLatin1String("/env")))) {
        ++i;
        while (i < words.size()
               && (words[i].contains(QLatin1Char('=')) || words[i].startsWith(QLatin1Char('-'))))
            ++i;
    }
    return i < words.size() ? words[i] : QString();
}

QString resolveProgram(const QString &program)
{
    if (program.isEmpty())
        return {};
    if (program.contains(QLatin1Char('/')))
        return QFileInfo(program).canonicalFilePath();
    const QStringList path = qEnvironmentVariable("PATH", QStringLiteral("/usr/local/bin:/usr/bin:/bin"))
                                 .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : path) {
        const QFileInfo candidate(dir + QLatin1Char('/') + program);
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.canonicalFilePath();
    }
    return {};
}

} // namespace

QHash<QString, QString> readDesktopEntry(const QString &file)
{
    QHash<QString, QString> keys;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > (1 << 20))
        return keys;
    bool inMain = false;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inMain && eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}

namespace {

void readEntry(const QString &file, IconIndex &index)
{
    const QHash<QString, QString> entry = readDesktopEntry(file);
    const QString exec = entry.value(QStringLiteral("Exec"));
    const QString tryExec = entry.value(QStringLiteral("TryExec"));
    const QString icon = entry.value(QStringLiteral("Icon"));
    const QString id = QFileInfo(file).completeBaseName();
    if (!index.entryById.contains(id))
        index.entryById.insert(id, file);
    // An entry that starts a shell, an interpreter or a launcher says nothing about every other
    // program that one runs.
    static const QRegularExpression launcher(QStringLiteral(
        "^(sh|bash|dash|zsh|env|flatpak|sudo|pkexec|gio|xdg-open|wine|wine64|python[0-9.]*|perl|java)$"));
    for (const QString &program : {execProgram(exec), tryExec}) {
        if (program.isEmpty())
            continue;
        const QString resolved = resolveProgram(program);
        const QString name = QFileInfo(program).fileName();
        if (launcher.match(name).hasMatch())
            continue;
        if (!resolved.isEmpty() && !index.entryByPath.contains(resolved))
            index.entryByPath.insert(resolved, file);
        if (!name.isEmpty() && !index.entryByName.contains(name))
            index.entryByName.insert(name, file);
        if (icon.isEmpty())
            continue;
        if (!resolved.isEmpty() && !index.byPath.contains(resolved))
            index.byPath.insert(resolved, icon);
        if (!name.isEmpty() && !index.byName.contains(name))
            index.byName.insert(name, icon);
    }
}

void buildIndex(IconIndex &index)
{
    index.byPath.clear();
    index.byName.clear();
    index.entryByPath.clear();
    index.entryByName.clear();
    index.entryById.clear();
    const QStringList folders = index.foldersSet ? index.folders : desktopEntryFolders();
    // Earlier folders take precedence, as the base directory rules say.
    for (const QString &folder : folders) {
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            readEntry(it.next(), index);
    }
    index.built = true;
}

} // namespace

QString desktopExecProgram(const QString &exec)
{
    return execProgram(exec);
}

QString resolveDesktopProgram(const QString &program)
{
    return resolveProgram(program);
}

QStringList desktopEntryFolders()
{
    QStringList folders;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    folders << home + QStringLiteral("/applications");
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << dir + QStringLiteral("/applications");
    return folders;
}

void setDesktopEntryFolders(const QStringList &folders)
{
    const std::lock_guard<std::mutex> guard(indexLock());
    IconIndex &index = iconIndex();
    index.folders = folders;
    index.foldersSet = true;
    index.built = false;
}

namespace {
// By the resolved path, the path as given, then the file name.
QString findByProgram(const QHash<QString, QString> &byPath, const QHash<QString, QString> &byName,
                      const QString &executablePath)
{
    const QString resolved = QFileInfo(executablePath).canonicalFilePath();
    if (!resolved.isEmpty()) {
        const auto it = byPath.constFind(resolved);
        if (it != byPath.constEnd())
            return *it;
    }
    const auto it = byPath.constFind(executablePath);
    if (it != byPath.constEnd())
        return *it;
    return byName.value(QFileInfo(executablePath).fileName());
}
} // namespace

namespace {

// One look-up in the built index by a program's path, through the two tables a caller names.
QString lookUpByProgram(const QString &executablePath, QHash<QString, QString> IconIndex::*byPath,
                        QHash<QString, QString> IconIndex::*byName)
{
    if (executablePath.trimmed().isEmpty())
        return {};
    const std::lock_guard<std::mutex> guard(indexLock());
    IconIndex &index = iconIndex();
    if (!index.built)
        buildIndex(index);
    return findByProgram(index.*byPath, index.*byName, executablePath);
}

} // namespace

QString desktopIconFor(const QString &executablePath)
{
    return lookUpByProgram(executablePath, &IconIndex::byPath, &IconIndex::byName);
}

QString desktopEntryFileFor(const QString &executablePath)
{
    return lookUpByProgram(executablePath, &IconIndex::entryByPath, &IconIndex::entryByName);
}

QString desktopEntryFileOfId(const QString &applicationId)
{
    if (applicationId.isEmpty())
        return {};
    const std::lock_guard<std::mutex> guard(indexLock());
    IconIndex &index = iconIndex();
    if (!index.built)
        buildIndex(index);
    return index.entryById.value(applicationId);
}

} // namespace platform
