#pragma once

#include <QString>
#include <vector>

// Processor load, overall and per logical processor, and physical memory,
// sampled on demand. Main thread only.
class TSystemStatus
{
public:
    // The files are the system's; tests hand in fixtures.
    explicit TSystemStatus(QString StatFile = QStringLiteral("/proc/stat"),
                           QString MeminfoFile = QStringLiteral("/proc/meminfo"));

    // One CPU sample. The first only stores the counters, so every usage
    // stays 0 until the second. False (previous figures kept) when the file
    // cannot be read, lists fewer processors than at creation, or no time
    // passed; in the last case the usages computed before the empty one stay.
    bool RefreshCPU();
    // One memory sample; false (previous figures kept) when it cannot be read.
    bool RefreshMemory();

    // Usage in percent: index 0 the whole machine, i processor i; an index
    // above the processor count gives index 0. Results are not clamped, so a
    // counter that ran backwards shows as a negative value or one above 100.
    qint32 Usage(quint32 Index) const;
    quint32 ProcessorCount() const { return m_count; }
    quint64 PhysicalTotal() const { return m_physicalTotal; }
    quint64 PhysicalAvailable() const { return m_physicalAvailable; }

    // round(100 - Available * 100 / Total), halves to even; 0 for a zero total.
    static int MemoryLoad(quint64 Total, quint64 Available);

private:
    QString m_statFile;
    QString m_meminfoFile;
    quint32 m_count = 1;
    std::vector<double> m_prevTotal;
    std::vector<double> m_prevIdle;
    std::vector<qint32> m_usage;
    quint64 m_physicalTotal = 0;
    quint64 m_physicalAvailable = 0;
};
