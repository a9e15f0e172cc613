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
