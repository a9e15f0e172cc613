#include "procmon/SystemStatus.h"

#include "platform/ProcFs.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

qint32 roundedPercent(double busy, double total)
{
    const double value = std::nearbyint(busy * 100.0 / total); // halves to even
    if (!std::isfinite(value))
        return 0;
    return qint32(std::clamp(value, double(std::numeric_limits<qint32>::min()),
                             double(std::numeric_limits<qint32>::max())));
}

} // namespace

TSystemStatus::TSystemStatus(QString StatFile, QString MeminfoFile)
    : m_statFile(std::move(StatFile))
    , m_meminfoFile(std::move(MeminfoFile))
{
    platform::CpuTimes all;
    std::vector<platform::CpuTimes> cpus;
    if (platform::readSystemStat(QFile::encodeName(m_statFile).constData(), &all, &cpus) && !cpus.empty())
        m_count = quint32(cpus.size());
    m_prevTotal.assign(m_count + 1, 0.0);
    m_prevIdle.assign(m_count + 1, 0.0);
    m_usage.assign(m_count + 1, 0);
}

bool TSystemStatus::RefreshCPU()
{
    platform::CpuTimes all;
    std::vector<platform::CpuTimes> cpus;
    if (!platform::readSystemStat(QFile::encodeName(m_statFile).constData(), &all, &cpus))
        return false;
    if (m_count > 1 && cpus.size() < m_count)
        return false;
    // The kernel's own accounting: the machine line sums every processor's
    // time, so its growth is the elapsed time times the processor count.
    const double total0 = double(all.total());
    const double idle0 = double(all.idleAll());
    if (m_prevTotal[0] != 0) {
        const double total = total0 - m_prevTotal[0];
        if (total == 0)
            return false;
        m_usage[0] = roundedPercent(total - (idle0 - m_prevIdle[0]), total);
        if (m_count > 1) {
            for (quint32 i = 1; i <= m_count; ++i) {
                const platform::CpuTimes &cpu = cpus[i - 1];
                const double cpuTotal = double(cpu.total()) - m_prevTotal[i];
                if (cpuTotal == 0)
                    return false;
                m_usage[i] = roundedPercent(cpuTotal - (double(cpu.idleAll()) - m_prevIdle[i]), cpuTotal);
            }
        }
    }
    m_prevTotal[0] = total0;
    m_prevIdle[0] = idle0;
    if (m_count > 1) {
        for (quint32 i = 1; i <= m_count; ++i) {
            m_prevTotal[i] = double(cpus[i - 1].total());
            m_prevIdle[i] = double(cpus[i - 1].idleAll());
        }
    }
    return true;
}

bool TSystemStatus::RefreshMemory()
{
    quint64 total = 0, available = 0;
    if (!platform::readMeminfo(QFile::encodeName(m_meminfoFile).constData(), &total, &available))
        return false;
    m_physicalTotal = total;
    m_physicalAvailable = available;
    return true;
}

qint32 TSystemStatus::Usage(quint32 Index) const
{
    if (Index > m_count)
        Index = 0;
    return m_usage[Index];
}

int TSystemStatus::MemoryLoad(quint64 Total, quint64 Available)
{
    if (Total == 0)
        return 0;
    return int(std::nearbyint(100.0 - double(Available) * 100.0 / double(Total)));
}
