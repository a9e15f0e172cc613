#pragma once

#include <QtGlobal>

namespace platform {

// Milliseconds on a monotonic clock that starts with the system, for
// measuring intervals and for tick counts.
qint64 monotonicMs();

// The same count cut to 32 bits, wrapping like the tick counter that names
// agents and local files.
quint32 tickCount();

} // namespace platform
