#include "tasks/Clock.h"

#include "platform/Clock.h"

namespace tasks {

quint32 tickCount()
{
    return platform::tickCount();
}

qint64 monotonicMs()
{
    return platform::monotonicMs();
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
