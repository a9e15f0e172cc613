#include "app/BrimSystem.h"

#include "platform/AppPath.h"
#include "platform/ProcessJob.h"

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

quint32 RunAndWait(const QString &commandLine, quint32 timeoutMs, int showCmd)
{
    return RunAndWait(SplitCommandLine(commandLine), timeoutMs, showCmd);
}

quint32 RunAndWait(const QStringList &argv, quint32 timeoutMs, int /*showCmd*/, const std::atomic<bool> *cancel)
{
    return platform::runJobAndWait(argv, timeoutMs, cancel);
}
