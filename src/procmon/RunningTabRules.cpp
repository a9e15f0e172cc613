#include "procmon/RunningTabRules.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/TextFormat.h"
#include "procmon/Processes.h"

namespace procmon {

QString CpuText(quint32 Usage)
{
    return DelphiFormat(u"%.2d", {Usage});
}

QString MemoryText(quint64 WorkingSetBytes)
{
    return DelphiFormat(u"%3.0n", {double(WorkingSetBytes) / 1024.0});
}

QString StatusLineText(int Rows, bool HidingSystem, qint32 CpuUsage, int MemoryLoad)
{
    const QString except
        = HidingSystem ? OVGetText(QStringLiteral("String.ExceptSystemProcesses")) : QString();
    return OVFormatText(QStringLiteral("FormOVMain.lblRunningSysStatus.Caption"),
                        {Rows, except, CpuUsage, MemoryLoad});
}

QString HideSystemLinkKey(bool HidingSystem)
{
    return HidingSystem ? QStringLiteral("String.ShowAllProcesses")
                        : QStringLiteral("String.HideSystemProcesses");
}

namespace {
const quint32 kTagClasses[]
    = {ProcessPriority::Realtime, ProcessPriority::High,        ProcessPriority::AboveNormal,
       ProcessPriority::Normal,   ProcessPriority::BelowNormal, ProcessPriority::Idle};
}

quint32 PriorityClassOfTag(int Tag)
{
    return Tag >= 1 && Tag <= 6 ? kTagClasses[Tag - 1] : 0;
}

int TagOfPriorityClass(quint32 PriorityClass)
{
    for (int i = 0; i < 6; ++i)
        if (kTagClasses[i] == PriorityClass)
            return i + 1;
    return 0;
}

int CompareRows(int Column, const QString &TextA, const QString &TextB, const TProcessItem *A,
                const TProcessItem *B)
{
    switch (Column) {
    case ColCPU:
        return A && B ? CompareFloatOrder(true, A->CPUUsage, B->CPUUsage) : 0;
    case ColMemory:
        return A && B
            ? CompareFloatOrder(true, double(A->Memory.WorkingSetSize), double(B->Memory.WorkingSetSize))
            : 0;
    default:
        return CompareTextOrder(TextA, TextB, true);
    }
}

QString OneLine(const QString &Text)
{
    QString line = Text;
    for (QChar &c : line)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(0xFFFD);
    return line;
}

} // namespace procmon
