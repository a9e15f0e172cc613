#include "core/OVCommandLine.h"

#include "core/IniFile.h"

#include <QCoreApplication>

namespace {
std::function<void(int)> tabSelector;
} // namespace

int GetPopupCode(const QStringList &args)
{
    // Past the last argument reads as an empty one, which ends the scan.
    auto arg = [&args](qsizetype i) { return i < args.size() ? args.at(i) : QString(); };
    qsizetype i = 1;
    for (;;) {
        const QString current = arg(i++);
        int code = 0;
        if (current.compare(QLatin1String("-popup"), Qt::CaseInsensitive) == 0
            && IniFile::parseInteger(arg(i), &code))
            return code;
        if (current.isEmpty())
            return 0;
    }
}

int GetPopupCode()
{
    return QCoreApplication::instance() ? GetPopupCode(QCoreApplication::arguments()) : 0;
}

int PopupCodeTab(int code)
{
    switch (code) {
    case PopupTopX:
        return 0;
    case PopupRunning:
        return 1;
    case PopupUninstall:
        return 2;
    default:
        return -1;
    }
}

void ApplyPopupCode(int code)
{
    const int tab = PopupCodeTab(code);
    if (tab >= 0 && tabSelector)
        tabSelector(tab);
}

void SetPopupTabSelector(std::function<void(int)> selectTab)
{
    tabSelector = std::move(selectTab);
}

OVCommandLineOptions ParseCommandLineOptions(const QStringList &args)
{
    OVCommandLineOptions o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        bool ok = false;
        if (a == QLatin1String("--version")) {
            o.version = true;
        } else if (a == QLatin1String("--list-installed")) {
            o.listInstalled = true;
        } else if (a == QLatin1String("--all")) {
            o.listAll = true;
        } else if (a == QLatin1String("--quit-after") && hasValue) {
            const int ms = args.at(++i).toInt(&ok);
            if (ok && ms >= 0)
                o.quitAfterMs = ms;
        } else if (a == QLatin1String("--broadcast-language")) {
            const uint lcid = hasValue ? args.at(++i).toUInt(&ok) : 0;
            if (ok && lcid <= 0xFFFF)
                o.broadcastLanguage = int(lcid);
            else
                o.broadcastBad = true;
        } else if (a == QLatin1String("--add-task") && i + 2 < args.size()) {
            o.addTasks.emplace_back(args.at(i + 1), args.at(i + 2));
            i += 2;
        } else if (a == QLatin1String("--select-tab") && hasValue) {
            const int tab = args.at(++i).toInt(&ok);
            if (ok)
                o.selectTab = tab;
        } else if (a == QLatin1String("--select-row") && hasValue) {
            const int row = args.at(++i).toInt(&ok);
            if (ok && row >= 0)
                o.selectRow = row;
        } else if (a == QLatin1String("--open") && hasValue) {
            o.openDialog = args.at(++i);
        } else if (a == QLatin1String("--screenshot") && hasValue) {
            o.screenshot = args.at(++i);
        }
    }
    return o;
}
