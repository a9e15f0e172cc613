#include "platform/Clock.h"

#include <ctime>

namespace platform {

qint64 monotonicMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

quint32 tickCount()
{
    return quint32(quint64(monotonicMs()));
}

} // namespace platform
