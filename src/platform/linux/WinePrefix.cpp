#include "platform/WinePrefix.h"

#include "platform/ProcessJob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace platform {

QString defaultWinePrefix()
{
    const QString env = qEnvironmentVariable("WINEPREFIX");
    if (!env.isEmpty())
        return QDir::cleanPath(env);
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/.wine"));
}

QString wineProgram()
{
    const QString env = qEnvironmentVariable("ORVANE_WINE");
    if (!env.isEmpty())
        return QFileInfo(env).isExecutable() ? env : QString();
    return QStandardPaths::findExecutable(QStringLiteral("wine"));
}

QString wineLinuxPath(const QString &prefix, const QString &windowsPath)
{
    const QString p = windowsPath.trimmed();
    if (p.size() < 2 || p.at(1) != u':' || !p.at(0).isLetter() || p.at(0).unicode() > 127)
        return {};
    const QString link = prefix + QStringLiteral("/dosdevices/") + p.at(0).toLower() + u':';
    QString base = QFileInfo(link).canonicalFilePath();
    if (base.isEmpty())
        return {};
    const QStringList parts
        = p.mid(2).split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        QString next = base + u'/' + part;
        if (!QFileInfo::exists(next)) {
            // Windows names ignore case: find the entry spelled otherwise.
            const QStringList entries
                = QDir(base).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
            for (const QString &e : entries)
                if (e.compare(part, Qt::CaseInsensitive) == 0) {
                    next = base + u'/' + e;
                    break;
                }
        }
        base = next == QStringLiteral("//") ? QStringLiteral("/") : next;
        if (base.startsWith(QStringLiteral("//")))
            base.remove(0, 1);
    }
    return base;
}

QStringList splitWindowsCommandLine(const QString &commandLine)
{
    QStringList words;
    const QString s = commandLine;
    qsizetype i = 0;
    while (i < s.size() && s.at(i).isSpace())
        ++i;
    if (i >= s.size())
        return words;
    // The program name: quoted up to the next quote, else up to white space.
    QString program;
    if (s.at(i) == u'"') {
        const qsizetype end = s.indexOf(u'"', i + 1);
        program = s.mid(i + 1, end < 0 ? -1 : end - i - 1);
        i = end < 0 ? s.size() : end + 1;
    } else {
        while (i < s.size() && !s.at(i).isSpace())
            program += s.at(i++);
    }
    words << program;
    QString current;
    bool inWord = false;
    bool quoted = false;
    while (i < s.size()) {
        const QChar c = s.at(i);
        if (c.isSpace() && !quoted) {
            if (inWord)
                words << current;
            current.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == u'\\') {
            qsizetype n = 0;
            while (i < s.size() && s.at(i) == u'\\') {
                ++n;
                ++i;
            }
            if (i < s.size() && s.at(i) == u'"') {
                current += QString(n / 2, u'\\');
                if (n % 2) {
                    current += u'"';
                    ++i;
                }
            } else {
                current += QString(n, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            // Inside quotes a doubled quote is a literal one.
            if (quoted && i + 1 < s.size() && s.at(i + 1) == u'"') {
                current += u'"';
                i += 2;
                continue;
            }
            quoted = !quoted;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inWord)
        words << current;
    return words;
}

QStringList wineArgv(const QString &prefix, const QStringList &windowsArgs)
{
    QString wine = wineProgram();
    if (wine.isEmpty())
        wine = QStringLiteral("wine");
    return QStringList {QStringLiteral("/usr/bin/env"), QStringLiteral("WINEPREFIX=") + prefix,
                        QStringLiteral("WINEDEBUG=-all"), wine}
    + windowsArgs;
}

bool waitForWineServer(const QString &prefix, int timeoutMs)
{
    // "wineserver -w" returns at once when no server runs for the prefix.
    QString server = QStandardPaths::findExecutable(QStringLiteral("wineserver"));
    const QString wine = wineProgram();
    const QString beside = QFileInfo(wine).absolutePath() + QStringLiteral("/wineserver");
    if (!wine.isEmpty() && QFileInfo(beside).isExecutable())
        server = beside;
    if (server.isEmpty())
        return true;
    const int rc = runAndWaitForExit({QStringLiteral("/usr/bin/env"), QStringLiteral("WINEPREFIX=") + prefix,
                                      server, QStringLiteral("-w")},
                                     timeoutMs);
    return rc != kStillRunning;
}

} // namespace platform
