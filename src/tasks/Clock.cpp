#include "tasks/Clock.h"

#include <ctime>

namespace tasks {

quint32 tickCount()
{
    return quint32(quint64(monotonicMs()));
}

qint64 monotonicMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

quint32 divRoundHalfEven(quint64 numerator, quint64 denominator)
{
    quint64 q = numerator / denominator;
    const quint64 r = numerator % denominator;
    // Compare 2r with the denominator without overflowing.
    if (r > denominator - r || (r == denominator - r && (q & 1)))
        ++q;
    return q > 0xFFFFFFFFull ? 0xFFFFFFFFu : quint32(q);
}

} // namespace tasks
