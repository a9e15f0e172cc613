#include "core/BrimSystem.h"

#include "platform/AppPath.h"
#include "platform/FileVersion.h"
#include "platform/Launcher.h"
#include "platform/Privileges.h"
#include "platform/ProcessJob.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>

namespace {

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

bool isFileName(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace

QString GetAppPath()
{
    return platform::applicationDirectory();
}

QStringList SplitCommandLine(const QString &commandLine)
{
    QStringList words;
    QString current;
    bool inWord = false;
    enum { None, Single, Double } quote = None;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine.at(i);
        if (quote == Single) {
            if (c == u'\'')
                quote = None;
            else
                current += c;
            continue;
        }
        if (quote == Double) {
            if (c == u'"') {
                quote = None;
            } else if (c == u'\\' && i + 1 < commandLine.size()
                       && QStringLiteral("\"\\$`\n").contains(commandLine.at(i + 1))) {
                current += commandLine.at(++i);
            } else {
                current += c;
            }
            continue;
        }
        if (c.isSpace()) {
            if (inWord) {
                words << current;
                current.clear();
                inWord = false;
            }
            continue;
        }
        inWord = true;
        if (c == u'\'')
            quote = Single;
        else if (c == u'"')
            quote = Double;
        else if (c == u'\\' && i + 1 < commandLine.size())
            current += commandLine.at(++i);
        else
            current += c;
    }
    if (inWord)
        words << current;
    return words;
}

void RunCommandLine(const QString &commandLine, int showCmd)
{
    RunCommandLine(SplitCommandLine(commandLine), showCmd);
}

void RunCommandLine(const QStringList &argv, int /*showCmd*/)
{
    if (!argv.isEmpty() && !argv.first().isEmpty())
        platform::launcher().startProgram(argv);
}

quint32 RunAndWait(const QString &commandLine, quint32 timeoutMs, int showCmd)
{
    return RunAndWait(SplitCommandLine(commandLine), timeoutMs, showCmd);
}

quint32 RunAndWait(const QStringList &argv, quint32 timeoutMs, int /*showCmd*/,
                   const std::atomic<bool> *cancel, int *exitStatus)
{
    return platform::runJobAndWait(argv, timeoutMs, cancel, exitStatus);
}

bool ShellOpen(const QString &target)
{
    const QString t = target.trimmed();
    if (t.isEmpty())
        return false;
    if (isExecutableFile(t))
        return platform::launcher().startProgram({QFileInfo(t).absoluteFilePath()});
    return platform::launcher().openWithDesktop(t);
}

bool ShellExecuteOpen(const QString &file, const QString &parameters, int /*showCmd*/)
{
    if (file.trimmed().isEmpty())
        return false;
    if (isExecutableFile(file))
        return platform::launcher().startProgram(QStringList {QFileInfo(file).absoluteFilePath()}
                                                 + SplitCommandLine(parameters));
    return platform::launcher().openWithDesktop(file);
}

bool OpenFolder(const QString &dir, const QString &fileName)
{
    QString d = dir;
    if (!d.endsWith(u'/'))
        d += u'/';
    if (dir.isEmpty() || !QFileInfo(d).isDir())
        return false;
    const QString path = d + fileName;
    if (!fileName.isEmpty() && QFileInfo(path).isFile())
        return platform::launcher().showItem(path);
    return platform::launcher().showFolder(d);
}

bool SelectInExplorer(const QString &fileName)
{
    if (!isFileName(fileName))
        return false;
    return platform::launcher().showItem(QFileInfo(fileName).absoluteFilePath());
}

bool ShowFileProperties(const QString &fileName)
{
    if (!isFileName(fileName))
        return false;
    return platform::launcher().showItemProperties(QFileInfo(fileName).absoluteFilePath());
}

bool ClearDirectory(const QString &dir)
{
    QString d = dir;
    if (d.endsWith(u'/') || d.endsWith(u'\\'))
        d.chop(1);
    // An empty name would be the file system's root once the slash is gone.
    if (d.isEmpty())
        return false;
    const QFileInfo info(d);
    if (info.isSymLink()) {
        // Remove the link itself, never what it points at.
        if (!QFile::remove(d))
            return false;
    } else {
        if (!info.isDir())
            return false;
        if (!QDir(d).removeRecursively())
            return false;
    }
    return QDir().mkpath(d);
}

QString ExpandEnvironmentText(const QString &text)
{
    auto isNameStart = [](QChar c) { return c == u'_' || (c.isLetter() && c.unicode() < 128); };
    auto isNameChar = [&](QChar c) { return isNameStart(c) || (c.isDigit() && c.unicode() < 128); };
    auto lookup = [](const QString &name, QString *value) {
        if (name.isEmpty() || !qEnvironmentVariableIsSet(name.toLocal8Bit().constData()))
            return false;
        *value = qEnvironmentVariable(name.toLocal8Bit().constData());
        return true;
    };
    QString out;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text.at(i);
        QString value;
        if (c == u'%') {
            const qsizetype close = text.indexOf(u'%', i + 1);
            if (close > i + 1 && lookup(text.mid(i + 1, close - i - 1), &value)) {
                out += value;
                i = close + 1;
                continue;
            }
        } else if (c == u'$' && i + 1 < text.size() && text.at(i + 1) == u'{') {
            const qsizetype close = text.indexOf(u'}', i + 2);
            if (close > i + 2 && lookup(text.mid(i + 2, close - i - 2), &value)) {
                out += value;
                i = close + 1;
                continue;
            }
        } else if (c == u'$' && i + 1 < text.size() && isNameStart(text.at(i + 1))) {
            qsizetype end = i + 1;
            while (end < text.size() && isNameChar(text.at(end)))
                ++end;
            if (lookup(text.mid(i + 1, end - i - 1), &value)) {
                out += value;
                i = end;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

bool FindFileEx(const QString &name)
{
    if (isFileName(name))
        return true;
    const QString text = ExpandEnvironmentText(name);
    if (isFileName(text))
        return true;
    if (text.isEmpty())
        return false;
    QStringList dirs;
    for (const QString &entry : qEnvironmentVariable("PATH").split(u':'))
        if (!entry.isEmpty())
            dirs << entry;
    for (const QString &dir : dirs)
        if (isFileName(dir + u'/' + text))
            return true;
    if (dirs.isEmpty())
        return false;
    // A program followed by its arguments: cut at the last space, again and again.
    QString cut = text;
    for (qsizetype space = cut.lastIndexOf(u' '); space > 0; space = cut.lastIndexOf(u' ')) {
        cut.truncate(space);
        if (isFileName(cut))
            return true;
    }
    return false;
}

QString GetFileVersionText(const QString &fileName)
{
    QString file = fileName.trimmed();
    if (file.isEmpty())
        file = platform::executablePath();
    else if (!QFileInfo(file).isFile())
        return {};
    const auto info = platform::readFileVersionInfo(file);
    if (!info || !info->hasFixedInfo)
        return {};
    return platform::formatVersion(info->fileVersionMS, info->fileVersionLS);
}

quint32 EnablePrivilege(const QString &name, qint64 pid)
{
    return platform::enablePrivilege(name, pid);
}

int CompareTextOrder(const QString &a, const QString &b, bool ascending)
{
    auto upper = [](char16_t c) -> int { return (c >= u'a' && c <= u'z') ? c - 32 : c; };
    const qsizetype n = std::min(a.size(), b.size());
    int result = 0;
    for (qsizetype i = 0; i < n && result == 0; ++i)
        result = upper(a.at(i).unicode()) - upper(b.at(i).unicode());
    if (result == 0)
        result = int(std::clamp<qsizetype>(a.size() - b.size(), -1, 1));
    return ascending ? result : -result;
}

int CompareFloatOrder(bool ascending, double a, double b)
{
    int result;
    if (std::isnan(a) || std::isnan(b))
        result = std::isnan(a) == std::isnan(b) ? 0 : (std::isnan(a) ? -1 : 1);
    else
        result = a == b ? 0 : (a > b ? 1 : -1);
    return ascending ? result : -result;
}
