#pragma once

#include <QtGlobal>

namespace tasks {

// Milliseconds since the system started, wrapping at 32 bits like the
// tick counter that names agents and local files.
quint32 tickCount();

// Milliseconds on a monotonic clock, for measuring intervals.
qint64 monotonicMs();

// numerator / denominator rounded to the nearest integer, a half to the even
// neighbour, clamped to 32 bits. denominator must be positive.
quint32 divRoundHalfEven(quint64 numerator, quint64 denominator);

} // namespace tasks
